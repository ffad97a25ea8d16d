// What the test groups of the Windows host share: the interface header, the test groups and a
// handle on the server module loaded by path.
#pragma once

#include <ocidl.h>
#include <ole2.h>
#include <windows.h>

#include "server/ZAVImage_h.h"

namespace zavtest {

// The class identifier and library identifier as the registry writes them.
inline constexpr const wchar_t *kClsidString = L"{2E1CAF41-7450-4FBF-9A62-F3D8EDAB91B6}";
inline constexpr const wchar_t *kLibidString = L"{85FC9E0C-04B2-46F5-AA9A-81D3F4074EA6}";

// The server's exports, reached through LoadLibrary and GetProcAddress.
struct ServerExports {
    HMODULE module = nullptr;
    HRESULT(WINAPI *canUnloadNow)() = nullptr;
    HRESULT(WINAPI *getClassObject)(REFCLSID, REFIID, void **) = nullptr;
    HRESULT(WINAPI *registerServer)() = nullptr;
    HRESULT(WINAPI *unregisterServer)() = nullptr;

    // False (and a failed check) when the module or an export cannot be found.
    bool Load(const wchar_t *dllPath);
};

// Test groups: each returns after running all its checks; failures are counted by host_check.
void RunExportsGroup(const wchar_t *dllPath);                           // nothing registered yet
void RunRegistryGroup(const wchar_t *dllPath, const wchar_t *tlbPath);  // registered
void RunCreationGroup(const wchar_t *dllPath);                          // registered, through COM
void RunTypeLibGroup(const wchar_t *dllPath, const wchar_t *tlbPath);   // registered
void RunOperationsGroup();                                              // registered, through COM
void RunNamesGroup(const wchar_t *folder);                              // registered, through COM
void RunSequenceGroup(const wchar_t *input, const wchar_t *jpegOut, const wchar_t *bmpOut);
void RunUnregisteredGroup(const wchar_t *dllPath);  // after unregistration
void RunPartialUnregisterGroup(const wchar_t *dllPath);

}  // namespace zavtest
