#pragma once
#include <windows.h>

// The exported surface of the stand-ins of the Visual C++ 6.0 debugger's
// modules. The IDE drives DEVDBG.PKG only; DEVDBG.PKG loads TLLOC.DLL and
// TLLOC.DLL loads DM.DLL, each through its LoadLibraryA import from KERNEL32,
// and passes the session calls down. DM.DLL debugs on a thread of its own
// and receives the events through its WaitForDebugEvent import.

// What one debug session saw, complete once the debuggee has exited.
struct DEBUG_SESSION_RESULT
{
    DWORD processId;
    DWORD exitCode;
    // Events received, in all and by dwDebugEventCode (1 to RIP_EVENT).
    DWORD events;
    DWORD eventsByCode[RIP_EVENT + 1];
    // Waits that ended without an event.
    DWORD timeouts;
    // 0, or the error of WaitForDebugEvent that ended the session early.
    DWORD error;
};

// DM.DLL. DmStartDebug creates the debuggee (a command line) with
// DEBUG_ONLY_THIS_PROCESS on a new debugger thread, which then waits for its
// events waitTimeout milliseconds at a time; TRUE once the process runs.
// FALSE (ERROR_BUSY) while an earlier session has not been waited for.
typedef BOOL(WINAPI* DmStartDebugProc)(LPCSTR commandLine, DWORD waitTimeout, DWORD* processId);
// Waits up to timeout milliseconds for the session's end and reports it;
// FALSE with WAIT_TIMEOUT while it runs.
typedef BOOL(WINAPI* DmWaitDebugEndProc)(DWORD timeout, DEBUG_SESSION_RESULT* result);

// The lines the debugger prints in the IDE's output window: for each new
// image, whether it found matching symbols. Called on the debugger's thread.
typedef void(WINAPI* DebuggerOutputProc)(void* context, LPCSTR line);
// DM.DLL's DmSetOutput, TLLOC.DLL's TlSetOutput and DEVDBG.PKG's
// DevDbgSetOutput: where the lines go from now on (null: nowhere). Each
// module keeps the target and hands it to the module it loads.
typedef BOOL(WINAPI* DevDbgSetOutputProc)(DebuggerOutputProc output, void* context);

// TLLOC.DLL: loads DM.DLL under the given name (a name or a path) and passes
// the session calls to it; each load is undone by one unload.
typedef BOOL(WINAPI* TlLoadDmProc)(LPCSTR dmName);
typedef BOOL(WINAPI* TlUnloadDmProc)();

// DEVDBG.PKG: loads TLLOC.DLL and has it load DM.DLL, each under the given
// name; DevDbgUnloadDebugger undoes one load of both. Unload only between
// sessions. DevDbgStartDebug and DevDbgWaitDebugEnd are DM.DLL's operations.
typedef BOOL(WINAPI* DevDbgLoadDebuggerProc)(LPCSTR tlLocName, LPCSTR dmName);
typedef BOOL(WINAPI* DevDbgUnloadDebuggerProc)();

// The address of a module's export as the function type it is called through.
template <typename Proc>
bool BindExport(HMODULE module, const char* name, Proc& proc)
{
    proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return proc != nullptr;
}
