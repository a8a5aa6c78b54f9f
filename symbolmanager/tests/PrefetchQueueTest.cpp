#include "PrefetchQueue.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

namespace
{
// Tasks that hold until the gate opens (or their work is dropped), so that a
// test can see how many run at once.
class Gate
{
public:
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }
    // Counts the task in, waits for the gate or for cancelled; true when dropped.
    bool Pass(const CPrefetchQueue::Cancelled& cancelled)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        ++m_running;
        m_peak = std::max(m_peak, m_running);
        m_changed.notify_all();
        while (!m_open && !cancelled())
            m_changed.wait_for(lock, std::chrono::milliseconds(5));
        --m_running;
        return !m_open;
    }
    void WaitRunning(int count)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [&] { return m_running >= count; });
    }
    int Peak()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_peak;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
    int m_running = 0;
    int m_peak = 0;
};

TEST(PrefetchQueueTest, RunsAtMostItsWorkersAtOnceAndEveryTask)
{
    Gate gate;
    std::atomic<int> done{0};
    CPrefetchQueue queue(3);
    for (int i = 0; i < 10; ++i)
        queue.Post([&](const CPrefetchQueue::Cancelled& cancelled)
                   {
                       gate.Pass(cancelled);
                       ++done;
                   });
    gate.WaitRunning(3);
    gate.Open();
    queue.WaitIdle();
    EXPECT_EQ(10, done.load());
    EXPECT_EQ(3, gate.Peak());
}

TEST(PrefetchQueueTest, DropAbandonsQueuedTasksAndCancelsRunningOnes)
{
    Gate gate;
    std::atomic<int> started{0};
    std::atomic<int> cancelled{0};
    CPrefetchQueue queue(2);
    for (int i = 0; i < 6; ++i)
        queue.Post([&](const CPrefetchQueue::Cancelled& isCancelled)
                   {
                       ++started;
                       if (gate.Pass(isCancelled))
                           ++cancelled;
                   });
    gate.WaitRunning(2);
    queue.Drop();
    queue.WaitIdle();
    EXPECT_EQ(2, started.load());
    EXPECT_EQ(2, cancelled.load());

    // Work posted after the drop runs, uncancelled.
    bool ran = false;
    queue.Post([&](const CPrefetchQueue::Cancelled& isCancelled) { ran = !isCancelled(); });
    queue.WaitIdle();
    EXPECT_TRUE(ran);
}

// A task that outlives its batch queues nothing more, even asked to.
TEST(PrefetchQueueTest, DroppedTaskQueuesNoMoreWork)
{
    Gate gate;
    std::atomic<bool> followerRan{false};
    CPrefetchQueue queue(2);
    queue.Post([&](const CPrefetchQueue::Cancelled& cancelled)
               {
                   gate.Pass(cancelled);
                   queue.Post([&](const CPrefetchQueue::Cancelled&) { followerRan = true; }, cancelled);
               });
    gate.WaitRunning(1);
    queue.Drop();
    queue.WaitIdle();
    EXPECT_FALSE(followerRan.load());
}

// Destruction with work running ends it and joins every worker: the task's
// last step happens before the destructor returns.
TEST(PrefetchQueueTest, DestructionCancelsAndJoinsWorkers)
{
    Gate gate;
    std::atomic<bool> finished{false};
    {
        CPrefetchQueue queue(1);
        queue.Post([&](const CPrefetchQueue::Cancelled& cancelled)
                   {
                       gate.Pass(cancelled);
                       finished = true;
                   });
        queue.Post([&](const CPrefetchQueue::Cancelled&) { ADD_FAILURE() << "a queued task ran after the end"; });
        gate.WaitRunning(1);
    }
    EXPECT_TRUE(finished.load());
}
} // namespace
