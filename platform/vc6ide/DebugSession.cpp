#include "DebugSession.h"

#include <process.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "ImageFile.h"
#include "Vc6SymbolLookup.h"

bool CDebugSession::Start(LPCSTR commandLine, DWORD waitTimeout, DWORD* processId)
{
    if (m_thread.IsValid())
    {
        SetLastError(ERROR_BUSY);
        return false;
    }
    if (commandLine == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    m_created.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!m_created.IsValid())
        return false;
    m_commandLine = commandLine;
    m_waitTimeout = waitTimeout;
    m_createError = ERROR_SUCCESS;
    m_result = {};

    m_thread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ThreadMain, this, 0, nullptr)));
    if (!m_thread.IsValid())
        return false;
    WaitForSingleObject(m_created.Get(), INFINITE);
    if (m_createError != ERROR_SUCCESS)
    {
        WaitForSingleObject(m_thread.Get(), INFINITE);
        m_thread.Close();
        SetLastError(m_createError);
        return false;
    }
    if (processId != nullptr)
        *processId = m_result.processId;
    return true;
}

bool CDebugSession::WaitEnd(DWORD timeout, DEBUG_SESSION_RESULT* result)
{
    if (!m_thread.IsValid())
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (WaitForSingleObject(m_thread.Get(), timeout) != WAIT_OBJECT_0)
    {
        SetLastError(WAIT_TIMEOUT);
        return false;
    }
    m_thread.Close();
    if (result != nullptr)
        *result = m_result;
    return true;
}

void CDebugSession::SetOutput(DebuggerOutputProc output, void* context)
{
    std::lock_guard<CCriticalSection> lock(m_outputLock);
    m_output = output;
    m_outputContext = context;
}

void CDebugSession::ReportSymbols(HANDLE imageFile)
{
    std::lock_guard<CCriticalSection> lock(m_outputLock);
    if (m_output == nullptr)
        return;
    CImageFile image;
    if (!image.Open(imageFile))
        return;
    // The list is read for each image, as the debugger reads its settings
    // when it needs them: a change made during the session counts.
    const CVc6SymbolLookup lookup(CVc6SymbolLookup::ReadPdbDirs());
    const std::string found = lookup.Find(image.Path(), image.Data(), image.Size());
    const std::string line = found.empty() ? "Loaded '" + image.Path() + "', no matching symbolic information found."
                                           : "Loaded symbols for '" + image.Path() + "'";
    m_output(m_outputContext, line.c_str());
}

unsigned __stdcall CDebugSession::ThreadMain(void* session)
{
    static_cast<CDebugSession*>(session)->Run();
    return 0;
}

void CDebugSession::Run()
{
    std::vector<char> commandLine(m_commandLine.begin(), m_commandLine.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    // Debug events go to the thread that created the debuggee: this one.
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                        &startup, &process))
    {
        m_createError = GetLastError();
        SetEvent(m_created.Get());
        return;
    }
    CScopedHandle processHandle(process.hProcess);
    CloseHandle(process.hThread);
    m_result.processId = process.dwProcessId;
    SetEvent(m_created.Get());

    for (;;)
    {
        DEBUG_EVENT event;
        // Garbage until the system fills it: whoever looks at the record
        // before WaitForDebugEvent has returned sees no valid event.
        std::memset(&event, 0xCC, sizeof(event));
        if (!WaitForDebugEvent(&event, m_waitTimeout))
        {
            const DWORD error = GetLastError();
            // Windows reports a time-out as 121 (ERROR_SEM_TIMEOUT), some
            // versions as 258 (WAIT_TIMEOUT).
            if (error == ERROR_SEM_TIMEOUT || error == WAIT_TIMEOUT)
            {
                ++m_result.timeouts;
                continue;
            }
            m_result.error = error;
            return;
        }
        ++m_result.events;
        if (event.dwDebugEventCode <= RIP_EVENT)
            ++m_result.eventsByCode[event.dwDebugEventCode];
        if (Handle(event))
            return;
    }
}

bool CDebugSession::Handle(const DEBUG_EVENT& event)
{
    DWORD status = DBG_CONTINUE;
    bool exited = false;
    switch (event.dwDebugEventCode)
    {
    case CREATE_PROCESS_DEBUG_EVENT:
        ReportSymbols(event.u.CreateProcessInfo.hFile);
        CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
    case LOAD_DLL_DEBUG_EVENT:
        ReportSymbols(event.u.LoadDll.hFile);
        CloseHandle(event.u.LoadDll.hFile);
        break;
    case EXCEPTION_DEBUG_EVENT:
        // The loader's breakpoint is the debugger's own; everything else
        // goes back to the debuggee's handlers.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
            status = DBG_EXCEPTION_NOT_HANDLED;
        break;
    case EXIT_PROCESS_DEBUG_EVENT:
        m_result.exitCode = event.u.ExitProcess.dwExitCode;
        exited = true;
        break;
    default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    return exited;
}
