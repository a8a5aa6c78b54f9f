// Runs CHookLoader from whatever directory this program was copied to and
// reports in its exit code: bit 0 Init succeeded, bit 1 a qx3trap.dll is
// mapped afterwards, bit 2 SetHookHandler succeeded.
// With the argument "twice" it calls Init twice instead and reports: bit 0
// both calls succeeded, bit 1 the library's Init ran once (asked through its
// export InitCalls), bit 2 the library was loaded once (one FreeLibrary
// unmaps it).
#include <windows.h>

#include <cstring>

#include "HookLoader.h"

namespace
{

int InitTwice()
{
    CHookLoader loader;
    int outcome = 0;
    if (loader.Init() && loader.Init())
        outcome |= 1;
    HMODULE library = GetModuleHandleA(GetHookDllName().c_str());
    if (library == nullptr)
        return outcome;
    typedef LONG(WINAPI * InitCallsProc)();
    const InitCallsProc initCalls =
        reinterpret_cast<InitCallsProc>(reinterpret_cast<void*>(GetProcAddress(library, "InitCalls")));
    if (initCalls != nullptr && initCalls() == 1)
        outcome |= 2;
    FreeLibrary(library);
    if (GetModuleHandleA(GetHookDllName().c_str()) == nullptr)
        outcome |= 4;
    return outcome;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "twice") == 0)
        return InitTwice();
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
