#include <windows.h>
#include <process.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ScopedHandle.h"
#include "WorkerThread.h"

namespace
{

enum Command
{
    kRecordThread = 1,
    kEndThread = 2,
};

// What a test worker did, kept outside it so that it outlives the worker.
struct Activity
{
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<int> commands{0};
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    DWORD startThread = 0;
    DWORD commandThread = 0;
    DWORD stopThread = 0;
    // When set, OnStart signals startEntered and waits for holdStart.
    HANDLE holdStart = nullptr;
    HANDLE startEntered = nullptr;
    bool endInStart = false;
    // A duplicate of the last worker thread's handle, to see it end.
    HANDLE thread = nullptr;

    ~Activity()
    {
        if (thread != nullptr)
            CloseHandle(thread);
    }
};

class CTestWorker : public CWorkerThread
{
public:
    CTestWorker(Activity& activity, bool stopInDestructor = true)
        : m_activity(activity), m_stopInDestructor(stopInDestructor)
    {
    }
    ~CTestWorker() override
    {
        if (m_stopInDestructor)
            Stop();
    }
    using CWorkerThread::SetStartTimeout;

protected:
    bool OnStart() override
    {
        m_activity.startThread = GetCurrentThreadId();
        HANDLE self = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, SYNCHRONIZE, FALSE, 0);
        if (m_activity.thread != nullptr)
            CloseHandle(m_activity.thread);
        m_activity.thread = self;
        ++m_activity.starts;
        if (m_activity.holdStart != nullptr)
        {
            SetEvent(m_activity.startEntered);
            WaitForSingleObject(m_activity.holdStart, INFINITE);
        }
        if (m_activity.endInStart)
            _endthreadex(0);
        return true;
    }
    void OnStop() override
    {
        m_activity.stopThread = GetCurrentThreadId();
        ++m_activity.stops;
    }
    void OnCommand(void* pCmd) override
    {
        if (++m_activity.inside > 1)
            m_activity.overlapped = true;
        m_activity.commandThread = GetCurrentThreadId();
        ++m_activity.commands;
        --m_activity.inside;
        if (*static_cast<int*>(pCmd) == kEndThread)
            _endthreadex(0);
    }

private:
    Activity& m_activity;
    bool m_stopInDestructor;
};

bool HasEnded(HANDLE thread)
{
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

TEST(WorkerThreadTest, RunsStartCommandsAndStopOnItsOwnThreadAndRefusesCommandsUnlessRunning)
{
    Activity activity;
    CTestWorker worker(activity);
    int command = kRecordThread;
    worker.Stop();
    EXPECT_FALSE(worker.ExecuteCommand(&command));
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Start());
    EXPECT_EQ(1, activity.starts);
    EXPECT_FALSE(worker.ExecuteCommand(nullptr));
    EXPECT_TRUE(worker.ExecuteCommand(&command));
    EXPECT_TRUE(worker.ExecuteCommand(&command));
    worker.Stop();
    EXPECT_FALSE(worker.ExecuteCommand(&command));
    EXPECT_EQ(2, activity.commands);
    EXPECT_EQ(1, activity.stops);
    EXPECT_NE(GetCurrentThreadId(), activity.startThread);
    EXPECT_EQ(activity.startThread, activity.commandThread);
    EXPECT_EQ(activity.startThread, activity.stopThread);
    EXPECT_TRUE(HasEnded(activity.thread));

    // Started after the stop, it runs a fresh thread.
    const DWORD first = activity.startThread;
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.ExecuteCommand(&command));
    EXPECT_EQ(2, activity.starts);
    EXPECT_NE(first, activity.commandThread);
}

TEST(WorkerThreadTest, CallersOnManyThreadsRunOneCommandAtATime)
{
    Activity activity;
    CTestWorker worker(activity);
    ASSERT_TRUE(worker.Start());
    std::atomic<int> succeeded{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i)
    {
        callers.emplace_back(
            [&]
            {
                for (int n = 0; n < 250; ++n)
                {
                    int command = kRecordThread;
                    if (worker.ExecuteCommand(&command))
                        ++succeeded;
                }
            });
    }
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(1000, succeeded);
    EXPECT_EQ(1000, activity.commands);
    EXPECT_FALSE(activity.overlapped);
}

TEST(WorkerThreadTest, ThreadEndingInACommandReleasesItsCaller)
{
    Activity activity;
    CTestWorker worker(activity);
    ASSERT_TRUE(worker.Start());
    int command = kEndThread;
    EXPECT_FALSE(worker.ExecuteCommand(&command));
    command = kRecordThread;
    EXPECT_FALSE(worker.ExecuteCommand(&command));
    // The object recovers: stopped and started again, it runs commands.
    worker.Stop();
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.ExecuteCommand(&command));
    EXPECT_EQ(2, activity.commands);
}

TEST(WorkerThreadTest, ThreadEndingBeforeItReportsFailsTheStartAtOnce)
{
    Activity activity;
    activity.endInStart = true;
    CTestWorker worker(activity);
    // Without a time limit: only the thread's end can release the starter.
    worker.SetStartTimeout(INFINITE);
    EXPECT_FALSE(worker.Start());
    int command = kRecordThread;
    EXPECT_FALSE(worker.ExecuteCommand(&command));
}

TEST(WorkerThreadTest, ThreadOfATimedOutStartIsEndedBeforeANewOne)
{
    Activity activity;
    CScopedHandle hold(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    CScopedHandle entered(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    activity.holdStart = hold.Get();
    activity.startEntered = entered.Get();
    CTestWorker worker(activity);
    worker.SetStartTimeout(1);
    EXPECT_FALSE(worker.Start());
    // The 1 ms start may time out before the thread has even begun.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(entered.Get(), 30000));
    // The first thread still runs: no second one beside it.
    EXPECT_FALSE(worker.Start());
    EXPECT_EQ(1, activity.starts);
    SetEvent(hold.Get());
    worker.Stop();
    EXPECT_TRUE(HasEnded(activity.thread));
    activity.holdStart = nullptr;
    worker.SetStartTimeout(INFINITE);
    ASSERT_TRUE(worker.Start());
    int command = kRecordThread;
    EXPECT_TRUE(worker.ExecuteCommand(&command));
}

TEST(WorkerThreadTest, DestructionEndsTheThreadWithoutTheGoneSubclassOnStop)
{
    Activity activity;
    {
        CTestWorker worker(activity, false);
        ASSERT_TRUE(worker.Start());
    }
    EXPECT_TRUE(HasEnded(activity.thread));
    EXPECT_EQ(0, activity.stops);
}

} // namespace
