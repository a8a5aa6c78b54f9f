#pragma once
#include <winsock2.h>

#include <memory>
#include <string>
#include <vector>

#include "HttpIo.h"
#include "TcpSocket.h"

class CTlsChannel;

// One connection to an HTTP server (or to a proxy), plain or through TLS,
// with every wait bounded (see CTcpSocket). Its receive side is a buffer
// that hands out the reply head, single lines and body bytes.
class CHttpConnection
{
public:
    static constexpr size_t kMaxHeadBytes = 16 * 1024; // status line and all headers of one reply
    static constexpr size_t kBufferSize = 256 * 1024;

    // timeoutMs bounds the lookup, the connect and each send and receive
    // wait (not 0); lowSpeed is the limit every byte received counts against.
    CHttpConnection(DWORD timeoutMs, const CLowSpeedGuard& lowSpeed);
    ~CHttpConnection();
    CHttpConnection(const CHttpConnection&) = delete;
    CHttpConnection& operator=(const CHttpConnection&) = delete;

    // Connects to host (a dotted quad or a name) on port: see CTcpSocket::Open.
    HttpIo Open(const std::string& host, unsigned port, CHostResolver& resolver, std::string& why);
    // From here on through TLS, for host (see CTlsChannel::Handshake). Only
    // with nothing received and not yet read.
    HttpIo StartTls(const std::string& host, std::string& why);
    // Sends all of bytes.
    HttpIo Send(const std::string& bytes);
    // The bytes up to and including the first empty line (CRLF or LF line
    // ends); TooLong past kMaxHeadBytes.
    HttpIo ReadHead(std::string& head);
    // One line without its line end, of at most maxLength bytes.
    HttpIo ReadLine(std::string& line, size_t maxLength);
    // Up to maxCount buffered bytes, receiving more when none are buffered;
    // data stays valid until the next call.
    HttpIo Take(size_t maxCount, const char*& data, size_t& count);

    // Bytes received so far (after TLS, before reading): a step that failed
    // with this count unchanged had no byte of its reply.
    unsigned long long Arrived() const { return m_arrived; }
    // An idle connection that may carry another request: nothing unread,
    // nothing pending from the server (no data, no close, no TLS alert).
    bool IsIdleUsable() const;
    // Starts the next request's low-speed window.
    void RestartLowSpeed() { m_socket.RestartLowSpeed(); }

    // The Winsock error of the last step that failed with one.
    int LastError() const { return m_socket.LastError(); }
    // Why the last step that came to Refused did.
    const std::string& RefusedWhy() const { return m_why; }
    const CLowSpeedGuard& LowSpeed() const { return m_socket.LowSpeed(); }

private:
    // Receives more bytes into the buffer, which may move what is unread to
    // its start.
    HttpIo Fill();
    // Fill, with scanned (an index into the unread bytes) moved along.
    HttpIo FillKeeping(size_t& scanned);

    CTcpSocket m_socket;
    std::unique_ptr<CTlsChannel> m_tls; // declared after the socket it uses
    std::vector<char> m_buffer;
    size_t m_begin = 0;
    size_t m_end = 0;
    unsigned long long m_arrived = 0;
    std::string m_why;
};
