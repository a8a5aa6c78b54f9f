#pragma once
#include <windows.h>

// Registration of the type library that a module carries as its resource
// TYPELIB 1, found by the module's own path.

// Registers the library (and with it the interface entries of its dual and
// automation interfaces). The result of the first failing step.
HRESULT RegisterModuleTypeLib(HMODULE module);

// Removes the library's registration, named by the identity, version, locale
// and platform the library itself records. The result of the first failing
// step; HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) where the system's
// oleaut32.dll has no UnRegisterTypeLib.
HRESULT UnregisterModuleTypeLib(HMODULE module);
