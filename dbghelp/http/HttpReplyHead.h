#pragma once

#include <cstddef>
#include <string>

// The head of an HTTP/1.x reply: its status line and the headers that a
// download acts on (Content-Length, Transfer-Encoding, Location, Connection). Every byte
// is the server's, so every one is checked before it means anything.
class CHttpReplyHead
{
public:
    static constexpr size_t kMaxLineLength = 8 * 1024; // one header line
    static constexpr size_t kMaxHeaderCount = 100;

    // Parses bytes up to and including the blank line that ends a head (CRLF
    // or bare LF line ends). Refuses anything but "HTTP/1.x NNN reason" with a
    // status of 100 or more, malformed or oversized header lines, more than
    // kMaxHeaderCount headers, a Content-Length that is not plain decimal or
    // disagrees with an earlier one, a transfer coding other than chunked or
    // identity, and a second Location. False with the reason in why.
    bool Parse(const std::string& bytes, std::string& why);

    int Status() const { return m_status; }
    // The reason phrase as printable text, cut to a readable length.
    const std::string& Reason() const { return m_reason; }
    bool HasLength() const { return m_hasLength; }
    unsigned long long Length() const { return m_length; }
    bool IsChunked() const { return m_chunked; }
    bool HasLocation() const { return m_hasLocation; }
    const std::string& Location() const { return m_location; }
    // 1xx: a provisional reply; the real one follows on the same connection.
    bool IsProvisional() const { return m_status < 200; }
    bool IsRedirect() const;
    // The server keeps the connection open after this reply: HTTP/1.1
    // without "Connection: close". An HTTP/1.0 server closes it (we never ask
    // such a one to keep it).
    bool KeepsConnection() const { return m_minor >= 1 && !m_closes; }
    // Where the body ends is known without the connection ending: chunked,
    // or a Content-Length (or no body at all: 1xx, 204, 304).
    bool IsDelimited() const;

private:
    bool ParseStatusLine(const std::string& text, std::string& why);

    int m_status = 0;
    int m_minor = 0;
    bool m_closes = false;
    std::string m_reason;
    bool m_hasLength = false;
    unsigned long long m_length = 0;
    bool m_chunked = false;
    bool m_hasLocation = false;
    std::string m_location;
};
