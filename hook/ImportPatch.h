#pragma once
#include <windows.h>

// Redirection of one import of a module mapped in this process: the module's
// import address table slot for a function is overwritten with a replacement.
// Each function reports its outcome through the thread's last-error value as
// well as its result: 0, 87 (ERROR_INVALID_PARAMETER: bad arguments or a
// damaged image), 6 (ERROR_INVALID_HANDLE: a module in the shared upper half
// of the address space on the Windows 9x family) or the protection change's code.

// One entry of an import address table: the address the loader filled in.
using ImportSlot = void*;

// Finds the import of functionName from dllName in the module at moduleBase
// (both names compared ignoring ASCII letter case; only the first descriptor
// for the DLL and the first import by that name count), stores the slot's
// current value in *savedAddress and writes replacement into the slot. TRUE
// with *savedAddress null when the module does not import the function by
// name. slotAddress is optional. Every read stays inside the image: damaged
// headers, tables or names outside SizeOfImage, an import name table RVA of 0
// and images of the other pointer width are refused with 87.
BOOL PatchImportByName(HMODULE moduleBase, const char* dllName, const char* functionName, void* replacement,
                       void** savedAddress, ImportSlot** slotAddress);

// The module's first import descriptor for dllName (ASCII case ignored), or
// TRUE with null when the module imports nothing from it.
BOOL FindImportDescriptor(HMODULE moduleBase, const char* dllName, IMAGE_IMPORT_DESCRIPTOR** descriptor);

// Stores value into the slot as one aligned pointer-sized write. A slot on a
// page that is not writable is made writable for the write, only that page
// and with its execute right kept, and then put back as it was.
BOOL WriteImportSlot(ImportSlot* slot, void* value);

// Whether the system is of the Windows NT family; asked once, then cached.
BOOL IsWindowsNT();
