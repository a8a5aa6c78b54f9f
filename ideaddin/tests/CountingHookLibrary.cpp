// A hook library that counts the calls of its Init, copied as qx3trap.dll
// beside a loader under test.
#include <windows.h>

namespace
{

volatile LONG g_initCalls = 0;

} // namespace

// Exported undecorated through counting_qx3trap.def.
extern "C" BOOL WINAPI Init()
{
    InterlockedIncrement(&g_initCalls);
    return TRUE;
}

extern "C" BOOL WINAPI SetHook(DWORD, void*)
{
    return TRUE;
}

extern "C" LONG WINAPI InitCalls()
{
    return g_initCalls;
}
