// DllRegisterServer and DllUnregisterServer: the class entries first, then the type library.
#include <windows.h>

#include "server/module_state.h"
#include "server/typelib_registration.h"

extern "C" HRESULT WINAPI DllRegisterServer(void) {
    HRESULT hr = zavsrv::UpdateClassRegistrations(TRUE);
    if (FAILED(hr)) {
        return hr;
    }
    return zavsrv::RegisterServerTypeLib(zavsrv::ModuleInstance());
}

extern "C" HRESULT WINAPI DllUnregisterServer(void) {
    HRESULT hr = zavsrv::UpdateClassRegistrations(FALSE);
    if (FAILED(hr)) {
        return hr;
    }
    hr = zavsrv::UnregisterServerTypeLib(zavsrv::ModuleInstance());
    return FAILED(hr) ? hr : S_OK;
}
