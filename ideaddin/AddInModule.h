#pragma once
#include <windows.h>

// The add-in's own module, whose directory holds qx3.ini and symsrv.ini: the
// module that holds this code (qx3ide.dll, or a test program that links the
// add-in's code) unless another one was named. qx3trap.dll is always looked
// for beside the module that holds the code (GetHookDllName).
HMODULE GetAddInModule();

// Names the add-in's module; null goes back to the module that holds this code.
void SetAddInModule(HMODULE module);
