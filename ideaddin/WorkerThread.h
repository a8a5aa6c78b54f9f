#pragma once
#include <windows.h>

#include <atomic>

#include "CriticalSection.h"
#include "ManualResetEvent.h"

// One background thread that runs commands for callers on other threads, one
// at a time and synchronously: ExecuteCommand hands the thread a pointer and
// returns once the thread has processed it. Callers are serialised by the
// instance lock, which ExecuteCommand holds for the whole exchange; the thread
// itself never takes it. The hand-off is four manual-reset events, no queue.
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
    // run OnStart, whatever OnStart returned.
    bool Start();
    // Ends the thread and waits for it without a time limit; a command in
    // flight completes first. Also ends a thread left by a failed Start.
    void Stop();
    // Runs one command on the worker thread. True only when the thread
    // processed it; false at once when the thread is not running or ends
    // before it has processed the command.
    bool ExecuteCommand(void* pCmd);

protected:
    virtual bool OnStart();
    virtual void OnStop();
    virtual void OnCommand(void* pCmd);

    // How long Start waits for the thread to report; 180000 ms unless changed.
    void SetStartTimeout(DWORD milliseconds) { m_startTimeoutMs = milliseconds; }

private:
    static unsigned __stdcall WorkerThread(void* lpParam);
    void WorkerThreadFunc();

    // Traces the first missing event; false when one is missing.
    bool EventsReady();
    bool ResetTraced(CManualResetEvent& event, const char* failureFormat);
    // Sets Shutdown, waits for the thread to end and closes its handle.
    void EndThread();

    bool m_initialized;
    CCriticalSection m_lock;
    HANDLE m_thread;
    void* m_pendingCommand;
    CManualResetEvent m_threadStarted;
    CManualResetEvent m_shutdown;
    CManualResetEvent m_processCommand;
    CManualResetEvent m_commandProcessed;
    DWORD m_startTimeoutMs;
    // Cleared by the destructor before it ends the thread.
    std::atomic<bool> m_runOnStop;
};
