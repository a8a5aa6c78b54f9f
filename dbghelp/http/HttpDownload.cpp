#include "HttpConnection.h"

#include "HttpDownload.h"

#include "ByteReader.h"
#include "HostResolver.h"
#include "HttpConnectionPool.h"
#include "HttpReplyHead.h"
#include "HttpText.h"
#include "HttpUrl.h"
#include "ServerBackoff.h"
#include "TempFile.h"

namespace
{
constexpr size_t kMaxChunkLine = 1024; // chunk size plus any chunk extensions
constexpr int kMaxInterimReplies = 4;  // 1xx replies skipped before the real one
// The longest body of an unwanted reply (a 404 page) read to keep its
// connection; a longer one costs the connection instead.
constexpr size_t kMaxSkippedBytes = 64 * 1024;

const char kLinePrefix[] = "SYMSRV:  ";
const char kUserAgent[] = "User-Agent: Quillmar-SymSrv/1.0\r\n";

// A proxy's answer that its way to the server failed.
bool IsGatewayFailure(int status)
{
    return status == 502 || status == 504;
}
} // namespace

CHttpDownload::CHttpDownload(const HttpOptions& options, CServerBackoff& backoff, CHttpConnectionPool& pool,
                             const std::string& targetPath, const HttpDiag& diag, unsigned long long* bytes)
    : m_options(options), m_backoff(backoff), m_pool(pool), m_targetPath(targetPath), m_diag(diag), m_bytes(bytes)
{
    if (m_options.timeoutMs == 0)
        m_options.timeoutMs = 1; // 0 would mean "wait forever" to SO_RCVTIMEO
}

HttpResult CHttpDownload::Run(const std::string& urlText)
{
    const HttpResult result = Start(urlText);
    return result == HttpResult::Ok ? Continue(0) : result;
}

HttpResult CHttpDownload::Start(const std::string& urlText)
{
    std::string why;
    if (!m_url.Parse(urlText, why))
    {
        Say("Cannot fetch " + CHttpText::Printable(urlText, CHttpUrl::kMaxLength) + ": " + why);
        return HttpResult::Failed;
    }
    if (!m_options.proxyError.empty())
    {
        Say("Cannot fetch " + m_url.Text() + ": " + m_options.proxyError);
        return HttpResult::Failed;
    }
    return HttpResult::Ok;
}

HttpResult CHttpDownload::Admit(const CHttpUrl& url)
{
    const CProxyConfig::Endpoint* proxy = m_options.proxy.For(url.IsHttps(), url.Host());
    if (proxy != nullptr && m_backoff.IsOffline(proxy->Server()))
    {
        Say("proxy " + proxy->Server() + " is offline; skipped");
        return HttpResult::Offline;
    }
    if (m_backoff.IsOffline(url.Server()))
    {
        Say(url.Server() + " is offline; skipped");
        return HttpResult::Offline;
    }
    return HttpResult::Ok;
}

HttpResult CHttpDownload::Continue(int redirects)
{
    for (;; ++redirects)
    {
        const HttpResult admitted = Admit(m_url);
        if (admitted != HttpResult::Ok)
            return admitted;
        const CProxyConfig::Endpoint* proxy = m_options.proxy.For(m_url.IsHttps(), m_url.Host());
        Say("HTTP GET " + m_url.Text() + (proxy != nullptr ? " through proxy " + proxy->Server() : std::string()));
        CHttpUrl next;
        const HttpResult result = Fetch(m_url, next);
        if (!m_redirected)
            return result;
        if (redirects >= m_options.maxRedirects)
        {
            Say("Too many redirects (more than " +
                CHttpText::Decimal(m_options.maxRedirects < 0 ? 0 : m_options.maxRedirects) + ")");
            return HttpResult::Failed;
        }
        m_url = next;
    }
}

std::string CHttpDownload::Route(const CHttpUrl& url, const CProxyConfig::Endpoint* proxy)
{
    return (url.IsHttps() ? "https://" : "http://") + url.Server() +
           (proxy != nullptr ? " via " + proxy->Server() : std::string());
}

std::string CHttpDownload::RouteFor(const HttpOptions& options, const std::string& urlText)
{
    CHttpUrl url;
    std::string why;
    if (!url.Parse(urlText, why))
        return std::string();
    return Route(url, options.proxy.For(url.IsHttps(), url.Host()));
}

// Pipelined requests are only ever sent on a connection that has already
// carried a reply and was kept open: a server that closes after each reply
// (or speaks HTTP/1.0) would otherwise throw the later requests away, perhaps
// with a reset that cuts the first reply too. Whatever goes wrong on the
// shared connection, the requests not yet answered are asked again one by
// one, as they are without a kept connection.
HttpResult CHttpDownload::RunFirst(const std::vector<CHttpDownload*>& downloads, const std::vector<std::string>& urls,
                                   size_t& answered)
{
    const size_t count = downloads.size() < urls.size() ? downloads.size() : urls.size();
    for (size_t i = 0; i < count;)
    {
        CHttpDownload& first = *downloads[i];
        std::unique_ptr<CHttpConnection> connection;
        const CProxyConfig::Endpoint* proxy = nullptr;
        std::string route;
        bool together = i + 1 < count;
        for (size_t j = i; together && j < count; ++j)
        {
            CHttpUrl url;
            std::string why;
            together = url.Parse(urls[j], why) && downloads[j]->m_options.proxyError.empty();
            if (!together)
                break;
            proxy = downloads[j]->m_options.proxy.For(url.IsHttps(), url.Host());
            if (j == i)
            {
                route = Route(url, proxy);
                together = !first.m_backoff.IsOffline(url.Server()) &&
                           (proxy == nullptr || !first.m_backoff.IsOffline(proxy->Server()));
            }
            else
            {
                together = Route(url, proxy) == route;
            }
        }
        if (together)
            connection = first.m_pool.Take(route);
        if (!connection)
        {
            const HttpResult result = first.Run(urls[i]);
            if (result != HttpResult::NotFound)
            {
                answered = i;
                return result;
            }
            ++i;
            continue;
        }

        // One send for all: no request waits for the acknowledgement of
        // the one before.
        connection->RestartLowSpeed();
        std::string requests;
        for (size_t j = i; j < count; ++j)
        {
            CHttpDownload& download = *downloads[j];
            download.Start(urls[j]);
            download.Say("HTTP GET " + download.m_url.Text() +
                         (proxy != nullptr ? " through proxy " + proxy->Server() : std::string()));
            requests += RequestText(download.m_url, proxy);
        }
        bool stale = false;
        const size_t sent = first.SendRequest(first.m_url, requests, *connection, &stale) == HttpResult::Ok ? count : i;
        size_t next = i;
        for (; next < sent; ++next)
        {
            CHttpDownload& download = *downloads[next];
            CHttpUrl redirect;
            bool stale = false;
            bool keep = false;
            download.m_redirected = false;
            HttpResult result = download.ReadReply(download.m_url, proxy, *connection, redirect, &stale, keep);
            if (stale)
            {
                connection.reset();
                break;
            }
            if (download.m_redirected)
            {
                connection.reset(); // the replies still due on it are not read
                download.m_url = redirect;
                result = download.Continue(1);
            }
            if (!keep)
                connection.reset();
            if (result != HttpResult::NotFound)
            {
                for (size_t due = next + 1; connection && due < sent; ++due)
                {
                    if (!SkipReply(*connection))
                        connection.reset();
                }
                if (connection && sent == count)
                    first.m_pool.Keep(route, std::move(connection));
                answered = next;
                return result;
            }
            if (!connection)
            {
                ++next;
                break;
            }
        }
        if (connection && next == count)
            first.m_pool.Keep(route, std::move(connection));
        i = next;
    }
    answered = count;
    return HttpResult::NotFound;
}

void CHttpDownload::Say(const std::string& text)
{
    if (m_diag)
        m_diag(kLinePrefix + text + "\n");
}

std::string CHttpDownload::SkippedFor() const
{
    return "; skipped for " + CHttpText::Decimal(m_options.offlineSeconds) + " s";
}

HttpResult CHttpDownload::TimedOut(const CHttpUrl& url)
{
    Say(url.Server() + " did not answer within " + CHttpText::Decimal(m_options.timeoutMs) + " ms" + SkippedFor());
    m_backoff.MarkOffline(url.Server(), m_options.offlineSeconds);
    return HttpResult::TimedOut;
}

HttpResult CHttpDownload::TooSlow(const CHttpUrl& url, const CHttpConnection& connection)
{
    const CLowSpeedGuard& limit = connection.LowSpeed();
    Say(url.Server() + " sent " + CHttpText::Decimal(limit.WindowBytes()) + " bytes in " +
        CHttpText::Decimal(limit.WindowSeconds()) + " s, below the low-speed limit of " +
        CHttpText::Decimal(limit.MinimumBytes()) + " bytes per " + CHttpText::Decimal(limit.WindowSeconds()) + " s" +
        SkippedFor());
    m_backoff.MarkOffline(url.Server(), m_options.offlineSeconds);
    return HttpResult::TimedOut;
}

HttpResult CHttpDownload::Unreachable(const std::string& server, const std::string& why, bool proxy)
{
    Say((proxy ? "proxy " : "") + server + " could not be reached (" + why + ")" + SkippedFor());
    m_backoff.MarkOffline(server, m_options.offlineSeconds);
    return HttpResult::Unreachable;
}

// A TLS handshake that failed or a certificate that was refused does not
// come right on the next try: the server is skipped like one that is down.
HttpResult CHttpDownload::Refused(const CHttpUrl& url, const std::string& why)
{
    Say(url.Server() + " refused: " + why + SkippedFor());
    m_backoff.MarkOffline(url.Server(), m_options.offlineSeconds);
    return HttpResult::Failed;
}

HttpResult CHttpDownload::Failed(const std::string& why)
{
    Say(why);
    return HttpResult::Failed;
}

HttpResult CHttpDownload::Broken(const CHttpUrl& url, HttpIo io, const CHttpConnection& connection, const char* when)
{
    switch (io)
    {
    case HttpIo::TimedOut:
        return TimedOut(url);
    case HttpIo::TooSlow:
        return TooSlow(url, connection);
    case HttpIo::Refused:
        return Refused(url, connection.RefusedWhy());
    case HttpIo::Closed:
        return Failed(std::string("Connection closed ") + when);
    case HttpIo::Truncated:
        return Failed(std::string("TLS connection closed without close_notify ") + when);
    case HttpIo::TooLong:
        return Failed(std::string("Reply rejected: line too long ") + when);
    default:
        return Failed(std::string("Connection failed ") + when + " (" + CTcpSocket::ErrorText(connection.LastError()) +
                      ")");
    }
}

HttpResult CHttpDownload::Connect(const CHttpUrl& url, const CProxyConfig::Endpoint* proxy, CHttpConnection& connection)
{
    CHostResolver resolver(m_options.lookup);
    std::string why;
    HttpIo io = proxy != nullptr ? connection.Open(proxy->host, proxy->port, resolver, why)
                                 : connection.Open(url.Host(), url.Port(), resolver, why);
    if (io == HttpIo::Unreachable)
        return Unreachable(proxy != nullptr ? proxy->Server() : url.Server(), why, proxy != nullptr);
    if (io == HttpIo::TimedOut && proxy != nullptr)
        return Unreachable(proxy->Server(), "no answer within " + CHttpText::Decimal(m_options.timeoutMs) + " ms",
                           true);
    if (io == HttpIo::TimedOut)
        return TimedOut(url);
    if (io != HttpIo::Ok)
        return Failed(why);
    if (!url.IsHttps())
        return HttpResult::Ok;
    if (proxy != nullptr)
    {
        const HttpResult tunnel = OpenTunnel(url, *proxy, connection);
        if (tunnel != HttpResult::Ok)
            return tunnel;
    }
    io = connection.StartTls(url.Host(), why);
    if (io == HttpIo::Refused)
        return Refused(url, why);
    if (io != HttpIo::Ok)
        return Broken(url, io, connection, "during the TLS handshake");
    return HttpResult::Ok;
}

// An https request through a proxy: CONNECT opens a tunnel to the server,
// and TLS runs end to end through it.
HttpResult CHttpDownload::OpenTunnel(const CHttpUrl& url, const CProxyConfig::Endpoint& proxy,
                                     CHttpConnection& connection)
{
    const std::string server = url.Server();
    HttpIo io = connection.Send("CONNECT " + server + " HTTP/1.1\r\nHost: " + server + "\r\n" + kUserAgent + "\r\n");
    if (io != HttpIo::Ok)
        return Broken(url, io, connection, "while asking the proxy for a tunnel");
    CHttpReplyHead head;
    const HttpResult result = ReadReplyHead(url, connection, head);
    if (result != HttpResult::Ok)
        return result;
    if (head.Status() >= 200 && head.Status() < 300)
        return HttpResult::Ok;
    const std::string status =
        "HTTP " + CHttpText::Decimal(head.Status()) + (head.Reason().empty() ? "" : " " + head.Reason());
    if (IsGatewayFailure(head.Status()))
        return Unreachable(server, "proxy " + proxy.Server() + " answered " + status);
    if (head.Status() == 407)
        return Failed("Proxy " + proxy.Server() + " asks for authentication, which is not supported");
    return Failed("Proxy " + proxy.Server() + " refused a tunnel to " + server + ": " + status);
}

HttpResult CHttpDownload::ReadReplyHead(const CHttpUrl& url, CHttpConnection& connection, CHttpReplyHead& head,
                                        bool* stale)
{
    const unsigned long long before = connection.Arrived();
    for (int interim = 0;; ++interim)
    {
        std::string headBytes;
        const HttpIo io = connection.ReadHead(headBytes);
        if (io == HttpIo::TooLong)
            return Failed("Reply rejected: headers larger than " + CHttpText::Decimal(CHttpConnection::kMaxHeadBytes) +
                          " bytes");
        if (stale != nullptr && connection.Arrived() == before &&
            (io == HttpIo::Closed || io == HttpIo::Truncated || io == HttpIo::Error))
        {
            *stale = true;
            return HttpResult::Failed;
        }
        if (io != HttpIo::Ok)
            return Broken(url, io, connection, "before the reply was complete");
        std::string why;
        if (!head.Parse(headBytes, why))
            return Failed("Reply rejected: " + why);
        if (!head.IsProvisional())
            return HttpResult::Ok;
        if (interim == kMaxInterimReplies)
            return Failed("Reply rejected: too many provisional replies");
    }
}

std::unique_ptr<CHttpConnection> CHttpDownload::NewConnection() const
{
    return std::unique_ptr<CHttpConnection>(new CHttpConnection(
        m_options.timeoutMs, CLowSpeedGuard(m_options.lowSpeedBytes, m_options.lowSpeedSeconds)));
}

HttpResult CHttpDownload::Fetch(const CHttpUrl& url, CHttpUrl& next)
{
    m_redirected = false;
    const CProxyConfig::Endpoint* proxy = m_options.proxy.For(url.IsHttps(), url.Host());
    const std::string route = Route(url, proxy);
    std::unique_ptr<CHttpConnection> connection = m_pool.Take(route);
    for (bool kept = connection != nullptr;; kept = false)
    {
        if (kept)
        {
            connection->RestartLowSpeed();
        }
        else
        {
            connection = NewConnection();
            const HttpResult result = Connect(url, proxy, *connection);
            if (result != HttpResult::Ok)
                return result;
        }
        bool stale = false;
        bool keep = false;
        HttpResult result = SendRequest(url, RequestText(url, proxy), *connection, kept ? &stale : nullptr);
        if (result == HttpResult::Ok)
            result = ReadReply(url, proxy, *connection, next, kept ? &stale : nullptr, keep);
        if (stale)
            continue; // the server closed the idle connection meanwhile: once more on a new one
        if (keep)
            m_pool.Keep(route, std::move(connection));
        return result;
    }
}

std::string CHttpDownload::RequestText(const CHttpUrl& url, const CProxyConfig::Endpoint* proxy)
{
    // A proxy takes a plain request in absolute form; a tunnel carries the
    // server's own form. HTTP/1.1 keeps the connection unless a side closes it.
    const bool absolute = proxy != nullptr && !url.IsHttps();
    return "GET " + (absolute ? url.Text() : url.Target()) +
           " HTTP/1.1\r\n"
           "Host: " +
           url.HostHeader() + "\r\n" + kUserAgent +
           "Accept: */*\r\n"
           "Accept-Encoding: identity\r\n"
           "\r\n";
}

HttpResult CHttpDownload::SendRequest(const CHttpUrl& url, const std::string& request, CHttpConnection& connection,
                                      bool* stale)
{
    const HttpIo io = connection.Send(request);
    if (io == HttpIo::Ok)
        return HttpResult::Ok;
    if (stale != nullptr && io != HttpIo::TimedOut)
    {
        *stale = true;
        return HttpResult::Failed;
    }
    return Broken(url, io, connection, "while sending the request");
}

HttpResult CHttpDownload::ReadReply(const CHttpUrl& url, const CProxyConfig::Endpoint* proxy,
                                    CHttpConnection& connection, CHttpUrl& next, bool* stale, bool& keep)
{
    keep = false;
    CHttpReplyHead head;
    HttpResult result = ReadReplyHead(url, connection, head, stale);
    if (result != HttpResult::Ok)
        return result;
    Say("HTTP " + CHttpText::Decimal(head.Status()) + (head.Reason().empty() ? "" : " " + head.Reason()));

    if (head.Status() == 200)
    {
        result = ReceiveBody(url, connection, head);
        keep = result == HttpResult::Ok && head.KeepsConnection() && head.IsDelimited();
        return result;
    }
    keep = head.KeepsConnection() && SkipBody(connection, head);
    const bool absolute = proxy != nullptr && !url.IsHttps();
    if (head.Status() == 404 || head.Status() == 410)
        return HttpResult::NotFound;
    if (absolute && IsGatewayFailure(head.Status()))
        return Unreachable(url.Server(), "proxy " + proxy->Server() + " could not reach it");
    if (absolute && head.Status() == 407)
        return Failed("Proxy " + proxy->Server() + " asks for authentication, which is not supported");
    if (head.IsRedirect())
    {
        std::string why;
        if (!head.HasLocation())
            return Failed("Redirect without a Location");
        if (!url.Resolve(head.Location(), next, why))
            return Failed("Redirect not followed: " + why);
        Say("Redirected to " + next.Text());
        m_redirected = true;
        return HttpResult::Ok;
    }
    return HttpResult::Failed;
}

bool CHttpDownload::SkipBody(CHttpConnection& connection, const CHttpReplyHead& head)
{
    if (!head.IsDelimited())
        return false;
    unsigned long long left = kMaxSkippedBytes;
    // Takes count bytes off the connection, within what is left to skip.
    auto skip = [&](unsigned long long count)
    {
        if (count > left)
            return false;
        left -= count;
        while (count > 0)
        {
            const char* data = nullptr;
            size_t got = 0;
            if (connection.Take(static_cast<size_t>(count), data, got) != HttpIo::Ok)
                return false;
            count -= got;
        }
        return true;
    };
    if (!head.IsChunked())
        return skip(head.HasLength() && head.Status() >= 200 && head.Status() != 204 && head.Status() != 304
                        ? head.Length()
                        : 0);
    for (;;)
    {
        std::string line;
        unsigned long long size = 0;
        if (connection.ReadLine(line, kMaxChunkLine) != HttpIo::Ok || !ParseChunkSize(line, size))
            return false;
        if (size == 0)
            break;
        if (!skip(size) || connection.ReadLine(line, 0) != HttpIo::Ok || !line.empty())
            return false;
    }
    for (size_t trailers = 0; trailers <= CHttpReplyHead::kMaxHeaderCount; ++trailers)
    {
        std::string line;
        if (connection.ReadLine(line, CHttpReplyHead::kMaxLineLength) != HttpIo::Ok)
            return false;
        if (line.empty())
            return true;
    }
    return false;
}

bool CHttpDownload::SkipReply(CHttpConnection& connection)
{
    for (int interim = 0; interim <= kMaxInterimReplies; ++interim)
    {
        std::string bytes;
        std::string why;
        CHttpReplyHead head;
        if (connection.ReadHead(bytes) != HttpIo::Ok || !head.Parse(bytes, why))
            return false;
        if (!head.IsProvisional())
            return head.KeepsConnection() && SkipBody(connection, head);
    }
    return false;
}

HttpResult CHttpDownload::ReceiveBody(const CHttpUrl& url, CHttpConnection& connection, const CHttpReplyHead& head)
{
    if (!head.IsChunked() && head.HasLength() && head.Length() > m_options.maxBytes)
        return Failed("File too large: " + CHttpText::Decimal(head.Length()) + " bytes (at most " +
                      CHttpText::Decimal(m_options.maxBytes) + ")");
    CTempFile file;
    if (!file.Create(m_targetPath))
        return Failed("Cannot create a file beside " + m_targetPath + " (error " + CHttpText::Decimal(file.GetError()) +
                      ")");

    m_received = 0;
    HttpResult result;
    if (head.IsChunked())
        result = ReceiveChunked(url, connection, file);
    else if (head.HasLength())
        result = ReceiveCounted(url, connection, file, head.Length(), true);
    else
        result = ReceiveCounted(url, connection, file, m_options.maxBytes, false);
    if (m_bytes != nullptr)
        *m_bytes = m_received;
    if (result != HttpResult::Ok)
        return result;
    if (!file.Commit())
        return Failed("Cannot write " + m_targetPath + " (error " + CHttpText::Decimal(file.GetError()) + ")");
    Say("Received " + CHttpText::Decimal(m_received) + " bytes");
    return HttpResult::Ok;
}

// exact: the body is exactly count bytes (Content-Length, a chunk);
// otherwise it runs to the end of the connection and may not exceed count.
HttpResult CHttpDownload::ReceiveCounted(const CHttpUrl& url, CHttpConnection& connection, CTempFile& file,
                                         unsigned long long count, bool exact)
{
    unsigned long long left = count;
    for (;;)
    {
        if (exact && left == 0)
            return HttpResult::Ok;
        const char* data = nullptr;
        size_t got = 0;
        const size_t wanted =
            left < CHttpConnection::kBufferSize ? static_cast<size_t>(left) : CHttpConnection::kBufferSize;
        const HttpIo io = connection.Take(exact ? wanted : CHttpConnection::kBufferSize, data, got);
        if (io == HttpIo::Closed && !exact)
            return HttpResult::Ok;
        if (io == HttpIo::Closed || io == HttpIo::Truncated)
            return Failed(std::string(io == HttpIo::Truncated ? "TLS connection closed without close_notify"
                                                              : "Connection closed") +
                          " after " + CHttpText::Decimal(m_received) + " bytes of the body");
        if (io != HttpIo::Ok)
            return Broken(url, io, connection, "in the middle of the body");
        if (got > left)
            return Failed("File too large: more than " + CHttpText::Decimal(m_options.maxBytes) + " bytes");
        if (!file.Write(data, got))
            return Failed("Cannot write " + file.Path() + " (error " + CHttpText::Decimal(file.GetError()) + ")");
        left -= got;
        m_received += got;
    }
}

// Chunked transfer coding: hex size line, that many bytes, a line end; a zero
// size ends the body, followed by optional trailer lines.
HttpResult CHttpDownload::ReceiveChunked(const CHttpUrl& url, CHttpConnection& connection, CTempFile& file)
{
    for (;;)
    {
        std::string line;
        HttpIo io = connection.ReadLine(line, kMaxChunkLine);
        if (io != HttpIo::Ok)
            return Broken(url, io, connection, "in a chunk size line");
        unsigned long long size = 0;
        if (!ParseChunkSize(line, size))
            return Failed("Reply rejected: bad chunk size \"" + CHttpText::Printable(line) + "\"");
        if (size == 0)
            break;
        if (size > m_options.maxBytes - m_received)
            return Failed("File too large: more than " + CHttpText::Decimal(m_options.maxBytes) + " bytes");
        const HttpResult result = ReceiveCounted(url, connection, file, size, true);
        if (result != HttpResult::Ok)
            return result;
        io = connection.ReadLine(line, 0);
        if (io == HttpIo::Ok && !line.empty())
            io = HttpIo::TooLong;
        if (io == HttpIo::TooLong)
            return Failed("Reply rejected: chunk longer than its size");
        if (io != HttpIo::Ok)
            return Broken(url, io, connection, "after a chunk");
    }
    for (size_t trailers = 0;; ++trailers)
    {
        std::string line;
        const HttpIo io = trailers > CHttpReplyHead::kMaxHeaderCount
                              ? HttpIo::TooLong
                              : connection.ReadLine(line, CHttpReplyHead::kMaxLineLength);
        if (io != HttpIo::Ok)
            return Broken(url, io, connection, "in the trailer");
        if (line.empty())
            return HttpResult::Ok;
    }
}

bool CHttpDownload::ParseChunkSize(const std::string& text, unsigned long long& size)
{
    CByteReader line(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    size = 0;
    size_t digits = 0;
    uint8_t c = 0;
    bool more = false;
    while ((more = line.ReadU8(c)) && CHttpText::HexValue(static_cast<char>(c)) >= 0)
    {
        if (++digits > 15) // more than 2^60: no file of ours, and no overflow
            return false;
        size = size * 16 + static_cast<unsigned>(CHttpText::HexValue(static_cast<char>(c)));
    }
    if (digits == 0)
        return false;
    // After the digits only blanks and then chunk extensions (";name=value").
    while (more && (c == ' ' || c == '\t'))
        more = line.ReadU8(c);
    return !more || c == ';';
}
