#include <winsock2.h>

#include "TcpSocket.h"

#include <cstring>

#include "HttpText.h"

CTcpSocket::CTcpSocket(DWORD timeoutMs, const CLowSpeedGuard& lowSpeed) : m_timeoutMs(timeoutMs), m_lowSpeed(lowSpeed)
{
}

CTcpSocket::~CTcpSocket()
{
    if (m_socket != INVALID_SOCKET)
        closesocket(m_socket);
}

std::string CTcpSocket::ErrorText(int error)
{
    switch (error)
    {
    case WSAECONNREFUSED:
        return "connection refused";
    case WSAEHOSTUNREACH:
        return "host unreachable";
    case WSAENETUNREACH:
        return "network unreachable";
    case WSAECONNRESET:
        return "connection reset";
    case WSAECONNABORTED:
        return "connection aborted";
    case WSAHOST_NOT_FOUND:
        return "host name not found";
    case WSATRY_AGAIN:
        return "host name lookup failed";
    case WSANO_DATA:
        return "host name has no address";
    default:
        return "error " + CHttpText::Decimal(static_cast<unsigned>(error));
    }
}

// The connect is non-blocking and waited for with select(), so that the wait
// is ours to bound; then the socket goes back to blocking mode with send and
// receive time-outs.
HttpIo CTcpSocket::Open(const std::string& host, unsigned port, CHostResolver& resolver, std::string& why)
{
    if (!m_winsock.Start())
    {
        why = "Winsock could not be started";
        return HttpIo::Error;
    }
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    unsigned long resolved = 0;
    switch (resolver.Resolve(host, m_timeoutMs, resolved, m_error))
    {
    case CHostResolver::Outcome::Found:
        address.sin_addr.s_addr = resolved;
        break;
    case CHostResolver::Outcome::Failed:
        why = ErrorText(m_error);
        return HttpIo::Unreachable;
    case CHostResolver::Outcome::TimedOut:
        why = "host name lookup took longer than " + CHttpText::Decimal(m_timeoutMs) + " ms";
        return HttpIo::Unreachable;
    case CHostResolver::Outcome::Busy:
        why = "too many host name lookups still unanswered";
        return HttpIo::Unreachable;
    }

    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_socket == INVALID_SOCKET)
    {
        why = "No socket (" + ErrorText(WSAGetLastError()) + ")";
        return HttpIo::Error;
    }
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
        {
            why = ErrorText(m_error);
            return HttpIo::Unreachable;
        }
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
            why = ErrorText(m_error);
            return HttpIo::Unreachable;
        }
    }
    // Every request goes out in one send: Nagle's wait for the previous
    // acknowledgement would only cost a kept connection a round trip.
    u_long blocking = 0;
    const DWORD timeout = m_timeoutMs;
    const BOOL noDelay = TRUE;
    if (ioctlsocket(m_socket, FIONBIO, &blocking) != 0 ||
        setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay)) != 0 ||
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout)) != 0 ||
        setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout)) != 0)
    {
        why = "Socket set-up failed (" + ErrorText(WSAGetLastError()) + ")";
        return HttpIo::Error;
    }
    m_lowSpeed.Start();
    return HttpIo::Ok;
}

HttpIo CTcpSocket::Send(const char* data, size_t size)
{
    size_t sent = 0;
    while (sent < size)
    {
        const size_t part = size - sent < 0x10000000u ? size - sent : 0x10000000u;
        const int count = send(m_socket, data + sent, static_cast<int>(part), 0);
        if (count <= 0)
        {
            m_error = WSAGetLastError();
            return m_error == WSAETIMEDOUT ? HttpIo::TimedOut : HttpIo::Error;
        }
        sent += static_cast<size_t>(count);
    }
    return HttpIo::Ok;
}

HttpIo CTcpSocket::Receive(char* buffer, size_t size, size_t& got)
{
    got = 0;
    const int part = static_cast<int>(size < 0x10000000u ? size : 0x10000000u);
    const int count = recv(m_socket, buffer, part, 0);
    if (count < 0)
    {
        m_error = WSAGetLastError();
        if (m_error != WSAETIMEDOUT)
            return HttpIo::Error;
        // A whole receive wait without a byte: the low-speed window may have
        // run out meanwhile, and then the limit is what the server missed.
        return m_lowSpeed.Received(0) ? HttpIo::TimedOut : HttpIo::TooSlow;
    }
    if (count == 0)
        return HttpIo::Closed;
    if (!m_lowSpeed.Received(static_cast<size_t>(count)))
        return HttpIo::TooSlow;
    got = static_cast<size_t>(count);
    return HttpIo::Ok;
}

bool CTcpSocket::HasPendingInput() const
{
    if (m_socket == INVALID_SOCKET)
        return true;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_socket, &readable);
    timeval now = {0, 0};
    return select(0, &readable, nullptr, nullptr, &now) != 0;
}
