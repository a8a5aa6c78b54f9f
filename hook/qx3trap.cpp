// qx3trap.dll: entry point and exports of the debugger hook library.
#include <windows.h>

#include "HookHandler.h"
#include "ModuleTrace.h"
#include "Trace.h"
#include "TraceScope.h"
#include "qx3trap.h"

extern const char g_ModuleLogName[] = "qx3trap.log";

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        InitModuleTrace(instance);
        TraceMessage(TRACE_INFO, 0, "%s", "DllMain(DLL_PROCESS_ATTACH)\n");
        DisableThreadLibraryCalls(instance);
    }
    else if (reason == DLL_PROCESS_DETACH)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "DllMain(DLL_PROCESS_DETACH)\n");
    }
    return TRUE;
}

// Exported undecorated through qx3trap.def.
extern "C" BOOL WINAPI Init()
{
    CTraceScope scope("Init()\n", 0);
    return GetHookHandler().Initialize() ? TRUE : FALSE;
}

extern "C" BOOL WINAPI SetHook(DWORD hookId, HookHandlerProc handler)
{
    CTraceScope scope("SetHook()\n", 0);
    TraceMessage(TRACE_INFO, 0, "HookId: %u  HookPtr: %p\n", static_cast<unsigned>(hookId),
                 reinterpret_cast<void*>(handler));
    return GetHookHandler().SetHookPtr(hookId, handler) ? TRUE : FALSE;
}
