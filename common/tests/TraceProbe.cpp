// A DLL that links its own copy of the trace library, so that tests can check
// the per-module start-up and that modules never share trace state.
#include <windows.h>

#include "ModuleTrace.h"
#include "Trace.h"
#include "TraceScope.h"

extern const char g_ModuleLogName[] = "trace_probe.log";

namespace
{
HMODULE g_self = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) void ProbeInit()
{
    InitModuleTrace(g_self);
}

extern "C" __declspec(dllexport) void ProbeTrace(const char* text)
{
    CTraceScope scope("ProbeTrace()\n", 0);
    TraceMessage(TRACE_INFO, 0, "%s", text);
}

extern "C" __declspec(dllexport) int ProbeIsEnabled()
{
    return TraceIsEnabled();
}
