#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Runs tasks on at most a fixed number of worker threads, started as work
// comes. Work can be dropped at any time without waiting: queued tasks are
// abandoned, and tasks in flight see their cancellation flag, which they ask
// between steps, and end within their own bounds. Destruction drops all
// work and joins every worker, so no thread outlives the queue.
class CPrefetchQueue
{
public:
    // True once the task's work has been dropped.
    using Cancelled = std::function<bool()>;
    using Task = std::function<void(const Cancelled& cancelled)>;

    explicit CPrefetchQueue(size_t maxWorkers);
    ~CPrefetchQueue();
    CPrefetchQueue(const CPrefetchQueue&) = delete;
    CPrefetchQueue& operator=(const CPrefetchQueue&) = delete;

    // Queues a task of the current batch. A task that posts more work passes
    // its own flag as dropped: once its batch is dropped nothing more is
    // queued for it, not even in the instant of the drop.
    void Post(Task task, const Cancelled& dropped = Cancelled());
    // Drops the current batch and starts a new one; returns at once.
    void Drop();
    // Waits until no task is queued or running.
    void WaitIdle();

private:
    void Work();

    const size_t m_maxWorkers;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    struct Queued
    {
        Task task;
        unsigned long batch;
    };
    std::deque<Queued> m_tasks;
    std::vector<std::thread> m_workers;
    size_t m_running = 0;
    // Advanced by each Drop: a task belongs to the batch it was posted in.
    std::atomic<unsigned long> m_batch{0};
    bool m_stopping = false;
};
