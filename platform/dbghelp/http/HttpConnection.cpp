#include <winsock2.h>
#include <ws2tcpip.h>

#include "HttpConnection.h"

#include <cstring>

CHttpConnection::CHttpConnection(DWORD timeoutMs) : m_timeoutMs(timeoutMs), m_buffer(kBufferSize) {}

CHttpConnection::~CHttpConnection()
{
    if (m_socket != INVALID_SOCKET)
        closesocket(m_socket);
}

std::string CHttpConnection::ErrorText(int error)
{
    switch (error)
    {
    case WSAECONNREFUSED: return "connection refused";
    case WSAEHOSTUNREACH: return "host unreachable";
    case WSAENETUNREACH: return "network unreachable";
    case WSAECONNRESET: return "connection reset";
    case WSAHOST_NOT_FOUND: return "host name not found";
    case WSATRY_AGAIN: return "host name lookup failed";
    case WSANO_DATA: return "host name has no address";
    default: return "error " + std::to_string(static_cast<unsigned>(error));
    }
}

bool CHttpConnection::Resolve(const std::string& host, unsigned port, sockaddr_in& address)
{
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    // A dotted quad needs no resolver (and no resolver wait).
    const unsigned long literal = inet_addr(host.c_str());
    if (literal != INADDR_NONE)
    {
        address.sin_addr.s_addr = literal;
        return true;
    }
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    m_error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (m_error != 0 || found == nullptr)
    {
        if (m_error == 0)
            m_error = WSANO_DATA;
        return false;
    }
    address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

// The connect is non-blocking and waited for with select(), so that the wait
// is ours to bound; then the socket goes back to blocking mode with send and
// receive time-outs.
HttpIo CHttpConnection::Open(const std::string& host, unsigned port, std::string& why)
{
    if (!m_winsock.Start())
    {
        why = "Winsock could not be started";
        return HttpIo::Error;
    }
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_socket == INVALID_SOCKET)
    {
        why = "No socket (" + ErrorText(WSAGetLastError()) + ")";
        return HttpIo::Error;
    }
    sockaddr_in address;
    if (!Resolve(host, port, address))
        return HttpIo::Unreachable;
    u_long nonBlocking = 1;
    if (ioctlsocket(m_socket, FIONBIO, &nonBlocking) != 0)
    {
        why = "Socket set-up failed (" + ErrorText(WSAGetLastError()) + ")";
        return HttpIo::Error;
    }
    if (connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    {
        m_error = WSAGetLastError();
        if (m_error != WSAEWOULDBLOCK)
            return HttpIo::Unreachable;
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(m_socket, &writable);
        FD_SET(m_socket, &failed);
        timeval wait;
        wait.tv_sec = static_cast<long>(m_timeoutMs / 1000);
        wait.tv_usec = static_cast<long>((m_timeoutMs % 1000) * 1000);
        const int ready = select(0, nullptr, &writable, &failed, &wait);
        if (ready == 0)
            return HttpIo::TimedOut;
        if (ready < 0)
        {
            why = "Connect failed (" + ErrorText(WSAGetLastError()) + ")";
            return HttpIo::Error;
        }
        int socketError = 0;
        int size = sizeof(socketError);
        if (getsockopt(m_socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&socketError), &size) != 0)
            socketError = WSAGetLastError();
        if (socketError == 0 && FD_ISSET(m_socket, &failed))
            socketError = WSAECONNREFUSED;
        if (socketError != 0)
        {
            m_error = socketError;
            return HttpIo::Unreachable;
        }
    }
    u_long blocking = 0;
    const DWORD timeout = m_timeoutMs;
    if (ioctlsocket(m_socket, FIONBIO, &blocking) != 0 ||
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout)) != 0 ||
        setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout)) != 0)
    {
        why = "Socket set-up failed (" + ErrorText(WSAGetLastError()) + ")";
        return HttpIo::Error;
    }
    return HttpIo::Ok;
}

HttpIo CHttpConnection::Send(const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size())
    {
        const int count = send(m_socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (count <= 0)
        {
            m_error = WSAGetLastError();
            return m_error == WSAETIMEDOUT ? HttpIo::TimedOut : HttpIo::Error;
        }
        sent += static_cast<size_t>(count);
    }
    return HttpIo::Ok;
}

HttpIo CHttpConnection::ReadHead(std::string& head)
{
    size_t scanned = m_begin;
    for (;;)
    {
        for (; scanned < m_end; ++scanned)
        {
            if (m_buffer[scanned] != '\n')
                continue;
            size_t next = scanned + 1;
            if (next < m_end && m_buffer[next] == '\r')
                ++next;
            if (next < m_end && m_buffer[next] == '\n')
            {
                head.assign(&m_buffer[m_begin], next + 1 - m_begin);
                m_begin = next + 1;
                return HttpIo::Ok;
            }
            if (next + 1 > m_end)
                break;  // the head may end in bytes not yet received
        }
        if (m_end - m_begin >= kMaxHeadBytes)
            return HttpIo::TooLong;
        const HttpIo io = FillKeeping(scanned);
        if (io != HttpIo::Ok)
            return io;
    }
}

HttpIo CHttpConnection::ReadLine(std::string& line, size_t maxLength)
{
    size_t scanned = m_begin;
    for (;;)
    {
        for (; scanned < m_end; ++scanned)
        {
            if (m_buffer[scanned] == '\n')
            {
                size_t length = scanned - m_begin;
                if (length > 0 && m_buffer[scanned - 1] == '\r')
                    --length;
                line.assign(&m_buffer[m_begin], length);
                m_begin = scanned + 1;
                return HttpIo::Ok;
            }
        }
        if (m_end - m_begin > maxLength + 1)
            return HttpIo::TooLong;
        const HttpIo io = FillKeeping(scanned);
        if (io != HttpIo::Ok)
            return io;
    }
}

HttpIo CHttpConnection::Take(size_t maxCount, const char*& data, size_t& count)
{
    if (m_begin == m_end)
    {
        const HttpIo io = Fill();
        if (io != HttpIo::Ok)
            return io;
    }
    count = m_end - m_begin < maxCount ? m_end - m_begin : maxCount;
    data = &m_buffer[m_begin];
    m_begin += count;
    return HttpIo::Ok;
}

HttpIo CHttpConnection::FillKeeping(size_t& scanned)
{
    const size_t offset = scanned - m_begin;
    const HttpIo io = Fill();
    scanned = m_begin + offset;
    return io;
}

HttpIo CHttpConnection::Fill()
{
    if (m_begin == m_end)
    {
        m_begin = 0;
        m_end = 0;
    }
    else if (m_end == m_buffer.size())
    {
        memmove(&m_buffer[0], &m_buffer[m_begin], m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_end == m_buffer.size())
        return HttpIo::TooLong;
    const int got = recv(m_socket, &m_buffer[m_end], static_cast<int>(m_buffer.size() - m_end), 0);
    if (got == 0)
        return HttpIo::Closed;
    if (got < 0)
    {
        m_error = WSAGetLastError();
        return m_error == WSAETIMEDOUT ? HttpIo::TimedOut : HttpIo::Error;
    }
    m_end += static_cast<size_t>(got);
    return HttpIo::Ok;
}
