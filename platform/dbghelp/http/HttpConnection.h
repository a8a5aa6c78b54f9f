#pragma once
#include <winsock2.h>

#include <string>
#include <vector>

#include "WinsockUse.h"

// What one step on a connection came to.
enum class HttpIo { Ok, Closed, TimedOut, Unreachable, Error, TooLong };

// One TCP connection to an HTTP server with every wait bounded: a
// non-blocking connect waited for with select(), then blocking sends and
// receives under SO_SNDTIMEO and SO_RCVTIMEO. Its receive side is a buffer
// that hands out the reply head, single lines and body bytes.
class CHttpConnection
{
public:
    static constexpr size_t kMaxHeadBytes = 16 * 1024;  // status line and all headers of one reply
    static constexpr size_t kBufferSize = 64 * 1024;

    // timeoutMs bounds the connect and each send and receive wait. It must
    // not be 0, which SO_RCVTIMEO takes as no bound at all.
    explicit CHttpConnection(DWORD timeoutMs);
    ~CHttpConnection();
    CHttpConnection(const CHttpConnection&) = delete;
    CHttpConnection& operator=(const CHttpConnection&) = delete;

    // Connects to host (a dotted quad or a name) on port. Unreachable when the
    // name does not resolve or the connection is refused, TimedOut when the
    // connect is not answered in time, Error with the reason in why for a
    // local failure. LastError() holds the Winsock error of the first two.
    HttpIo Open(const std::string& host, unsigned port, std::string& why);
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

    // The Winsock error of the last step that failed with one.
    int LastError() const { return m_error; }
    // A Winsock error as diagnostics show it.
    static std::string ErrorText(int error);

private:
    bool Resolve(const std::string& host, unsigned port, sockaddr_in& address);
    // Receives more bytes into the buffer, which may move what is unread to
    // its start.
    HttpIo Fill();
    // Fill, with scanned (an index into the unread bytes) moved along.
    HttpIo FillKeeping(size_t& scanned);

    CWinsockUse m_winsock;  // first member: outlives the socket
    SOCKET m_socket = INVALID_SOCKET;
    DWORD m_timeoutMs;
    std::vector<char> m_buffer;
    size_t m_begin = 0;
    size_t m_end = 0;
    int m_error = 0;
};
