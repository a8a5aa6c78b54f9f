// TLLOC.DLL stand-in: the debugger's local transport layer, which loads the
// debug monitor DM.DLL and carries the session calls to it.
#include <windows.h>

#include "DebuggerModules.h"
#include "LoadedModule.h"

namespace
{
CLoadedModule g_dm;
DebuggerOutputProc g_output = nullptr;
void* g_outputContext = nullptr;
} // namespace

extern "C" BOOL WINAPI TlLoadDm(LPCSTR dmName)
{
    if (!g_dm.Load(dmName))
        return FALSE;
    g_dm.Call<DevDbgSetOutputProc>("DmSetOutput", g_output, g_outputContext);
    return TRUE;
}

extern "C" BOOL WINAPI TlSetOutput(DebuggerOutputProc output, void* context)
{
    g_output = output;
    g_outputContext = context;
    if (g_dm.Get() != nullptr)
        g_dm.Call<DevDbgSetOutputProc>("DmSetOutput", output, context);
    return TRUE;
}

extern "C" BOOL WINAPI TlUnloadDm()
{
    return g_dm.Unload() ? TRUE : FALSE;
}

extern "C" BOOL WINAPI TlStartDebug(LPCSTR commandLine, DWORD waitTimeout, DWORD* processId)
{
    return g_dm.Call<DmStartDebugProc>("DmStartDebug", commandLine, waitTimeout, processId);
}

extern "C" BOOL WINAPI TlWaitDebugEnd(DWORD timeout, DEBUG_SESSION_RESULT* result)
{
    return g_dm.Call<DmWaitDebugEndProc>("DmWaitDebugEnd", timeout, result);
}
