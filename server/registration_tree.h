// The registry entries of CZAVImageOCX under HKEY_CLASSES_ROOT, and the walks that write and
// remove them.
#pragma once

#include <windows.h>

namespace zavsrv {

// The class's registration procedure: writes (reg true) or removes the entries. Returns the first
// failure; entries written or removed before it stay so.
HRESULT UpdateZAVImageOCXRegistry(BOOL reg);

// Deletes the key name under parent with all its subkeys. A key that is not there counts as
// deleted. Returns a Win32 error code.
LONG DeleteKeyTree(HKEY parent, const WCHAR *name);

}  // namespace zavsrv
