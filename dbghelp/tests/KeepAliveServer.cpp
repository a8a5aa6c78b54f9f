#include "KeepAliveServer.h"

#include <cstdio>

CKeepAliveServer::CKeepAliveServer(Answer answer) : m_answer(std::move(answer))
{
    m_listener = ListenOnLoopback(m_port);
    m_acceptor = std::thread([this] { Accept(); });
}

CKeepAliveServer::~CKeepAliveServer()
{
    m_stopping = true;
    SOCKET waker = ConnectToLoopback(m_port);
    m_acceptor.join();
    closesocket(waker);
    closesocket(m_listener);
    CloseAll();
    for (std::thread& thread : m_threads)
        thread.join();
}

void CKeepAliveServer::CloseAll()
{
    std::lock_guard<std::mutex> hold(m_lock);
    for (SOCKET client : m_open)
        shutdown(client, SD_BOTH);
}

std::vector<std::string> CKeepAliveServer::Paths()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_paths;
}

std::string CKeepAliveServer::Reply(const std::string& status, const std::string& body)
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string CKeepAliveServer::Chunked(const std::string& body)
{
    char size[16];
    snprintf(size, sizeof(size), "%x", static_cast<unsigned>(body.size()));
    return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size) + "\r\n" + body + "\r\n0\r\n\r\n";
}

void CKeepAliveServer::Accept()
{
    for (;;)
    {
        SOCKET client = accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET || m_stopping)
        {
            if (client != INVALID_SOCKET)
                closesocket(client);
            return;
        }
        ++m_connections;
        std::lock_guard<std::mutex> hold(m_lock);
        m_open.push_back(client);
        m_threads.emplace_back([this, client] { Serve(client); });
    }
}

void CKeepAliveServer::Serve(SOCKET client)
{
    // Under Wine a shutdown from another thread does not wake a blocked
    // receive: each wait is short, and the server's end is checked after it.
    const DWORD wait = 100;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof(wait));
    // Replies to pipelined requests go out at once, as from a real server.
    const BOOL noDelay = TRUE;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    std::string pending;
    char buffer[4096];
    for (int answered = 0;; ++answered)
    {
        size_t end = 0;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos)
        {
            const int got = recv(client, buffer, sizeof(buffer), 0);
            if (got < 0 && WSAGetLastError() == WSAETIMEDOUT && !m_stopping)
                continue;
            if (got <= 0)
                break;
            pending.append(buffer, got);
        }
        if (end == std::string::npos || (m_dropAfter >= 0 && answered >= m_dropAfter))
            break;
        const std::string request = pending.substr(0, end);
        pending.erase(0, end + 4);
        const size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_paths.push_back(path);
        }
        const std::string reply = m_answer(path);
        if (reply.empty())
            continue; // a server that never answers
        // A reply without its length ends with the connection. One that
        // says it closes does not: the client must not take the chance.
        const bool closes =
            reply.find("Content-Length") == std::string::npos && reply.find("chunked") == std::string::npos;
        if (send(client, reply.data(), static_cast<int>(reply.size()), 0) != static_cast<int>(reply.size()) || closes)
            break;
    }
    std::lock_guard<std::mutex> hold(m_lock);
    shutdown(client, SD_BOTH);
    closesocket(client);
    for (SOCKET& open : m_open)
    {
        if (open == client)
            open = INVALID_SOCKET;
    }
}
