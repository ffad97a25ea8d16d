// The state of the loaded module that the rest of the server reads: its handle, its lock count, the
// class table's registration procedures and the cached type information.
#pragma once

#include <oaidl.h>
#include <windows.h>

namespace zavsrv {

// Counts live component objects, server locks and references to the class object held outside
// the module. Changed atomically; every unlock undoes a lock taken before it, so the count never
// goes below zero (an unlock of the server without a server lock is ignored by the class object).
void LockModule();
void UnlockModule();
LONG ModuleLockCount();

HINSTANCE ModuleInstance();

// Runs the registration procedure of every class in the class table: writes (reg true) or removes
// their registry entries. The first failure ends it.
HRESULT UpdateClassRegistrations(BOOL reg);

// The type information of CZAVImageOCX from the registered type library (by its identifier,
// version 1.0, locale 0), loaded on first success and kept until the module unloads. *ppTI gets a
// new reference, or null together with the loading error.
HRESULT GetClassTypeInfo(ITypeInfo **ppTI);

}  // namespace zavsrv
