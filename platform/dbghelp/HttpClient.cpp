// HTTP/1.1 downloads for the symbol library's HTTP stores, on Winsock 2.
//
// Why not WinINet or WinHTTP: the symbol library runs inside the debugger's
// process, and a store server that accepts a connection and then never
// answers must not hang the debugger. Under Wine 8, InternetOpenUrlA and
// WinHTTP both block indefinitely against such a server although their
// connect and receive time-outs were accepted (and closing the handle from
// another thread does not release them), while Winsock's SO_RCVTIMEO is
// honoured. So the bound is built from Winsock alone, the same code on Windows
// and on Wine: a non-blocking connect waited for with select(), then blocking
// I/O with SO_SNDTIMEO and SO_RCVTIMEO. The price is that we speak the little
// HTTP we need ourselves: one GET per connection ("Connection: close"), no
// compression, no proxies, no https.

#include <winsock2.h>
#include <ws2tcpip.h>

#include "HttpClient.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "ByteReader.h"

namespace
{

// Limits on what a server may send before we give up on it.
constexpr size_t kMaxHeadBytes = 16 * 1024;    // status line and all headers of one reply
constexpr size_t kMaxLineLength = 8 * 1024;    // one header line
constexpr size_t kMaxHeaderCount = 100;
constexpr size_t kMaxChunkLine = 1024;         // chunk size plus any chunk extensions
constexpr int kMaxInterimReplies = 4;          // 1xx replies skipped before the real one
constexpr size_t kMaxUrlLength = 4096;
constexpr size_t kMaxReasonShown = 64;
constexpr size_t kReceiveBufferSize = 64 * 1024;
constexpr DWORD kRenameAttempts = 5;

const char kLinePrefix[] = "SYMSRV:  ";

std::string Decimal(unsigned long long value)
{
    return std::to_string(value);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCase(std::string text)
{
    for (char& c : text)
        c = Lower(c);
    return text;
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t length = strlen(prefix);
    if (text.size() < length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (Lower(text[i]) != Lower(prefix[i]))
            return false;
    return true;
}

std::string TrimBlanks(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

// Server text shown to the user: printable ASCII only, and not too much of it.
std::string Printable(const std::string& text, size_t limit)
{
    std::string shown;
    for (char c : text)
    {
        if (shown.size() == limit)
        {
            shown += "...";
            break;
        }
        shown += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return shown;
}

std::string WinsockErrorText(int error)
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
    default: return "error " + Decimal(static_cast<unsigned>(error));
    }
}

// ---------------------------------------------------------------------------
// Winsock start-up, shared by every download in the process: the first user
// starts it and the last one cleans it up. Holding it only while a download
// runs means no Winsock call is ever left for DLL unload time, where
// WSACleanup must not be called.

std::mutex g_winsockLock;
int g_winsockUsers = 0;

class CWinsockUse
{
public:
    CWinsockUse() = default;
    ~CWinsockUse()
    {
        if (!m_started)
            return;
        std::lock_guard<std::mutex> hold(g_winsockLock);
        if (--g_winsockUsers == 0)
            WSACleanup();
    }
    CWinsockUse(const CWinsockUse&) = delete;
    CWinsockUse& operator=(const CWinsockUse&) = delete;

    bool Start()
    {
        if (m_started)
            return true;
        std::lock_guard<std::mutex> hold(g_winsockLock);
        if (g_winsockUsers == 0)
        {
            WSADATA data;
            if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
                return false;
        }
        ++g_winsockUsers;
        m_started = true;
        return true;
    }

private:
    bool m_started = false;
};

class CSocket
{
public:
    explicit CSocket(SOCKET socket) : m_socket(socket) {}
    ~CSocket()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
    }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    bool IsValid() const { return m_socket != INVALID_SOCKET; }
    SOCKET Get() const { return m_socket; }

private:
    SOCKET m_socket;
};

// ---------------------------------------------------------------------------
// The temporary file a body is written to. It is deleted unless Commit renamed
// it into place, so every early return cleans up after itself.

volatile LONG g_tempFileCounter = 0;

class CTempFile
{
public:
    CTempFile() = default;
    ~CTempFile() { Discard(); }
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;

    // A new file beside target, named so that no two downloads (in this or
    // another process) share it; CREATE_NEW refuses to reuse a leftover.
    bool Create(const std::string& target)
    {
        char suffix[64];
        snprintf(suffix, sizeof(suffix), ".tmp-%lu-%lu-%ld", GetCurrentProcessId(), GetCurrentThreadId(),
                 InterlockedIncrement(&g_tempFileCounter));
        m_path = target + suffix;
        m_handle = CreateFileA(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        m_error = GetLastError();
        return m_handle != INVALID_HANDLE_VALUE;
    }

    bool Write(const char* data, size_t size)
    {
        while (size > 0)
        {
            DWORD written = 0;
            const DWORD part = static_cast<DWORD>(size < kReceiveBufferSize ? size : kReceiveBufferSize);
            if (!WriteFile(m_handle, data, part, &written, nullptr) || written != part)
            {
                m_error = GetLastError();
                return false;
            }
            data += part;
            size -= part;
        }
        return true;
    }

    // Flushes the file and renames it to target, replacing what was there.
    bool Commit(const std::string& target)
    {
        const BOOL flushed = FlushFileBuffers(m_handle);
        if (!flushed)
            m_error = GetLastError();
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        if (!flushed)
            return false;
        // Another thread may be moving its download of the same file into
        // place at this instant, or a reader may hold the old file open for a
        // moment: both refuse the rename with access denied or a sharing
        // violation. A few short retries (150 ms at most) ride that out.
        for (DWORD attempt = 1;; ++attempt)
        {
            if (MoveFileExA(m_path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                break;
            m_error = GetLastError();
            if ((m_error != ERROR_ACCESS_DENIED && m_error != ERROR_SHARING_VIOLATION) || attempt == kRenameAttempts)
                return false;
            Sleep(10 * attempt);
        }
        m_path.clear();
        return true;
    }

    const std::string& Path() const { return m_path; }
    DWORD Error() const { return m_error; }

private:
    void Discard()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        if (!m_path.empty())
            DeleteFileA(m_path.c_str());
        m_path.clear();
    }

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::string m_path;
    DWORD m_error = 0;
};

// ---------------------------------------------------------------------------
// URLs

struct HttpUrl
{
    std::string host;     // lower case
    unsigned port = 80;
    std::string target;   // path and query, percent-encoded, starting with "/"

    std::string Server() const { return host + ":" + Decimal(port); }
    std::string HostHeader() const { return port == 80 ? host : Server(); }
    std::string Text() const { return "http://" + HostHeader() + target; }
};

// Characters that may stand in a request target as they are; everything else
// (blanks, controls, quotes, backslashes, bytes above 127) is percent-encoded.
bool IsTargetCharacter(char c)
{
    return IsAlpha(c) || IsDigit(c) || strchr("-._~!$&'()*+,;=:@/?", c) != nullptr;
}

std::string EncodeTarget(const std::string& raw)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (size_t i = 0; i < raw.size(); ++i)
    {
        const char c = raw[i];
        const bool escape = c == '%' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 && HexValue(raw[i + 2]) >= 0;
        if (c != '\0' && (IsTargetCharacter(c) || escape))
        {
            encoded += c;
        }
        else
        {
            const unsigned char byte = static_cast<unsigned char>(c);
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 15];
        }
    }
    return encoded;
}

// "/a/b/../c/./d" -> "/a/c/d", as a browser resolves a relative reference.
std::string RemoveDotSegments(const std::string& path)
{
    std::vector<std::string> kept;
    bool endsInDirectory = false;
    size_t position = 1;
    for (;;)
    {
        const size_t slash = path.find('/', position);
        const bool last = slash == std::string::npos;
        const std::string segment = path.substr(position, last ? std::string::npos : slash - position);
        if (segment == "..")
        {
            if (!kept.empty())
                kept.pop_back();
        }
        else if (segment != ".")
        {
            kept.push_back(segment);
        }
        if (last)
        {
            endsInDirectory = segment == "." || segment == "..";
            break;
        }
        position = slash + 1;
    }
    std::string result;
    for (const std::string& segment : kept)
        result += "/" + segment;
    if (result.empty() || endsInDirectory)
        result += "/";
    return result;
}

bool ParseHttpUrl(const std::string& text, HttpUrl& url, std::string& why)
{
    if (text.size() > kMaxUrlLength)
    {
        why = "URL too long";
        return false;
    }
    if (!StartsWithNoCase(text, "http://"))
    {
        why = "only http:// URLs are supported";
        return false;
    }
    const size_t authorityStart = 7;
    size_t authorityEnd = text.find_first_of("/?#", authorityStart);
    if (authorityEnd == std::string::npos)
        authorityEnd = text.size();
    const std::string authority = text.substr(authorityStart, authorityEnd - authorityStart);

    const size_t colon = authority.find(':');
    url.host = LowerCase(authority.substr(0, colon));
    if (url.host.empty())
    {
        why = "no host name";
        return false;
    }
    for (char c : url.host)
    {
        if (!IsAlpha(c) && !IsDigit(c) && c != '.' && c != '-' && c != '_')
        {
            why = "unsupported host name";
            return false;
        }
    }
    url.port = 80;
    if (colon != std::string::npos)
    {
        const std::string port = authority.substr(colon + 1);
        unsigned value = 0;
        for (char c : port)
        {
            if (!IsDigit(c) || value > 65535)
            {
                why = "bad port";
                return false;
            }
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (port.empty() || value == 0 || value > 65535)
        {
            why = "bad port";
            return false;
        }
        url.port = value;
    }

    std::string rest = text.substr(authorityEnd);
    rest = rest.substr(0, rest.find('#'));
    if (rest.empty() || rest[0] != '/')
        rest = "/" + rest;
    url.target = EncodeTarget(rest);
    return true;
}

// The URL a Location header leads to, seen from base.
bool ResolveLocation(const HttpUrl& base, const std::string& location, HttpUrl& next, std::string& why)
{
    size_t schemeEnd = 0;
    while (schemeEnd < location.size() &&
           (IsAlpha(location[schemeEnd]) || (schemeEnd > 0 && (IsDigit(location[schemeEnd]) || location[schemeEnd] == '+' ||
                                                               location[schemeEnd] == '-' || location[schemeEnd] == '.'))))
        ++schemeEnd;
    if (schemeEnd > 0 && schemeEnd < location.size() && location[schemeEnd] == ':')
    {
        if (!StartsWithNoCase(location, "http:"))
        {
            why = "redirect to another protocol: " + Printable(location, kMaxReasonShown);
            return false;
        }
        return ParseHttpUrl(location, next, why);
    }
    if (location.compare(0, 2, "//") == 0)
        return ParseHttpUrl("http:" + location, next, why);

    const std::string reference = location.substr(0, location.find('#'));
    const std::string basePath = base.target.substr(0, base.target.find('?'));
    std::string merged;
    if (reference.empty())
        merged = base.target;
    else if (reference[0] == '/')
        merged = reference;
    else if (reference[0] == '?')
        merged = basePath + reference;
    else
        merged = basePath.substr(0, basePath.rfind('/') + 1) + reference;

    const size_t query = merged.find('?');
    const std::string path = RemoveDotSegments(merged.substr(0, query));
    next.host = base.host;
    next.port = base.port;
    next.target = EncodeTarget(query == std::string::npos ? path : path + merged.substr(query));
    return true;
}

// ---------------------------------------------------------------------------
// Reply head: status line and headers, parsed from the bytes up to and
// including the blank line that ends them.

struct ReplyHead
{
    int status = 0;
    std::string reason;
    bool hasLength = false;
    unsigned long long length = 0;
    bool chunked = false;
    bool hasLocation = false;
    std::string location;
};

// One line of the head without its line end (CRLF or a bare LF).
bool ReadHeadLine(CByteReader& reader, std::string& line)
{
    if (!reader.ReadUntil('\n', line, kMaxLineLength))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool IsTokenCharacter(char c)
{
    return IsAlpha(c) || IsDigit(c) || strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// "HTTP/1.x NNN reason"
bool ParseStatusLine(const std::string& text, ReplyHead& head, std::string& why)
{
    CByteReader line(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    uint8_t minor = 0;
    uint8_t blank = 0;
    uint8_t digits[3] = {};
    if (!line.ReadMatch("HTTP/1.", 7) || !line.ReadU8(minor) || !IsDigit(static_cast<char>(minor)) || !line.ReadU8(blank) ||
        blank != ' ' || !line.ReadBytes(digits, sizeof(digits)))
    {
        why = "not an HTTP/1.x status line: \"" + Printable(text, kMaxReasonShown) + "\"";
        return false;
    }
    head.status = 0;
    for (uint8_t digit : digits)
    {
        if (!IsDigit(static_cast<char>(digit)))
        {
            why = "bad status code";
            return false;
        }
        head.status = head.status * 10 + (digit - '0');
    }
    if (head.status < 100)
    {
        why = "bad status code";
        return false;
    }
    head.reason.clear();
    if (line.GetRemaining() > 0)
    {
        if (!line.ReadU8(blank) || blank != ' ')
        {
            why = "bad status line";
            return false;
        }
        line.ReadFixedString(head.reason, line.GetRemaining());
        head.reason = Printable(head.reason, kMaxReasonShown);
    }
    return true;
}

bool ParseContentLength(const std::string& value, unsigned long long& length)
{
    if (value.empty() || value.size() > 19)
        return false;
    length = 0;
    for (char c : value)
    {
        if (!IsDigit(c))
            return false;
        length = length * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

// Only "chunked" (possibly after "identity") can be undone here: we ask for
// identity content, so any other coding is a server we cannot read.
bool ParseTransferEncoding(const std::string& value, bool& chunked)
{
    chunked = false;
    size_t start = 0;
    for (;;)
    {
        const size_t comma = value.find(',', start);
        const std::string coding = LowerCase(TrimBlanks(value.substr(start, comma == std::string::npos ? comma : comma - start)));
        if (chunked)
            return false;  // chunked must be the last coding
        if (coding == "chunked")
            chunked = true;
        else if (coding != "identity")
            return false;
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

bool ParseHead(const std::string& bytes, ReplyHead& head, std::string& why)
{
    CByteReader reader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::string line;
    if (!ReadHeadLine(reader, line))
    {
        why = "status line too long";
        return false;
    }
    if (!ParseStatusLine(line, head, why))
        return false;

    size_t count = 0;
    for (;;)
    {
        if (!ReadHeadLine(reader, line))
        {
            why = "header line too long";
            return false;
        }
        if (line.empty())
            return true;
        if (++count > kMaxHeaderCount)
        {
            why = "too many headers";
            return false;
        }
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos)
        {
            why = "malformed header line";
            return false;
        }
        const std::string name = LowerCase(line.substr(0, colon));
        for (char c : name)
        {
            if (!IsTokenCharacter(c))
            {
                why = "malformed header name";
                return false;
            }
        }
        const std::string value = TrimBlanks(line.substr(colon + 1));
        for (char c : value)
        {
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
            {
                why = "control character in header";
                return false;
            }
        }

        if (name == "content-length")
        {
            unsigned long long length = 0;
            if (!ParseContentLength(value, length) || (head.hasLength && head.length != length))
            {
                why = "bad Content-Length \"" + Printable(value, kMaxReasonShown) + "\"";
                return false;
            }
            head.hasLength = true;
            head.length = length;
        }
        else if (name == "transfer-encoding")
        {
            bool chunked = false;
            if (head.chunked || !ParseTransferEncoding(value, chunked))
            {
                why = "unsupported Transfer-Encoding \"" + Printable(value, kMaxReasonShown) + "\"";
                return false;
            }
            head.chunked = chunked;
        }
        else if (name == "location")
        {
            if (head.hasLocation)
            {
                why = "more than one Location";
                return false;
            }
            head.hasLocation = true;
            head.location = value;
        }
    }
}

bool IsRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// ---------------------------------------------------------------------------
// One connection's receive side: a buffer over the socket, read in blocking
// mode with SO_RCVTIMEO bounding every wait.

enum class Io { Ok, Closed, TimedOut, Error, TooLong };

class CConnection
{
public:
    explicit CConnection(SOCKET socket) : m_socket(socket), m_buffer(kReceiveBufferSize) {}

    int LastError() const { return m_error; }

    // Bytes up to and including the first empty line (CRLF or LF line ends).
    Io ReadHead(std::string& head)
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
                    return Io::Ok;
                }
                if (next + 1 > m_end)
                    break;  // the head may end in bytes not yet received
            }
            if (m_end - m_begin >= kMaxHeadBytes)
                return Io::TooLong;
            const size_t offset = scanned - m_begin;
            const Io io = Fill();
            if (io != Io::Ok)
                return io;
            scanned = m_begin + offset;
        }
    }

    // One line without its line end, of at most maxLength bytes.
    Io ReadLine(std::string& line, size_t maxLength)
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
                    return Io::Ok;
                }
            }
            if (m_end - m_begin > maxLength + 1)
                return Io::TooLong;
            const size_t offset = scanned - m_begin;
            const Io io = Fill();
            if (io != Io::Ok)
                return io;
            scanned = m_begin + offset;
        }
    }

    // Up to maxCount buffered bytes, receiving more when none are buffered.
    Io Take(size_t maxCount, const char*& data, size_t& count)
    {
        if (m_begin == m_end)
        {
            const Io io = Fill();
            if (io != Io::Ok)
                return io;
        }
        count = m_end - m_begin < maxCount ? m_end - m_begin : maxCount;
        data = &m_buffer[m_begin];
        m_begin += count;
        return Io::Ok;
    }

private:
    Io Fill()
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
            return Io::TooLong;
        const int got = recv(m_socket, &m_buffer[m_end], static_cast<int>(m_buffer.size() - m_end), 0);
        if (got == 0)
            return Io::Closed;
        if (got < 0)
        {
            m_error = WSAGetLastError();
            return m_error == WSAETIMEDOUT ? Io::TimedOut : Io::Error;
        }
        m_end += static_cast<size_t>(got);
        return Io::Ok;
    }

    SOCKET m_socket;
    std::vector<char> m_buffer;
    size_t m_begin = 0;
    size_t m_end = 0;
    int m_error = 0;
};

// ---------------------------------------------------------------------------
// One call of Download: follows redirects, reports each step through diag.

class CDownload
{
public:
    CDownload(const HttpOptions& options, CServerBackoff& backoff, const std::string& targetPath, const HttpDiag& diag,
              unsigned long long* bytes)
        : m_options(options), m_backoff(backoff), m_targetPath(targetPath), m_diag(diag), m_bytes(bytes)
    {
        if (m_options.timeoutMs == 0)
            m_options.timeoutMs = 1;  // 0 would mean "wait forever" to SO_RCVTIMEO
    }

    HttpResult Run(const std::string& urlText)
    {
        HttpUrl url;
        std::string why;
        if (!ParseHttpUrl(urlText, url, why))
        {
            Say("Cannot fetch " + Printable(urlText, kMaxUrlLength) + ": " + why);
            return HttpResult::Failed;
        }
        for (int redirects = 0;; ++redirects)
        {
            if (m_backoff.IsOffline(url.Server()))
            {
                Say(url.Server() + " is offline; skipped");
                return HttpResult::Offline;
            }
            Say("HTTP GET " + url.Text());
            HttpUrl next;
            const HttpResult result = Fetch(url, next);
            if (!m_redirected)
                return result;
            if (redirects >= m_options.maxRedirects)
            {
                Say("Too many redirects (more than " + Decimal(m_options.maxRedirects < 0 ? 0 : m_options.maxRedirects) + ")");
                return HttpResult::Failed;
            }
            url = next;
        }
    }

private:
    void Say(const std::string& text)
    {
        if (m_diag)
            m_diag(kLinePrefix + text + "\n");
    }

    HttpResult TimedOut(const HttpUrl& url)
    {
        Say(url.Server() + " did not answer within " + Decimal(m_options.timeoutMs) + " ms; skipped for " +
            Decimal(m_options.offlineSeconds) + " s");
        m_backoff.MarkOffline(url.Server(), m_options.offlineSeconds);
        return HttpResult::TimedOut;
    }

    HttpResult Unreachable(const HttpUrl& url, int error)
    {
        Say(url.Server() + " could not be reached (" + WinsockErrorText(error) + "); skipped for " +
            Decimal(m_options.offlineSeconds) + " s");
        m_backoff.MarkOffline(url.Server(), m_options.offlineSeconds);
        return HttpResult::Unreachable;
    }

    HttpResult Failed(const std::string& why)
    {
        Say(why);
        return HttpResult::Failed;
    }

    // What an I/O failure in the middle of a reply means.
    HttpResult ReplyBroken(const HttpUrl& url, Io io, CConnection& connection, const char* when)
    {
        switch (io)
        {
        case Io::TimedOut: return TimedOut(url);
        case Io::Closed: return Failed(std::string("Connection closed ") + when);
        case Io::TooLong: return Failed(std::string("Reply rejected: line too long ") + when);
        default: return Failed(std::string("Receive failed ") + when + " (" + WinsockErrorText(connection.LastError()) + ")");
        }
    }

    bool Resolve(const HttpUrl& url, sockaddr_in& address, int& error)
    {
        memset(&address, 0, sizeof(address));
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(url.port));
        // A dotted quad needs no resolver (and no resolver wait).
        const unsigned long literal = inet_addr(url.host.c_str());
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
        error = getaddrinfo(url.host.c_str(), nullptr, &hints, &found);
        if (error != 0 || found == nullptr)
        {
            if (error == 0)
                error = WSANO_DATA;
            return false;
        }
        address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
        return true;
    }

    // Non-blocking connect waited for with select(), so that the wait is ours
    // to bound; then back to blocking mode with send and receive time-outs.
    HttpResult Connect(const HttpUrl& url, const CSocket& socket)
    {
        sockaddr_in address;
        int error = 0;
        if (!Resolve(url, address, error))
            return Unreachable(url, error);
        u_long nonBlocking = 1;
        if (ioctlsocket(socket.Get(), FIONBIO, &nonBlocking) != 0)
            return Failed("Socket set-up failed (" + WinsockErrorText(WSAGetLastError()) + ")");
        if (connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        {
            error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK)
                return Unreachable(url, error);
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(socket.Get(), &writable);
            FD_SET(socket.Get(), &failed);
            timeval wait;
            wait.tv_sec = static_cast<long>(m_options.timeoutMs / 1000);
            wait.tv_usec = static_cast<long>((m_options.timeoutMs % 1000) * 1000);
            const int ready = select(0, nullptr, &writable, &failed, &wait);
            if (ready == 0)
                return TimedOut(url);
            if (ready < 0)
                return Failed("Connect failed (" + WinsockErrorText(WSAGetLastError()) + ")");
            int socketError = 0;
            int size = sizeof(socketError);
            if (getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&socketError), &size) != 0)
                socketError = WSAGetLastError();
            if (socketError == 0 && FD_ISSET(socket.Get(), &failed))
                socketError = WSAECONNREFUSED;
            if (socketError != 0)
                return Unreachable(url, socketError);
        }
        u_long blocking = 0;
        const DWORD timeout = m_options.timeoutMs;
        if (ioctlsocket(socket.Get(), FIONBIO, &blocking) != 0 ||
            setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout)) != 0 ||
            setsockopt(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout)) != 0)
            return Failed("Socket set-up failed (" + WinsockErrorText(WSAGetLastError()) + ")");
        return HttpResult::Ok;
    }

    HttpResult SendRequest(const HttpUrl& url, const CSocket& socket)
    {
        const std::string request = "GET " + url.target + " HTTP/1.1\r\n"
                                    "Host: " + url.HostHeader() + "\r\n"
                                    "User-Agent: Quillmar-SymSrv/1.0\r\n"
                                    "Accept: */*\r\n"
                                    "Accept-Encoding: identity\r\n"
                                    "Connection: close\r\n"
                                    "\r\n";
        size_t sent = 0;
        while (sent < request.size())
        {
            const int count = send(socket.Get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
            if (count <= 0)
            {
                const int error = WSAGetLastError();
                if (error == WSAETIMEDOUT)
                    return TimedOut(url);
                return Failed("Send failed (" + WinsockErrorText(error) + ")");
            }
            sent += static_cast<size_t>(count);
        }
        return HttpResult::Ok;
    }

    HttpResult Fetch(const HttpUrl& url, HttpUrl& next)
    {
        m_redirected = false;
        if (!m_winsock.Start())
            return Failed("Winsock could not be started");
        CSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (!socket.IsValid())
            return Failed("No socket (" + WinsockErrorText(WSAGetLastError()) + ")");
        HttpResult result = Connect(url, socket);
        if (result != HttpResult::Ok)
            return result;
        result = SendRequest(url, socket);
        if (result != HttpResult::Ok)
            return result;

        CConnection connection(socket.Get());
        ReplyHead head;
        for (int interim = 0;; ++interim)
        {
            std::string headBytes;
            const Io io = connection.ReadHead(headBytes);
            if (io == Io::TooLong)
                return Failed("Reply rejected: headers larger than " + Decimal(kMaxHeadBytes) + " bytes");
            if (io != Io::Ok)
                return ReplyBroken(url, io, connection, "before the reply was complete");
            std::string why;
            head = ReplyHead();
            if (!ParseHead(headBytes, head, why))
                return Failed("Reply rejected: " + why);
            // 1xx replies are provisional; the real one follows on the same connection.
            if (head.status >= 200)
                break;
            if (interim == kMaxInterimReplies)
                return Failed("Reply rejected: too many provisional replies");
        }
        Say("HTTP " + Decimal(head.status) + (head.reason.empty() ? "" : " " + head.reason));

        if (head.status == 200)
            return ReceiveBody(url, connection, head);
        if (head.status == 404 || head.status == 410)
            return HttpResult::NotFound;
        if (IsRedirect(head.status))
        {
            std::string why;
            if (!head.hasLocation)
                return Failed("Redirect without a Location");
            if (!ResolveLocation(url, head.location, next, why))
                return Failed("Redirect not followed: " + why);
            Say("Redirected to " + next.Text());
            m_redirected = true;
            return HttpResult::Ok;
        }
        return HttpResult::Failed;
    }

    HttpResult ReceiveBody(const HttpUrl& url, CConnection& connection, const ReplyHead& head)
    {
        if (!head.chunked && head.hasLength && head.length > m_options.maxBytes)
            return Failed("File too large: " + Decimal(head.length) + " bytes (at most " + Decimal(m_options.maxBytes) + ")");
        CTempFile file;
        if (!file.Create(m_targetPath))
            return Failed("Cannot create " + file.Path() + " (error " + Decimal(file.Error()) + ")");

        m_received = 0;
        HttpResult result;
        if (head.chunked)
            result = ReceiveChunked(url, connection, file);
        else if (head.hasLength)
            result = ReceiveCounted(url, connection, file, head.length, true);
        else
            result = ReceiveCounted(url, connection, file, m_options.maxBytes, false);
        if (m_bytes != nullptr)
            *m_bytes = m_received;
        if (result != HttpResult::Ok)
            return result;
        if (!file.Commit(m_targetPath))
            return Failed("Cannot write " + m_targetPath + " (error " + Decimal(file.Error()) + ")");
        Say("Received " + Decimal(m_received) + " bytes");
        return HttpResult::Ok;
    }

    // exact: the body is exactly count bytes (Content-Length, a chunk);
    // otherwise it runs to the end of the connection and may not exceed count.
    HttpResult ReceiveCounted(const HttpUrl& url, CConnection& connection, CTempFile& file, unsigned long long count, bool exact)
    {
        unsigned long long left = count;
        for (;;)
        {
            if (exact && left == 0)
                return HttpResult::Ok;
            const char* data = nullptr;
            size_t got = 0;
            const size_t wanted = left < kReceiveBufferSize ? static_cast<size_t>(left) : kReceiveBufferSize;
            const Io io = connection.Take(exact ? wanted : kReceiveBufferSize, data, got);
            if (io == Io::Closed && !exact)
                return HttpResult::Ok;
            if (io == Io::Closed)
                return Failed("Connection closed after " + Decimal(m_received) + " bytes of the body");
            if (io != Io::Ok)
                return ReplyBroken(url, io, connection, "in the middle of the body");
            if (got > left)
                return Failed("File too large: more than " + Decimal(m_options.maxBytes) + " bytes");
            if (!file.Write(data, got))
                return Failed("Cannot write " + file.Path() + " (error " + Decimal(file.Error()) + ")");
            left -= got;
            m_received += got;
        }
    }

    // Chunked transfer coding: hex size line, that many bytes, a line end;
    // a zero size ends the body, followed by optional trailer lines.
    HttpResult ReceiveChunked(const HttpUrl& url, CConnection& connection, CTempFile& file)
    {
        for (;;)
        {
            std::string line;
            Io io = connection.ReadLine(line, kMaxChunkLine);
            if (io != Io::Ok)
                return ReplyBroken(url, io, connection, "in a chunk size line");
            unsigned long long size = 0;
            if (!ParseChunkSize(line, size))
                return Failed("Reply rejected: bad chunk size \"" + Printable(line, kMaxReasonShown) + "\"");
            if (size == 0)
                break;
            if (size > m_options.maxBytes - m_received)
                return Failed("File too large: more than " + Decimal(m_options.maxBytes) + " bytes");
            const HttpResult result = ReceiveCounted(url, connection, file, size, true);
            if (result != HttpResult::Ok)
                return result;
            io = connection.ReadLine(line, 0);
            if (io == Io::Ok && !line.empty())
                io = Io::TooLong;
            if (io == Io::TooLong)
                return Failed("Reply rejected: chunk longer than its size");
            if (io != Io::Ok)
                return ReplyBroken(url, io, connection, "after a chunk");
        }
        for (size_t trailers = 0;; ++trailers)
        {
            std::string line;
            const Io io = trailers > kMaxHeaderCount ? Io::TooLong : connection.ReadLine(line, kMaxLineLength);
            if (io != Io::Ok)
                return ReplyBroken(url, io, connection, "in the trailer");
            if (line.empty())
                return HttpResult::Ok;
        }
    }

    static bool ParseChunkSize(const std::string& text, unsigned long long& size)
    {
        CByteReader line(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        size = 0;
        size_t digits = 0;
        uint8_t c = 0;
        bool more = false;
        while ((more = line.ReadU8(c)) && HexValue(static_cast<char>(c)) >= 0)
        {
            if (++digits > 15)  // more than 2^60: no file of ours, and no overflow
                return false;
            size = size * 16 + static_cast<unsigned>(HexValue(static_cast<char>(c)));
        }
        if (digits == 0)
            return false;
        // After the digits only blanks and then chunk extensions (";name=value").
        while (more && (c == ' ' || c == '\t'))
            more = line.ReadU8(c);
        return !more || c == ';';
    }

    HttpOptions m_options;
    CServerBackoff& m_backoff;
    const std::string& m_targetPath;
    const HttpDiag& m_diag;
    unsigned long long* m_bytes;
    CWinsockUse m_winsock;
    bool m_redirected = false;
    unsigned long long m_received = 0;
};

} // namespace

CHttpClient::CHttpClient() = default;

void CHttpClient::SetOptions(const HttpOptions& options)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_options = options;
}

HttpOptions CHttpClient::GetOptions() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_options;
}

HttpResult CHttpClient::Download(const std::string& url, const std::string& targetPath, const HttpDiag& diag,
                                 unsigned long long* bytes)
{
    if (bytes != nullptr)
        *bytes = 0;
    try
    {
        CDownload download(GetOptions(), m_backoff, targetPath, diag, bytes);
        return download.Run(url);
    }
    catch (...)
    {
        // Out of memory, or the caller's diag threw: nothing of it may reach
        // the symbol library's caller.
        return HttpResult::Failed;
    }
}

void CHttpClient::ResetOffline()
{
    m_backoff.Reset();
}
