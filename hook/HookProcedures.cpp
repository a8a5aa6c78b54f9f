#include "HookProcedures.h"

#include <mutex>

#include "HookHandler.h"
#include "PathSplit.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

typedef HMODULE(WINAPI* LoadLibraryAProc)(LPCSTR);
typedef BOOL(WINAPI* WaitForDebugEventProc)(LPDEBUG_EVENT, DWORD);

// Where a replacement passes its call on: the address its module's slot held
// before. Without a record (a re-hook that failed after the old record was
// dropped, a failed protection restore) it is the real function, looked up
// in KERNEL32 by name; never the replacement itself.
void* PassOnAddress(HookedModule module, void* replacement, const char* functionName)
{
    void* saved = GetHookHandler().GetSavedAddress(module);
    if (saved != nullptr && saved != replacement)
        return saved;
    HMODULE kernel32 = GetModuleHandleA("KERNEL32.DLL");
    return kernel32 != nullptr ? reinterpret_cast<void*>(GetProcAddress(kernel32, functionName)) : nullptr;
}

// Gives the thread the last error of the real function when the replacement
// returns, after its trace scope has closed: writing trace lines changes the
// last error, and the caller may ask why a load or a wait failed.
class CLastErrorKeeper
{
public:
    ~CLastErrorKeeper() { SetLastError(m_error); }
    void Keep(DWORD error) { m_error = error; }

private:
    DWORD m_error = ERROR_SUCCESS;
};

// A LoadLibraryA replacement: which hook it belongs to, what it traces, and
// which module's hook it renews when that module is loaded through it.
struct LoadLibraryHook
{
    HookedModule module;
    void* replacement;
    const char* tracedWithName;
    const char* tracedWithoutName;
    const char* followedFileName;
    void (CHookHandler::*follow)();
};

HMODULE LoadAndFollow(const LoadLibraryHook& hook, LPCSTR fileName, CLastErrorKeeper& lastError)
{
    CHookHandler& handler = GetHookHandler();
    std::lock_guard<CCriticalSection> lock(handler.GetLock());
    LoadLibraryAProc load =
        reinterpret_cast<LoadLibraryAProc>(PassOnAddress(hook.module, hook.replacement, "LoadLibraryA"));
    HMODULE loaded = nullptr;
    DWORD error = ERROR_PROC_NOT_FOUND;
    if (load != nullptr)
    {
        loaded = load(fileName);
        error = GetLastError();
    }

    if (fileName != nullptr)
        TraceMessage(TRACE_INFO, 0, hook.tracedWithName, fileName, reinterpret_cast<ULONG_PTR>(loaded));
    else
        TraceMessage(TRACE_INFO, 0, hook.tracedWithoutName, reinterpret_cast<ULONG_PTR>(loaded));
    if (loaded != nullptr && fileName != nullptr)
    {
        const PathParts parts = SplitPath(fileName);
        if (EqualNoCase(parts.fname + parts.ext, hook.followedFileName))
            (handler.*hook.follow)();
    }
    lastError.Keep(error);
    return loaded;
}

} // namespace

HMODULE WINAPI DevDbgLoadLibraryA(LPCSTR fileName)
{
    CLastErrorKeeper lastError;
    CTraceScope scope("DevDbgLoadLibraryA()\n", 0);
    static const LoadLibraryHook kHook = {HOOKED_DEVDBG,
                                          reinterpret_cast<void*>(&DevDbgLoadLibraryA),
                                          "LoadLibraryA(DevDbg.pkg): pFileName=%s RetValue=%08Ix\n",
                                          "LoadLibraryA(DevDbg.pkg): pFileName=0 RetValue=%08Ix\n",
                                          "tlloc.dll",
                                          &CHookHandler::UpdateTlLocHook};
    return LoadAndFollow(kHook, fileName, lastError);
}

HMODULE WINAPI TlLocLoadLibraryA(LPCSTR fileName)
{
    CLastErrorKeeper lastError;
    CTraceScope scope("TlLocLoadLibraryA()\n", 0);
    static const LoadLibraryHook kHook = {HOOKED_TLLOC,
                                          reinterpret_cast<void*>(&TlLocLoadLibraryA),
                                          "LoadLibraryA(TlLoc.dll): pFileName=%s RetValue=%08Ix\n",
                                          "LoadLibraryA(TlLoc.dll): pFileName=0 RetValue=%08Ix\n",
                                          "dm.dll",
                                          &CHookHandler::UpdateDmHook};
    return LoadAndFollow(kHook, fileName, lastError);
}

BOOL WINAPI DmWaitForDebugEvent(LPDEBUG_EVENT debugEvent, DWORD timeout)
{
    CLastErrorKeeper lastError;
    CTraceScope scope("DmWaitForDebugEvent()\n", 0);
    CHookHandler& handler = GetHookHandler();
    // The lock only while the pass-on address is read: the wait (up to the
    // debugger's time-out) and the handler (a whole symbol request) run
    // without it, so that SetHook and the other hooks never wait for them.
    WaitForDebugEventProc wait = nullptr;
    {
        std::lock_guard<CCriticalSection> lock(handler.GetLock());
        wait = reinterpret_cast<WaitForDebugEventProc>(
            PassOnAddress(HOOKED_DM, reinterpret_cast<void*>(&DmWaitForDebugEvent), "WaitForDebugEvent"));
    }
    BOOL received = FALSE;
    DWORD error = ERROR_PROC_NOT_FOUND;
    if (wait != nullptr)
    {
        received = wait(debugEvent, timeout);
        error = GetLastError();
    }

    // Taken after the wait: a handler removed meanwhile is not called.
    const HookHandlerProc eventHandler = received ? handler.BeginHandlerCall() : handler.GetHandler();
    TraceMessage(TRACE_INFO, 0, "WFDE: pDebugEvent=%p Timeout=%u RetValue=%u Handler=%p\n",
                 static_cast<void*>(debugEvent), static_cast<unsigned>(timeout), static_cast<unsigned>(received),
                 reinterpret_cast<void*>(eventHandler));
    if (received && eventHandler != nullptr)
    {
        eventHandler(debugEvent, timeout);
        handler.EndHandlerCall();
    }
    // A time-out is told from a failure by the last error (121, or 258).
    lastError.Keep(error);
    return received;
}
