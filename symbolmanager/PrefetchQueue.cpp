#include "PrefetchQueue.h"

#include <utility>

CPrefetchQueue::CPrefetchQueue(size_t maxWorkers) : m_maxWorkers(maxWorkers == 0 ? 1 : maxWorkers)
{
}

CPrefetchQueue::~CPrefetchQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
        m_tasks.clear();
        ++m_batch;
    }
    m_wake.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

void CPrefetchQueue::Post(Task task, const Cancelled& dropped)
{
    std::lock_guard<std::mutex> lock(m_lock);
    // Drop advances the batch under this lock: the answer holds until the task is queued.
    if (m_stopping || (dropped && dropped()))
        return;
    m_tasks.push_back(Queued{std::move(task), m_batch.load()});
    // One more worker only while all the others are busy.
    if (m_workers.size() < m_maxWorkers && m_running + m_tasks.size() > m_workers.size())
        m_workers.emplace_back(&CPrefetchQueue::Work, this);
    m_wake.notify_one();
}

void CPrefetchQueue::Drop()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_tasks.clear();
    ++m_batch;
    if (m_running == 0)
        m_idle.notify_all();
}

void CPrefetchQueue::WaitIdle()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_idle.wait(lock, [this] { return m_tasks.empty() && m_running == 0; });
}

void CPrefetchQueue::Work()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;)
    {
        m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
        if (m_stopping)
            return;
        Queued queued = std::move(m_tasks.front());
        m_tasks.pop_front();
        ++m_running;
        lock.unlock();
        // The task asks, without the queue's lock, whether a Drop came since it was posted.
        const unsigned long batch = queued.batch;
        queued.task([this, batch] { return m_batch.load() != batch; });
        lock.lock();
        --m_running;
        if (m_running == 0 && m_tasks.empty())
            m_idle.notify_all();
    }
}
