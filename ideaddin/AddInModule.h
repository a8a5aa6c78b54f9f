#pragma once
#include <windows.h>

// The add-in's own module, whose directory holds qx3.ini, symsrv.ini and
// qx3trap.dll. It is the module that holds this code (qx3ide.dll, or a test
// program that links the add-in's code) unless another one was named.
HMODULE GetAddInModule();

// Names the add-in's module; null goes back to the module that holds this code.
void SetAddInModule(HMODULE module);
