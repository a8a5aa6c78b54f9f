#include <windows.h>
#include <process.h>

#include <atomic>
#include <memory>
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
    kHoldCommand = 3,
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
    // A kHoldCommand signals commandEntered and waits (30 s at most) for
    // holdCommand; commandsDone counts the commands that have returned.
    HANDLE holdCommand = nullptr;
    HANDLE commandEntered = nullptr;
    std::atomic<int> commandsDone{0};
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
    using CWorkerThread::SetStopTimeout;

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
        if (*static_cast<int*>(pCmd) == kHoldCommand)
        {
            SetEvent(m_activity.commandEntered);
            WaitForSingleObject(m_activity.holdCommand, 30000);
        }
        ++m_activity.commandsDone;
    }

private:
    Activity& m_activity;
    bool m_stopInDestructor;
};

std::shared_ptr<void> Command(int command)
{
    return std::make_shared<int>(command);
}

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
    EXPECT_FALSE(worker.ExecuteCommand(Command(command)));
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Start());
    EXPECT_EQ(1, activity.starts);
    EXPECT_FALSE(worker.ExecuteCommand(std::shared_ptr<void>()));
    EXPECT_TRUE(worker.ExecuteCommand(Command(command)));
    EXPECT_TRUE(worker.ExecuteCommand(Command(command)));
    worker.Stop();
    EXPECT_FALSE(worker.ExecuteCommand(Command(command)));
    EXPECT_EQ(2, activity.commands);
    EXPECT_EQ(1, activity.stops);
    EXPECT_NE(GetCurrentThreadId(), activity.startThread);
    EXPECT_EQ(activity.startThread, activity.commandThread);
    EXPECT_EQ(activity.startThread, activity.stopThread);
    EXPECT_TRUE(HasEnded(activity.thread));

    // Started after the stop, it runs a fresh thread.
    const DWORD first = activity.startThread;
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.ExecuteCommand(Command(command)));
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
                    if (worker.ExecuteCommand(Command(command)))
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
    EXPECT_FALSE(worker.ExecuteCommand(Command(command)));
    command = kRecordThread;
    EXPECT_FALSE(worker.ExecuteCommand(Command(command)));
    // The object recovers: stopped and started again, it runs commands.
    worker.Stop();
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.ExecuteCommand(Command(command)));
    EXPECT_EQ(2, activity.commands);
}

TEST(WorkerThreadTest, StopReleasesTheWaitingCallerAndLeavesABusyThreadForTheNextStart)
{
    Activity activity;
    CScopedHandle hold(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    CScopedHandle entered(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    activity.holdCommand = hold.Get();
    activity.commandEntered = entered.Get();
    CTestWorker worker(activity);
    worker.SetStopTimeout(0);
    ASSERT_TRUE(worker.Start());
    std::atomic<bool> executed{true};
    std::thread caller([&] { executed = worker.ExecuteCommand(Command(kHoldCommand)); });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(entered.Get(), 30000));
    // Neither Stop nor the caller waits for the held command.
    worker.Stop();
    caller.join();
    EXPECT_EQ(0, activity.commandsDone);
    EXPECT_FALSE(executed);
    EXPECT_TRUE(worker.IsThreadAlive());
    // The thread finishes the command; the next start ends it first.
    SetEvent(hold.Get());
    ASSERT_TRUE(worker.Start());
    EXPECT_EQ(2, activity.starts);
    EXPECT_EQ(1, activity.commandsDone);
    EXPECT_EQ(1, activity.stops);
    EXPECT_TRUE(worker.ExecuteCommand(Command(kRecordThread)));
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
    EXPECT_FALSE(worker.ExecuteCommand(Command(command)));
}

TEST(WorkerThreadTest, ThreadOfATimedOutStartIsEndedOnceItHasReportedAndANewOneStarts)
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
    // The first thread has not reported yet: no second one beside it.
    EXPECT_FALSE(worker.Start());
    EXPECT_EQ(1, activity.starts);
    HANDLE firstThread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), activity.thread, GetCurrentProcess(), &firstThread, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    CScopedHandle first(firstThread);
    // Once it reports, the next start ends it and runs a fresh thread.
    activity.holdStart = nullptr;
    SetEvent(hold.Get());
    worker.SetStartTimeout(INFINITE);
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(HasEnded(first.Get()));
    EXPECT_EQ(2, activity.starts);
    EXPECT_EQ(1, activity.stops);
    int command = kRecordThread;
    EXPECT_TRUE(worker.ExecuteCommand(Command(command)));
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
