// DM.DLL stand-in: the debug monitor, which runs the debuggee under a debug
// loop on a debugger thread of its own.
#include <windows.h>

#include "DebugSession.h"
#include "DebuggerModules.h"

namespace
{
CDebugSession g_session;
}

extern "C" BOOL WINAPI DmStartDebug(LPCSTR commandLine, DWORD waitTimeout, DWORD* processId)
{
    return g_session.Start(commandLine, waitTimeout, processId) ? TRUE : FALSE;
}

extern "C" BOOL WINAPI DmSetOutput(DebuggerOutputProc output, void* context)
{
    g_session.SetOutput(output, context);
    return TRUE;
}

extern "C" BOOL WINAPI DmWaitDebugEnd(DWORD timeout, DEBUG_SESSION_RESULT* result)
{
    return g_session.WaitEnd(timeout, result) ? TRUE : FALSE;
}
