#pragma once
#include <winsock2.h>

#include <string>

#include "HostResolver.h"
#include "HttpIo.h"
#include "LowSpeedGuard.h"
#include "WinsockUse.h"

// One TCP connection with every wait bounded: the name lookup and a
// non-blocking connect each waited for at most the time-out, then blocking
// sends and receives under SO_SNDTIMEO and SO_RCVTIMEO, and every byte
// received counted against the low-speed limit.
class CTcpSocket
{
public:
    // timeoutMs bounds the lookup, the connect and each send and receive
    // wait. It must not be 0, which SO_RCVTIMEO takes as no bound at all.
    CTcpSocket(DWORD timeoutMs, const CLowSpeedGuard& lowSpeed);
    ~CTcpSocket();
    CTcpSocket(const CTcpSocket&) = delete;
    CTcpSocket& operator=(const CTcpSocket&) = delete;

    // Connects to host (a dotted quad or a name) on port and starts the
    // low-speed window. Unreachable when the name does not resolve in time or
    // the connection is refused, TimedOut when the connect is not answered in
    // time, Error for a local failure; each with the reason in why.
    HttpIo Open(const std::string& host, unsigned port, CHostResolver& resolver, std::string& why);
    // Sends all of size bytes.
    HttpIo Send(const char* data, size_t size);
    // Receives at most size bytes (got > 0 on Ok); Closed when the server
    // ended the connection, TooSlow when the low-speed limit is not met.
    HttpIo Receive(char* buffer, size_t size, size_t& got);

    // True when the server has sent something (bytes, or the end of the
    // connection) that nobody asked for yet: an idle connection so marked is
    // no longer usable.
    bool HasPendingInput() const;
    // Starts a new low-speed window: a kept connection's next request is
    // not judged by the time it lay idle.
    void RestartLowSpeed() { m_lowSpeed.Start(); }

    const CLowSpeedGuard& LowSpeed() const { return m_lowSpeed; }
    // The Winsock error of the last step that failed with one.
    int LastError() const { return m_error; }
    // A Winsock error as diagnostics show it.
    static std::string ErrorText(int error);

private:
    CWinsockUse m_winsock; // first member: outlives the socket
    SOCKET m_socket = INVALID_SOCKET;
    DWORD m_timeoutMs;
    CLowSpeedGuard m_lowSpeed;
    int m_error = 0;
};
