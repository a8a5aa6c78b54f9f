#include <winsock2.h>

#include "HttpConnectionPool.h"

#include "HttpConnection.h"

CHttpConnectionPool::CHttpConnectionPool(size_t maxIdle, DWORD idleMs, std::function<DWORD()> clock)
    : m_maxIdle(maxIdle), m_idleMs(idleMs), m_clock(std::move(clock))
{
}

CHttpConnectionPool::~CHttpConnectionPool() = default;

DWORD CHttpConnectionPool::Now() const
{
    return m_clock ? m_clock() : GetTickCount();
}

void CHttpConnectionPool::Expire(DWORD now, std::vector<std::unique_ptr<CHttpConnection>>& closing)
{
    for (auto idle = m_idle.begin(); idle != m_idle.end();)
    {
        if (now - idle->since >= m_idleMs)
        {
            closing.push_back(std::move(idle->connection));
            idle = m_idle.erase(idle);
        }
        else
        {
            ++idle;
        }
    }
}

// Connections are closed outside the lock: a TLS one may take a moment.
std::unique_ptr<CHttpConnection> CHttpConnectionPool::Take(const std::string& route)
{
    std::vector<std::unique_ptr<CHttpConnection>> closing;
    std::lock_guard<std::mutex> hold(m_lock);
    Expire(Now(), closing);
    for (size_t i = m_idle.size(); i-- > 0;)
    {
        if (m_idle[i].route != route)
            continue;
        std::unique_ptr<CHttpConnection> connection = std::move(m_idle[i].connection);
        m_idle.erase(m_idle.begin() + static_cast<std::ptrdiff_t>(i));
        if (connection->IsIdleUsable())
            return connection;
        closing.push_back(std::move(connection));
    }
    return nullptr;
}

void CHttpConnectionPool::Keep(const std::string& route, std::unique_ptr<CHttpConnection> connection)
{
    std::vector<std::unique_ptr<CHttpConnection>> closing;
    if (!connection || m_maxIdle == 0)
        return;
    std::lock_guard<std::mutex> hold(m_lock);
    const DWORD now = Now();
    Expire(now, closing);
    if (m_idle.size() >= m_maxIdle)
    {
        closing.push_back(std::move(m_idle.front().connection));
        m_idle.erase(m_idle.begin());
    }
    m_idle.push_back(Idle{route, std::move(connection), now});
}

void CHttpConnectionPool::Clear()
{
    std::vector<Idle> closing;
    std::lock_guard<std::mutex> hold(m_lock);
    closing.swap(m_idle);
}

size_t CHttpConnectionPool::IdleCount()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_idle.size();
}
