#include "WorkerThread.h"

#include <process.h>

#include <mutex>

#include "ScopedHandle.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

constexpr DWORD kStartTimeoutMs = 180000;
// A thread that is not in a command ends within milliseconds; one in a
// command that does not come back is not waited for longer than this.
constexpr DWORD kStopTimeoutMs = 5000;

ULONG_PTR HandleValue(HANDLE handle)
{
    return reinterpret_cast<ULONG_PTR>(handle);
}

} // namespace

CWorkerThread::CWorkerThread()
    : m_initialized(false),
      m_thread(nullptr),
      m_startTimeoutMs(kStartTimeoutMs),
      m_stopTimeoutMs(kStopTimeoutMs),
      m_runOnStop(true)
{
    CTraceScope scope("CWorkerThread::CWorkerThread()\n", 0);
}

CWorkerThread::~CWorkerThread()
{
    CTraceScope scope("CWorkerThread::~CWorkerThread()\n", 0);
    m_runOnStop = false;
    Stop();
}

bool CWorkerThread::EventsReady()
{
    if (m_threadStarted.GetHandle() == nullptr)
        TraceMessage(TRACE_ERROR, 0, "%s", "ThreadStarted event handle is null.\n");
    else if (m_shutdown.GetHandle() == nullptr)
        TraceMessage(TRACE_ERROR, 0, "%s", "Shutdown event handle is null.\n");
    else if (m_processCommand.GetHandle() == nullptr)
        TraceMessage(TRACE_ERROR, 0, "%s", "ProcessCommand event handle is null.\n");
    else if (m_commandProcessed.GetHandle() == nullptr)
        TraceMessage(TRACE_ERROR, 0, "%s", "CommandProcessed event handle is null.\n");
    else if (m_abandon.GetHandle() == nullptr)
        TraceMessage(TRACE_ERROR, 0, "%s", "Abandon event handle is null.\n");
    else
        return true;
    return false;
}

bool CWorkerThread::ResetTraced(CManualResetEvent& event, const char* failureFormat)
{
    if (event.Reset())
        return true;
    TraceMessage(TRACE_ERROR, 0, failureFormat, static_cast<unsigned>(event.GetError()));
    return false;
}

bool CWorkerThread::Start()
{
    CTraceScope scope("CWorkerThread::Start()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");

    if (m_initialized)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Object is already initialized.\n");
        return true;
    }
    if (m_thread != nullptr)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Worker thread handle is not null.\n");
        if (!EndLeftoverThread())
            return false;
    }
    if (!EventsReady())
        return false;
    // A thread that ended amid a command can leave ProcessCommand or
    // CommandProcessed set; a new thread must not take that for a command.
    if (!ResetTraced(m_threadStarted, "ResetEvent(ThreadStarted) failed. Error: %u\n") ||
        !ResetTraced(m_shutdown, "ResetEvent(Shutdown) failed. Error: %u\n") ||
        !ResetTraced(m_processCommand, "ResetEvent(ProcessCommand) failed. Error: %u\n") ||
        !ResetTraced(m_commandProcessed, "ResetEvent(CommandProcessed) failed. Error: %u\n") ||
        !ResetTraced(m_abandon, "ResetEvent(Abandon) failed. Error: %u\n"))
        return false;
    m_pendingCommand.reset();
    m_runOnStop = true;

    TraceMessage(TRACE_INFO, 0, "%s", "Starting the worker thread...\n");
    unsigned threadId = 0;
    m_thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CWorkerThread::WorkerThread, this, 0, &threadId));
    if (m_thread == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "_beginthreadex failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "ThreadId: %x  Handle: %Ix\n", threadId, HandleValue(m_thread));

    // The thread's own end releases the wait too: a thread that dies before
    // it reports would otherwise hold the starter for the whole time-out.
    const HANDLE waits[2] = {m_threadStarted.GetHandle(), m_thread};
    const DWORD result = WaitForMultipleObjects(2, waits, FALSE, m_startTimeoutMs);
    if (result == WAIT_OBJECT_0 + 1)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Worker thread ended before it started.\n");
        CloseHandle(m_thread);
        m_thread = nullptr;
        return false;
    }
    if (result != WAIT_OBJECT_0)
    {
        TraceMessage(TRACE_INFO, 0, "WaitForSingleObject failed. Result: %u Error: %u\n", static_cast<unsigned>(result),
                     static_cast<unsigned>(GetLastError()));
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "ThreadStarted event received.\n");
    if (!ResetTraced(m_threadStarted, "ResetEvent(ThreadStarted) failed. Error: %u\n"))
        return false;

    m_initialized = true;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

void CWorkerThread::Stop()
{
    CTraceScope scope("CWorkerThread::Stop()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");

    if (!m_initialized)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Object is not initialized.\n");
        // A thread left by a failed start still uses this object.
        if (m_thread == nullptr)
            return;
    }
    // Nobody waits for a command that is being stopped: its caller goes on
    // (a debugger thread, a disconnecting IDE) while the thread finishes it.
    m_abandon.Set();
    m_initialized = false;
    EndThread(m_stopTimeoutMs);
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

bool CWorkerThread::IsThreadAlive()
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    return m_thread != nullptr && WaitForSingleObject(m_thread, 0) == WAIT_TIMEOUT;
}

bool CWorkerThread::EndLeftoverThread()
{
    // The thread of an earlier start shares these events: a second one must
    // not run beside it. It is ended once it waits for commands (it has
    // reported) or has ended by itself (a stopped one finishing its command).
    const HANDLE waits[2] = {m_thread, m_threadStarted.GetHandle()};
    const DWORD result = WaitForMultipleObjects(waits[1] != nullptr ? 2 : 1, waits, FALSE, m_startTimeoutMs);
    if (result != WAIT_OBJECT_0 && result != WAIT_OBJECT_0 + 1)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Worker thread is still running.\n");
        return false;
    }
    if (result == WAIT_OBJECT_0 + 1)
        TraceMessage(TRACE_INFO, 0, "%s", "Ending the worker thread of an earlier start...\n");
    if (!EndThread(m_startTimeoutMs))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Worker thread is still running.\n");
        return false;
    }
    return true;
}

bool CWorkerThread::EndThread(DWORD timeoutMs)
{
    TraceMessage(TRACE_INFO, 0, "Thread handle: %Ix\n", HandleValue(m_thread));
    if (m_thread == nullptr)
        return true;
    TraceMessage(TRACE_INFO, 0, "%s", "Setting Shutdown event...\n");
    if (m_shutdown.Set())
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Waiting for the worker thread to stop...\n");
        const DWORD result = WaitForSingleObject(m_thread, timeoutMs);
        if (result == WAIT_TIMEOUT)
        {
            // Busy in a command that does not return (a hung server): it ends
            // by itself once the command does, since Shutdown stays set.
            TraceMessage(TRACE_WARNING, 0, "%s", "Worker thread is busy; it is left to end by itself.\n");
            return false;
        }
        if (result == WAIT_OBJECT_0)
            TraceMessage(TRACE_INFO, 0, "%s", "Shutdown event received.\n");
        else
            TraceMessage(TRACE_INFO, 0, "WaitForSingleObject failed. Result: %u Error: %u\n",
                         static_cast<unsigned>(result), static_cast<unsigned>(GetLastError()));
    }
    else
    {
        TraceMessage(TRACE_INFO, 0, "SetEvent(Shutdown) failed. Error: %u\n",
                     static_cast<unsigned>(m_shutdown.GetError()));
    }
    if (!CloseHandle(m_thread))
        TraceMessage(TRACE_INFO, 0, "CloseHandle failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
    m_thread = nullptr;
    return true;
}

bool CWorkerThread::ExecuteCommand(const std::shared_ptr<void>& pCmd)
{
    CTraceScope scope("CWorkerThread::ExecuteCommand()\n", 0);
    TraceMessage(TRACE_INFO, 0, "pCmd: %p\n", pCmd.get());
    // Held for the whole exchange: one command at a time.
    std::lock_guard<CCriticalSection> callLock(m_callLock);
    CScopedHandle thread;
    {
        std::lock_guard<CCriticalSection> lock(m_lock);
        TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");

        if (!m_initialized)
        {
            TraceMessage(TRACE_WARNING, 0, "%s", "Object is not initialized.\n");
            return false;
        }
        if (pCmd == nullptr)
        {
            TraceMessage(TRACE_ERROR, 0, "%s", "Command pointer is null.\n");
            return false;
        }
        if (m_processCommand.GetHandle() == nullptr)
        {
            TraceMessage(TRACE_ERROR, 0, "%s", "ProcessCommand event handle is null.\n");
            return false;
        }
        // Stop may close the object's own handle while this caller waits.
        HANDLE duplicate = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), m_thread, GetCurrentProcess(), &duplicate, SYNCHRONIZE, FALSE, 0))
        {
            TraceMessage(TRACE_ERROR, 0, "DuplicateHandle failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
            return false;
        }
        thread.Reset(duplicate);

        m_pendingCommand = pCmd;
        TraceMessage(TRACE_INFO, 0, "%s", "Setting ProcessCommand event...\n");
        if (!m_processCommand.Set())
        {
            TraceMessage(TRACE_INFO, 0, "SetEvent(ProcessCommand) failed. Error: %u\n",
                         static_cast<unsigned>(m_processCommand.GetError()));
            return false;
        }
    }

    // No time limit for the command itself, but a thread that leaves its loop
    // without signalling (a failed event call, a thread that died) must not
    // hold the caller for ever: its end releases the wait as well, and so
    // does a Stop.
    TraceMessage(TRACE_INFO, 0, "%s", "Waiting for CommandProcessed event...\n");
    const HANDLE waits[3] = {m_commandProcessed.GetHandle(), thread.Get(), m_abandon.GetHandle()};
    const DWORD result = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0 + 1)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Worker thread ended before the command was processed.\n");
        std::lock_guard<CCriticalSection> lock(m_lock);
        m_pendingCommand.reset();
        m_processCommand.Reset();
        return false;
    }
    if (result == WAIT_OBJECT_0 + 2)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Worker thread is stopping; the command is abandoned.\n");
        return false;
    }
    if (result != WAIT_OBJECT_0)
    {
        TraceMessage(TRACE_INFO, 0, "WaitForSingleObject failed. Result: %u Error: %u\n", static_cast<unsigned>(result),
                     static_cast<unsigned>(GetLastError()));
        return false;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Resetting CommandProcessed event...\n");
    if (!m_commandProcessed.Reset())
    {
        TraceMessage(TRACE_INFO, 0, "ResetEvent(CommandProcessed) failed. Error: %u\n",
                     static_cast<unsigned>(m_commandProcessed.GetError()));
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

unsigned __stdcall CWorkerThread::WorkerThread(void* lpParam)
{
    CTraceScope scope("CWorkerThread::WorkerThread()\n", 0);
    TraceMessage(TRACE_INFO, 0, "%s", "CWorkerThread::WorkerThread() - START.\n");
    TraceMessage(TRACE_INFO, 0, "lpParam: %p\n", lpParam);
    if (lpParam == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Object pointer is not specified.\n");
        TraceMessage(TRACE_INFO, 0, "%s", "CWorkerThread::WorkerThread() - STOP(error).\n");
        return 0;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Calling WorkerThreadFunc()...\n");
    static_cast<CWorkerThread*>(lpParam)->WorkerThreadFunc();
    TraceMessage(TRACE_INFO, 0, "%s", "CWorkerThread::WorkerThread() - STOP.\n");
    return 0;
}

void CWorkerThread::WorkerThreadFunc()
{
    CTraceScope scope("CWorkerThread::WorkerThreadFunc()\n", 0);
    TraceMessage(TRACE_INFO, 0, "%s", "CWorkerThread::WorkerThreadFunc() - START\n");
    if (!EventsReady())
        return;

    TraceMessage(TRACE_INFO, 0, "%s", "Calling OnStart()...\n");
    OnStart();
    TraceMessage(TRACE_INFO, 0, "%s", "Setting ThreadStarted event...\n");
    if (!m_threadStarted.Set())
    {
        TraceMessage(TRACE_ERROR, 0, "SetEvent(ThreadStarted) failed. Error: %u\n",
                     static_cast<unsigned>(m_threadStarted.GetError()));
        return;
    }

    // Index 0 first: a pending command is preferred to a pending shutdown.
    const HANDLE waits[2] = {m_processCommand.GetHandle(), m_shutdown.GetHandle()};
    for (;;)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Waiting for commands...\n");
        const DWORD result = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 + 1)
        {
            TraceMessage(TRACE_INFO, 0, "%s", "Shutdown event received.\n");
            break;
        }
        if (result != WAIT_OBJECT_0)
        {
            TraceMessage(TRACE_ERROR, 0, "WaitForMultipleObjects() failed. Result: %u Error: %u\n",
                         static_cast<unsigned>(result), static_cast<unsigned>(GetLastError()));
            break;
        }
        TraceMessage(TRACE_INFO, 0, "%s", "ProcessCommand event received.\n");
        if (!ResetTraced(m_processCommand, "ResetEvent(ProcessCommand) failed. Error: %u\n"))
            break;
        // Its own share: an abandoned caller no longer keeps the command alive.
        const std::shared_ptr<void> command = m_pendingCommand;
        TraceMessage(TRACE_INFO, 0, "%s", "Calling OnCommand()...\n");
        OnCommand(command.get());
        TraceMessage(TRACE_INFO, 0, "%s", "Setting CommandProcessed event...\n");
        if (!m_commandProcessed.Set())
        {
            TraceMessage(TRACE_ERROR, 0, "SetEvent(CommandProcessed) failed. Error: %u\n",
                         static_cast<unsigned>(m_commandProcessed.GetError()));
            break;
        }
    }

    if (m_runOnStop)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Calling OnStop()...\n");
        OnStop();
    }
    TraceMessage(TRACE_INFO, 0, "%s", "CWorkerThread::WorkerThreadFunc() - STOP\n");
}

bool CWorkerThread::OnStart()
{
    CTraceScope scope("CWorkerThread::OnStart()\n", 0);
    return true;
}

void CWorkerThread::OnStop()
{
    CTraceScope scope("CWorkerThread::OnStop()\n", 0);
}

void CWorkerThread::OnCommand(void*)
{
    CTraceScope scope("CWorkerThread::OnCommand()\n", 0);
}
