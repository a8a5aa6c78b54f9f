#pragma once
#include <windows.h>

#include "CriticalSection.h"
#include "ScopedHandle.h"
#include "qx3trap.h"

class CImportHook;

// The debugger modules whose imports are redirected.
enum HookedModule
{
    HOOKED_DEVDBG, // DEVDBG.PKG: LoadLibraryA
    HOOKED_TLLOC,  // TLLOC.DLL: LoadLibraryA
    HOOKED_DM,     // DM.DLL: WaitForDebugEvent
    HOOKED_MODULE_COUNT
};

// All state of qx3trap: the import hooks of the three debugger modules and
// the handler under hook id 1, behind one lock that its owning thread may
// take again. The debugger thread does not hold it while it waits for a
// debug event or runs the handler, so SetHook never waits for either. One
// instance per process, reached through GetHookHandler().
class CHookHandler
{
public:
    CHookHandler();
    // Detaches and drops every hook; the slots keep leading to the
    // replacement procedures.
    ~CHookHandler();
    CHookHandler(const CHookHandler&) = delete;
    CHookHandler& operator=(const CHookHandler&) = delete;

    // Hooks those of DM.DLL, TLLOC.DLL and DEVDBG.PKG that are loaded now;
    // later calls change nothing. Always true.
    bool Initialize();
    // Sets, replaces or (null) removes the handler of hook id 1; other ids
    // are ignored. False before Initialize. A handler call still running on
    // the debugger thread is waited for, kHandlerDrainTimeoutMs at most, so
    // that the old handler's module may go once this returns.
    bool SetHookPtr(DWORD hookId, HookHandlerProc handler);

    // For DmWaitForDebugEvent: the handler to call now (null: none), counted
    // as running until EndHandlerCall. Neither holds the lock during the call.
    HookHandlerProc BeginHandlerCall();
    void EndHandlerCall();

    static constexpr DWORD kHandlerDrainTimeoutMs = 5000;

    // For the replacement procedures: the LoadLibraryA ones hold the lock
    // while they pass the call on and re-hook, DmWaitForDebugEvent only
    // while it reads its pass-on address.
    CCriticalSection& GetLock() { return m_lock; }
    // The address the module's slot held before it was redirected; null
    // when the module has no installed hook.
    void* GetSavedAddress(HookedModule module) const;
    HookHandlerProc GetHandler() const { return m_handler; }
    // Replace the TLLOC.DLL and DM.DLL hooks for a newly loaded copy.
    void UpdateTlLocHook();
    void UpdateDmHook();

private:
    // SetHookPtr's part under the lock.
    bool StoreHookPtr(DWORD hookId, HookHandlerProc handler);
    void InstallHooks();
    void UninstallHooks();
    // Drops the module's hook without writing to its slot, whose image may be gone.
    void RemoveHook(HookedModule module);
    // Hooks the loaded module of that kind; traces and forgets a hook that
    // cannot be installed. True when installed.
    bool InstallHook(HookedModule module, HMODULE handle);
    // Drops the module's hook and hooks the copy loaded now.
    void ReplaceHook(HookedModule module);

    CCriticalSection m_lock;
    bool m_initialized;
    // Indexed by HookedModule: DEVDBG.PKG, TLLOC.DLL, DM.DLL; each null or
    // an installed hook owned here.
    CImportHook* m_hooks[HOOKED_MODULE_COUNT];
    HookHandlerProc m_handler;
    // Handler calls running, and an event set while there are none.
    LONG m_handlerCalls;
    CScopedHandle m_handlerIdle;
};

// The process's one hook handler, created when the library is loaded.
CHookHandler& GetHookHandler();
