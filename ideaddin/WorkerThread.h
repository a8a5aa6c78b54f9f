#pragma once
#include <windows.h>

#include <atomic>
#include <memory>

#include "CriticalSection.h"
#include "ManualResetEvent.h"

// One background thread that runs commands for callers on other threads, one
// at a time and synchronously: ExecuteCommand hands the thread a command and
// returns once the thread has processed it. Callers are serialised by a lock
// of their own, held for the whole exchange; the instance lock guards the
// state and is held only briefly, so Stop never waits for a command. The
// thread itself takes neither. The hand-off is manual-reset events, no queue.
//
// A subclass supplies the work through OnStart, OnCommand and OnStop, all run
// on the worker thread, and stops the thread in its own destructor so that
// OnStop runs while the subclass is whole.
class CWorkerThread
{
public:
    CWorkerThread();
    // Ends a thread still running, without OnStop: the subclass part is gone.
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts the thread and waits (at most the start time-out) until it has
    // run OnStart, whatever OnStart returned. A thread left by an earlier
    // timed-out start or by a Stop that did not see it end is ended first,
    // once it has reported or finished its command (within the start time-out).
    bool Start();
    // Ends the thread: a caller waiting in ExecuteCommand is released at once
    // (its command is abandoned, the thread still finishes it), then Stop
    // waits at most the stop time-out for the thread to end. A thread still
    // busy after that (a command that does not return) is left to end by itself;
    // the next Start ends it, and IsThreadAlive tells that it still runs.
    void Stop();
    // Runs one command on the worker thread. True only when the thread
    // processed it; false at once when the thread is not running, ends before
    // it has processed the command, or is stopped meanwhile. The command is
    // shared with the thread, which may still use it after an abandoned call.
    bool ExecuteCommand(const std::shared_ptr<void>& pCmd);
    // Whether a thread of this object still runs (also one left by Stop).
    bool IsThreadAlive();

protected:
    virtual bool OnStart();
    virtual void OnStop();
    virtual void OnCommand(void* pCmd);

    // How long Start waits for the thread to report; 180000 ms unless changed.
    void SetStartTimeout(DWORD milliseconds) { m_startTimeoutMs = milliseconds; }
    // How long Stop waits for the thread to end; 5000 ms unless changed.
    void SetStopTimeout(DWORD milliseconds) { m_stopTimeoutMs = milliseconds; }

private:
    static unsigned __stdcall WorkerThread(void* lpParam);
    void WorkerThreadFunc();

    // Traces the first missing event; false when one is missing.
    bool EventsReady();
    bool ResetTraced(CManualResetEvent& event, const char* failureFormat);
    // Sets Shutdown, waits at most timeoutMs for the thread to end and then
    // closes its handle; a thread still running keeps it. True when ended.
    bool EndThread(DWORD timeoutMs);
    // Ends a thread of an earlier start; false when it is still busy.
    bool EndLeftoverThread();

    bool m_initialized;
    CCriticalSection m_lock;
    // Serialises ExecuteCommand callers; taken before m_lock, never by Stop.
    CCriticalSection m_callLock;
    HANDLE m_thread;
    std::shared_ptr<void> m_pendingCommand;
    CManualResetEvent m_threadStarted;
    CManualResetEvent m_shutdown;
    CManualResetEvent m_processCommand;
    CManualResetEvent m_commandProcessed;
    // Set by Stop, reset by Start: releases a caller waiting for its command.
    CManualResetEvent m_abandon;
    DWORD m_startTimeoutMs;
    DWORD m_stopTimeoutMs;
    // Cleared by the destructor before it ends the thread.
    std::atomic<bool> m_runOnStop;
};
