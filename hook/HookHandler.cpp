#include "HookHandler.h"

#include <mutex>
#include <new>

#include "HookProcedures.h"
#include "ImportHook.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

// What is hooked in each debugger module, and the lines that say so.
struct HookedModuleInfo
{
    const char* moduleName;
    const char* functionName;
    void* replacement;
    const char* loadedMessage;
    const char* installingMessage;
    const char* removingMessage;
};

const HookedModuleInfo& Info(HookedModule module)
{
    static const HookedModuleInfo kInfo[] = {
        {"DEVDBG.PKG", "LoadLibraryA", reinterpret_cast<void*>(&DevDbgLoadLibraryA),
         "DEVDBG.PKG is loaded. Trying to hook it...\n", nullptr, "Removing LoadLibraryA(DevDbg.pkg) hook...\n"},
        {"TLLOC.DLL", "LoadLibraryA", reinterpret_cast<void*>(&TlLocLoadLibraryA),
         "TLLOC.DLL is loaded. Trying to hook it...\n", "Installing LoadLibraryA(TlLoc.dll) hook...\n",
         "Removing LoadLibraryA(TlLoc.dll) hook...\n"},
        {"DM.DLL", "WaitForDebugEvent", reinterpret_cast<void*>(&DmWaitForDebugEvent),
         "DM.DLL is loaded. Trying to hook it...\n", "Installing WaitForDebugEvent(Dm.dll) hook...\n",
         "Removing WaitForDebugEvent(Dm.dll) hook...\n"},
    };
    return kInfo[module];
}

// The debuggers' modules import from KERNEL32 under this name, in any case.
const char kKernel32[] = "KERNEL32.DLL";

// Created by the library's static construction, before its entry point
// runs, and destroyed after its process-detach notification.
CHookHandler g_hookHandler;

} // namespace

CHookHandler& GetHookHandler()
{
    return g_hookHandler;
}

CHookHandler::CHookHandler()
    : m_initialized(false),
      m_hooks{},
      m_handler(nullptr),
      m_handlerCalls(0),
      m_handlerIdle(CreateEventA(nullptr, TRUE, TRUE, nullptr))
{
    CTraceScope scope("CHookHandler::CHookHandler()\n", 0);
}

CHookHandler::~CHookHandler()
{
    CTraceScope scope("CHookHandler::~CHookHandler()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    TraceMessage(TRACE_INFO, 0, "%s", "Removing hooks...\n");
    UninstallHooks();
    m_initialized = false;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

bool CHookHandler::Initialize()
{
    CTraceScope scope("CHookHandler::Initialize()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (m_initialized)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Object is already initialized.\n");
        return true;
    }
    InstallHooks();
    m_initialized = true;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CHookHandler::StoreHookPtr(DWORD hookId, HookHandlerProc handler)
{
    CTraceScope scope("CHookHandler::SetHookPtr()\n", 0);
    // The C runtime writes %p zero-padded to the pointer's width: eight
    // digits in the 32-bit build, as a %08p would.
    TraceMessage(TRACE_INFO, 0, "HookId: %u  HookPtr: %p\n", static_cast<unsigned>(hookId),
                 reinterpret_cast<void*>(handler));
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (!m_initialized)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Object is not yet initialized.\n");
        return false;
    }
    if (hookId == kHookIdWaitForDebugEvent)
        m_handler = handler;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CHookHandler::SetHookPtr(DWORD hookId, HookHandlerProc handler)
{
    if (!StoreHookPtr(hookId, handler))
        return false;
    // A call of the old handler may still run; its module may be unloaded
    // once this returns. The wait is bounded: a handler that does not come
    // back must not hold the caller (the IDE's GUI thread) for ever.
    if (hookId == kHookIdWaitForDebugEvent &&
        WaitForSingleObject(m_handlerIdle.Get(), kHandlerDrainTimeoutMs) == WAIT_TIMEOUT)
        TraceMessage(TRACE_WARNING, 0, "%s", "Handler call still running.\n");
    return true;
}

HookHandlerProc CHookHandler::BeginHandlerCall()
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    if (m_handler != nullptr && m_handlerCalls++ == 0)
        ResetEvent(m_handlerIdle.Get());
    return m_handler;
}

void CHookHandler::EndHandlerCall()
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    if (--m_handlerCalls == 0)
        SetEvent(m_handlerIdle.Get());
}

void* CHookHandler::GetSavedAddress(HookedModule module) const
{
    return m_hooks[module] != nullptr ? m_hooks[module]->GetSavedAddress() : nullptr;
}

void CHookHandler::InstallHooks()
{
    CTraceScope scope("CHookHandler::InstallHooks()\n", 0);
    for (HookedModule module : {HOOKED_DM, HOOKED_TLLOC, HOOKED_DEVDBG})
    {
        HMODULE handle = GetModuleHandleA(Info(module).moduleName);
        if (handle == nullptr)
            continue;
        TraceMessage(TRACE_INFO, 0, "%s", Info(module).loadedMessage);
        InstallHook(module, handle);
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CHookHandler::UninstallHooks()
{
    CTraceScope scope("CHookHandler::UninstallHooks()\n", 0);
    for (HookedModule module : {HOOKED_DEVDBG, HOOKED_TLLOC, HOOKED_DM})
        RemoveHook(module);
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CHookHandler::UpdateTlLocHook()
{
    CTraceScope scope("CHookHandler::UpdateTlLocHook()\n", 0);
    ReplaceHook(HOOKED_TLLOC);
}

void CHookHandler::UpdateDmHook()
{
    CTraceScope scope("CHookHandler::UpdateDmHook()\n", 0);
    ReplaceHook(HOOKED_DM);
}

void CHookHandler::ReplaceHook(HookedModule module)
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    RemoveHook(module);
    TraceMessage(TRACE_INFO, 0, "%s", Info(module).installingMessage);
    if (InstallHook(module, GetModuleHandleA(Info(module).moduleName)))
        TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CHookHandler::RemoveHook(HookedModule module)
{
    CImportHook*& hook = m_hooks[module];
    if (hook == nullptr)
        return;
    TraceMessage(TRACE_INFO, 0, "%s", Info(module).removingMessage);
    hook->Detach();
    delete hook;
    hook = nullptr;
}

bool CHookHandler::InstallHook(HookedModule module, HMODULE handle)
{
    const HookedModuleInfo& info = Info(module);
    CImportHook*& hook = m_hooks[module];
    hook = new (std::nothrow) CImportHook(handle, kKernel32, info.functionName, info.replacement);
    if (hook == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Memory allocation failed.\n");
        return false;
    }
    if (!hook->IsInstalled())
    {
        TraceMessage(TRACE_ERROR, 0, "Hook cannot be installed. Error: %u\n", static_cast<unsigned>(hook->GetError()));
        delete hook;
        hook = nullptr;
        return false;
    }
    return true;
}
