#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CHttpConnection;

// The process's kept-alive connections, each under its route (scheme, host,
// port, and the proxy when one is used), so that the next request to the
// same server needs neither a new TCP connection nor a new TLS handshake. At
// most maxIdle connections wait at once (the oldest goes first), none longer
// than idleMs, and one the server has meanwhile closed (or sent anything on)
// is dropped instead of handed out. Safe to use from several threads: a
// connection is only ever in one caller's hands.
class CHttpConnectionPool
{
public:
    static constexpr size_t kMaxIdle = 8;
    static constexpr DWORD kIdleMs = 30000;

    // clock: milliseconds since some fixed point, wrapping at 2^32 like
    // GetTickCount (the default); tests pass their own.
    explicit CHttpConnectionPool(size_t maxIdle = kMaxIdle, DWORD idleMs = kIdleMs,
                                 std::function<DWORD()> clock = nullptr);
    ~CHttpConnectionPool();
    CHttpConnectionPool(const CHttpConnectionPool&) = delete;
    CHttpConnectionPool& operator=(const CHttpConnectionPool&) = delete;

    // The most recently kept usable connection of route, or null.
    std::unique_ptr<CHttpConnection> Take(const std::string& route);
    // Keeps connection for the next request of route.
    void Keep(const std::string& route, std::unique_ptr<CHttpConnection> connection);
    // Closes every idle connection.
    void Clear();
    size_t IdleCount();

private:
    struct Idle
    {
        std::string route;
        std::unique_ptr<CHttpConnection> connection;
        DWORD since;
    };

    DWORD Now() const;
    // Moves the connections idle for too long into closing.
    void Expire(DWORD now, std::vector<std::unique_ptr<CHttpConnection>>& closing);

    size_t m_maxIdle;
    DWORD m_idleMs;
    std::function<DWORD()> m_clock;
    std::mutex m_lock;
    std::vector<Idle> m_idle; // oldest first
};
