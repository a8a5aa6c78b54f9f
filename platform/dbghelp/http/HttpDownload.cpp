#include "HttpConnection.h"

#include "HttpDownload.h"

#include "ByteReader.h"
#include "HttpReplyHead.h"
#include "HttpText.h"
#include "HttpUrl.h"
#include "ServerBackoff.h"
#include "TempFile.h"

namespace
{
constexpr size_t kMaxChunkLine = 1024;   // chunk size plus any chunk extensions
constexpr int kMaxInterimReplies = 4;    // 1xx replies skipped before the real one

const char kLinePrefix[] = "SYMSRV:  ";
} // namespace

CHttpDownload::CHttpDownload(const HttpOptions& options, CServerBackoff& backoff, const std::string& targetPath,
                             const HttpDiag& diag, unsigned long long* bytes)
    : m_options(options), m_backoff(backoff), m_targetPath(targetPath), m_diag(diag), m_bytes(bytes)
{
    if (m_options.timeoutMs == 0)
        m_options.timeoutMs = 1;  // 0 would mean "wait forever" to SO_RCVTIMEO
}

HttpResult CHttpDownload::Run(const std::string& urlText)
{
    CHttpUrl url;
    std::string why;
    if (!url.Parse(urlText, why))
    {
        Say("Cannot fetch " + CHttpText::Printable(urlText, CHttpUrl::kMaxLength) + ": " + why);
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
        CHttpUrl next;
        const HttpResult result = Fetch(url, next);
        if (!m_redirected)
            return result;
        if (redirects >= m_options.maxRedirects)
        {
            Say("Too many redirects (more than " +
                CHttpText::Decimal(m_options.maxRedirects < 0 ? 0 : m_options.maxRedirects) + ")");
            return HttpResult::Failed;
        }
        url = next;
    }
}

void CHttpDownload::Say(const std::string& text)
{
    if (m_diag)
        m_diag(kLinePrefix + text + "\n");
}

HttpResult CHttpDownload::TimedOut(const CHttpUrl& url)
{
    Say(url.Server() + " did not answer within " + CHttpText::Decimal(m_options.timeoutMs) + " ms; skipped for " +
        CHttpText::Decimal(m_options.offlineSeconds) + " s");
    m_backoff.MarkOffline(url.Server(), m_options.offlineSeconds);
    return HttpResult::TimedOut;
}

HttpResult CHttpDownload::Unreachable(const CHttpUrl& url, int error)
{
    Say(url.Server() + " could not be reached (" + CHttpConnection::ErrorText(error) + "); skipped for " +
        CHttpText::Decimal(m_options.offlineSeconds) + " s");
    m_backoff.MarkOffline(url.Server(), m_options.offlineSeconds);
    return HttpResult::Unreachable;
}

HttpResult CHttpDownload::Failed(const std::string& why)
{
    Say(why);
    return HttpResult::Failed;
}

HttpResult CHttpDownload::ReplyBroken(const CHttpUrl& url, HttpIo io, const CHttpConnection& connection,
                                      const char* when)
{
    switch (io)
    {
    case HttpIo::TimedOut: return TimedOut(url);
    case HttpIo::Closed: return Failed(std::string("Connection closed ") + when);
    case HttpIo::TooLong: return Failed(std::string("Reply rejected: line too long ") + when);
    default:
        return Failed(std::string("Receive failed ") + when + " (" + CHttpConnection::ErrorText(connection.LastError()) +
                      ")");
    }
}

HttpResult CHttpDownload::Fetch(const CHttpUrl& url, CHttpUrl& next)
{
    m_redirected = false;
    CHttpConnection connection(m_options.timeoutMs);
    std::string why;
    HttpIo io = connection.Open(url.Host(), url.Port(), why);
    if (io == HttpIo::Unreachable)
        return Unreachable(url, connection.LastError());
    if (io == HttpIo::TimedOut)
        return TimedOut(url);
    if (io != HttpIo::Ok)
        return Failed(why);

    io = connection.Send("GET " + url.Target() + " HTTP/1.1\r\n"
                         "Host: " + url.HostHeader() + "\r\n"
                         "User-Agent: Quillmar-SymSrv/1.0\r\n"
                         "Accept: */*\r\n"
                         "Accept-Encoding: identity\r\n"
                         "Connection: close\r\n"
                         "\r\n");
    if (io == HttpIo::TimedOut)
        return TimedOut(url);
    if (io != HttpIo::Ok)
        return Failed("Send failed (" + CHttpConnection::ErrorText(connection.LastError()) + ")");

    CHttpReplyHead head;
    for (int interim = 0;; ++interim)
    {
        std::string headBytes;
        io = connection.ReadHead(headBytes);
        if (io == HttpIo::TooLong)
            return Failed("Reply rejected: headers larger than " + CHttpText::Decimal(CHttpConnection::kMaxHeadBytes) +
                          " bytes");
        if (io != HttpIo::Ok)
            return ReplyBroken(url, io, connection, "before the reply was complete");
        if (!head.Parse(headBytes, why))
            return Failed("Reply rejected: " + why);
        if (!head.IsProvisional())
            break;
        if (interim == kMaxInterimReplies)
            return Failed("Reply rejected: too many provisional replies");
    }
    Say("HTTP " + CHttpText::Decimal(head.Status()) + (head.Reason().empty() ? "" : " " + head.Reason()));

    if (head.Status() == 200)
        return ReceiveBody(url, connection, head);
    if (head.Status() == 404 || head.Status() == 410)
        return HttpResult::NotFound;
    if (head.IsRedirect())
    {
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
        if (io == HttpIo::Closed)
            return Failed("Connection closed after " + CHttpText::Decimal(m_received) + " bytes of the body");
        if (io != HttpIo::Ok)
            return ReplyBroken(url, io, connection, "in the middle of the body");
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
            return ReplyBroken(url, io, connection, "in a chunk size line");
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
            return ReplyBroken(url, io, connection, "after a chunk");
    }
    for (size_t trailers = 0;; ++trailers)
    {
        std::string line;
        const HttpIo io = trailers > CHttpReplyHead::kMaxHeaderCount
                              ? HttpIo::TooLong
                              : connection.ReadLine(line, CHttpReplyHead::kMaxLineLength);
        if (io != HttpIo::Ok)
            return ReplyBroken(url, io, connection, "in the trailer");
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
        if (++digits > 15)  // more than 2^60: no file of ours, and no overflow
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
