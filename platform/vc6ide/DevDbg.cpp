// DEVDBG.PKG stand-in: the IDE's debugger package. It loads the transport
// layer TLLOC.DLL, which loads the debug monitor DM.DLL.
#include <windows.h>

#include "DebuggerModules.h"
#include "LoadedModule.h"

namespace
{
CLoadedModule g_tlLoc;
DebuggerOutputProc g_output = nullptr;
void* g_outputContext = nullptr;
} // namespace

extern "C" BOOL WINAPI DevDbgSetOutput(DebuggerOutputProc output, void* context)
{
    g_output = output;
    g_outputContext = context;
    if (g_tlLoc.Get() != nullptr)
        g_tlLoc.Call<DevDbgSetOutputProc>("TlSetOutput", output, context);
    return TRUE;
}

extern "C" BOOL WINAPI DevDbgLoadDebugger(LPCSTR tlLocName, LPCSTR dmName)
{
    if (!g_tlLoc.Load(tlLocName))
        return FALSE;
    g_tlLoc.Call<DevDbgSetOutputProc>("TlSetOutput", g_output, g_outputContext);
    if (!g_tlLoc.Call<TlLoadDmProc>("TlLoadDm", dmName))
    {
        const DWORD error = GetLastError();
        g_tlLoc.Unload();
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI DevDbgUnloadDebugger()
{
    if (g_tlLoc.Get() == nullptr)
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    g_tlLoc.Call<TlUnloadDmProc>("TlUnloadDm");
    return g_tlLoc.Unload();
}

extern "C" BOOL WINAPI DevDbgStartDebug(LPCSTR commandLine, DWORD waitTimeout, DWORD* processId)
{
    return g_tlLoc.Call<DmStartDebugProc>("TlStartDebug", commandLine, waitTimeout, processId);
}

extern "C" BOOL WINAPI DevDbgWaitDebugEnd(DWORD timeout, DEBUG_SESSION_RESULT* result)
{
    return g_tlLoc.Call<DmWaitDebugEndProc>("TlWaitDebugEnd", timeout, result);
}
