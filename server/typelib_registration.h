// Registering the server's type library with the platform.
#pragma once

#include <windows.h>

namespace zavsrv {

// Registers the type library under the full path of the file it was loaded from, with that file's
// folder as the help directory.
HRESULT RegisterServerTypeLib(HINSTANCE module);

// Unregisters exactly the identifier, version, locale and system kind of the loaded library.
HRESULT UnregisterServerTypeLib(HINSTANCE module);

}  // namespace zavsrv
