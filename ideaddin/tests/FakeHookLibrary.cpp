// A hook library that lacks the export "SetHook", copied as qx3trap.dll
// beside a loader under test.
#include <windows.h>

// Exported undecorated through fake_qx3trap.def.
extern "C" BOOL WINAPI Init()
{
    return TRUE;
}
