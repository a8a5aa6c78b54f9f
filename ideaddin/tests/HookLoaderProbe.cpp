// Runs CHookLoader from whatever directory this program was copied to and
// reports in its exit code: bit 0 Init succeeded, bit 1 a qx3trap.dll is
// mapped afterwards, bit 2 SetHookHandler succeeded.
#include <windows.h>

#include "HookLoader.h"

int main()
{
    CHookLoader loader;
    int outcome = 0;
    if (loader.Init())
        outcome |= 1;
    if (GetModuleHandleA(GetHookDllName().c_str()) != nullptr)
        outcome |= 2;
    if (loader.SetHookHandler(kHookIdWaitForDebugEvent, nullptr))
        outcome |= 4;
    return outcome;
}
