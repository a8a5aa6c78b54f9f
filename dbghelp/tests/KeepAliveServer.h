#pragma once
#include <winsock2.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HttpTestSupport.h"

// An HTTP/1.1 server on 127.0.0.1 that keeps its connections open, for the
// tests of kept and pipelined connections: one thread per connection reads
// requests (pipelined ones too) and answers each in turn with the bytes that
// the answer function gives for its path (none for an empty string). It counts connections and
// requests, and can play a server that drops idle connections.
class CKeepAliveServer
{
public:
    using Answer = std::function<std::string(const std::string& path)>;

    explicit CKeepAliveServer(Answer answer);
    ~CKeepAliveServer();
    CKeepAliveServer(const CKeepAliveServer&) = delete;
    CKeepAliveServer& operator=(const CKeepAliveServer&) = delete;

    unsigned Port() const { return m_port; }
    std::string Url(const std::string& path) const { return LoopbackUrl(m_port, path); }

    // A connection that has carried count replies is closed without a word
    // when the next request arrives on it, as by a server whose idle time-out
    // ran out just then (0: every request is dropped; -1, the default: never).
    void DropAfter(int count) { m_dropAfter = count; }
    // Closes every open connection now (an idle time-out that ran out earlier).
    void CloseAll();

    int Connections() const { return m_connections; }
    // The paths answered, in order.
    std::vector<std::string> Paths();

    // Replies as the answer function may give them.
    static std::string Reply(const std::string& status, const std::string& body);
    static std::string Chunked(const std::string& body);

private:
    void Accept();
    void Serve(SOCKET client);

    CWinsockForTest m_winsock;
    Answer m_answer;
    SOCKET m_listener = INVALID_SOCKET;
    unsigned m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_dropAfter{-1};
    std::atomic<int> m_connections{0};
    std::mutex m_lock;
    std::vector<std::string> m_paths;
    std::vector<SOCKET> m_open;
    std::vector<std::thread> m_threads;
    std::thread m_acceptor;
};
