#pragma once
#include <windows.h>

#include <string>

#include "DebuggerModules.h"
#include "CriticalSection.h"
#include "ScopedHandle.h"

// One debuggee at a time, debugged the way a 1998 debug monitor does it: a
// debugger thread creates the process with DEBUG_ONLY_THIS_PROCESS, waits for
// its events with a finite time-out and continues each, until it exits.
class CDebugSession
{
public:
    CDebugSession() = default;
    CDebugSession(const CDebugSession&) = delete;
    CDebugSession& operator=(const CDebugSession&) = delete;

    // Starts the debugger thread and returns once the debuggee was created
    // (true, its id in *processId when given) or could not be (false, the
    // error of CreateProcess). False with ERROR_BUSY until the previous
    // session has been waited for.
    bool Start(LPCSTR commandLine, DWORD waitTimeout, DWORD* processId);
    // Waits up to timeout for the debugger thread to end and reports what it
    // saw; false with WAIT_TIMEOUT while it runs, ERROR_INVALID_HANDLE
    // without a session.
    bool WaitEnd(DWORD timeout, DEBUG_SESSION_RESULT* result);
    // Where the verdict on each new image's symbols is printed; null: nowhere.
    void SetOutput(DebuggerOutputProc output, void* context);

private:
    static unsigned __stdcall ThreadMain(void* session);
    void Run();
    // Continues one event, closing the file handle it carries; true once the debuggee has exited.
    bool Handle(const DEBUG_EVENT& event);
    // Prints whether the debugger finds matching symbols for the image
    // behind a create-process or load-DLL event's file handle.
    void ReportSymbols(HANDLE imageFile);

    CScopedHandle m_thread;
    CScopedHandle m_created;
    std::string m_commandLine;
    DWORD m_waitTimeout = 0;
    DWORD m_createError = ERROR_SUCCESS;
    DEBUG_SESSION_RESULT m_result = {};
    CCriticalSection m_outputLock;
    DebuggerOutputProc m_output = nullptr;
    void* m_outputContext = nullptr;
};
