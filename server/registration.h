// Self-registration (DllRegisterServer and DllUnregisterServer are defined with it), and the
// registration procedure of CZAVImageOCX that the module's class table runs.
#pragma once

#include <windows.h>

namespace zavsrv {

// The registry entries of CZAVImageOCX under HKEY_CLASSES_ROOT: writes (reg true) or removes them.
// Returns the first failure; entries written or removed before it stay so.
HRESULT UpdateZAVImageOCXRegistry(BOOL reg);

}  // namespace zavsrv
