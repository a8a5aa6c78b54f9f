// hook_bench.exe: the cost of one debug event through qx3trap's hook, with a
// handler that returns at once, against the same debug session without hooks;
// and, apart from the debuggee's own pace, the cost of one call through
// DM.DLL's WaitForDebugEvent slot that receives no event. Rounds alternate
// between hooked and plain (ABBA), each with freshly loaded debugger modules
// and library, so that both see the same conditions.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "DebuggerPackage.h"
#include "ImportDirectory.h"
#include "TestSupport.h"
#include "qx3trap.h"

namespace
{

const int kRounds = 16;
const int kCalls = 20000;

BOOL WINAPI ReturnAtOnce(LPDEBUG_EVENT, DWORD)
{
    return TRUE;
}

typedef BOOL(WINAPI* WaitForDebugEventProc)(LPDEBUG_EVENT, DWORD);

// What DM.DLL calls when it calls WaitForDebugEvent: its import slot's value.
WaitForDebugEventProc DmWaitSlot()
{
    HMODULE dm = GetModuleHandleA("DM.DLL");
    MODULEINFO module = {};
    if (dm == nullptr || !GetModuleInformation(GetCurrentProcess(), dm, &module, sizeof(module)))
        return nullptr;
    const uint8_t* base = static_cast<const uint8_t*>(module.lpBaseOfDll);
    CImportDirectory imports;
    uint32_t descriptor = 0;
    uint32_t slot = 0;
    if (!imports.Open(base, module.SizeOfImage) || !imports.FindDescriptor("KERNEL32.DLL", descriptor) ||
        !imports.FindSlot(descriptor, "WaitForDebugEvent", slot) || slot == 0)
        return nullptr;
    return *reinterpret_cast<const WaitForDebugEventProc*>(base + slot);
}

struct RoundResult
{
    double msPerEvent;
    double usPerEmptyCall;
};

// One session with the debugger modules loaded for it, hooked when asked.
bool RunRound(bool hooked, RoundResult& out)
{
    HMODULE trap = nullptr;
    bool ran = false;
    {
        CDebuggerPackage package;
        if (!package.Load(ExeDirectory() + "DEVDBG.PKG") || !package.LoadDebugger())
            return false;
        if (hooked)
        {
            HookInitProc init = nullptr;
            HookSetHookProc setHook = nullptr;
            trap = LoadLibraryA((ExeDirectory() + "qx3trap.dll").c_str());
            if (trap == nullptr || !BindExport(trap, "Init", init) || !BindExport(trap, "SetHook", setHook) ||
                !init() || !setHook(kHookIdWaitForDebugEvent, &ReturnAtOnce))
                return false;
        }

        DEBUG_SESSION_RESULT result = {};
        const double started = NowMs();
        ran = package.Debug("\"" + ExeDirectory() + "vc6_debuggee.exe\" version.dll psapi.dll", 1000, result) &&
              result.events != 0;
        out.msPerEvent = (NowMs() - started) / (result.events != 0 ? result.events : 1);

        // Without a debuggee the wait returns at once, without an event.
        const WaitForDebugEventProc wait = DmWaitSlot();
        DEBUG_EVENT event;
        const double callsStarted = NowMs();
        for (int call = 0; wait != nullptr && call < kCalls; ++call)
            wait(&event, 0);
        out.usPerEmptyCall = (NowMs() - callsStarted) * 1000.0 / kCalls;
        ran = ran && wait != nullptr;
    }
    // The hooked modules are gone now; the library their slots led into may go too.
    if (trap != nullptr)
        FreeLibrary(trap);
    return ran;
}

} // namespace

int main()
{
    std::vector<double> plainEvent, hookedEvent, plainCall, hookedCall;
    for (int round = 0; round < kRounds; ++round)
    {
        for (bool hooked : {round % 2 == 0, round % 2 != 0})
        {
            RoundResult result = {};
            if (!RunRound(hooked, result))
            {
                std::printf("debug session failed\n");
                return 1;
            }
            (hooked ? hookedEvent : plainEvent).push_back(result.msPerEvent);
            (hooked ? hookedCall : plainCall).push_back(result.usPerEmptyCall);
        }
    }
    const double plainMs = Median(plainEvent);
    const double hookedMs = Median(hookedEvent);
    std::printf("debug event, session without hooks:              %8.3f ms (median of %d sessions)\n", plainMs,
                kRounds);
    std::printf("debug event through the hook, handler returns:   %8.3f ms\n", hookedMs);
    std::printf("ratio hooked / plain:                             %8.3f\n", plainMs > 0 ? hookedMs / plainMs : 0.0);
    std::printf("WaitForDebugEvent through DM.DLL's slot, no event: plain %.3f us, hooked %.3f us\n",
                Median(plainCall), Median(hookedCall));
    return 0;
}
