#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HttpOptions.h"
#include "HttpUrl.h"

class CHostResolver;
class CHttpConnectionPool;
class CTempFile;
class CHttpConnection;
class CHttpReplyHead;
class CServerBackoff;
enum class HttpIo;

enum class HttpResult
{
    Ok,
    NotFound,
    Failed,
    Offline,
    TimedOut,
    Unreachable
};

using HttpDiag = std::function<void(const std::string& line)>; // each line ends in "\n"

// One download: GETs a URL (http or https, directly or through a proxy),
// follows redirects, writes a 200 reply's body to the target through a
// temporary file, and reports each step through diag as "SYMSRV:  " lines.
// A server that cannot be reached, does not answer in time, is too slow or
// fails the TLS checks is marked offline in backoff, and one marked so (or
// whose proxy is) is not asked at all. The connection is taken from the pool
// when one to the same server is kept there, and kept there again when the
// reply was read exactly to its end and the server keeps it open; a kept
// connection that the server closed before any byte of the reply is replaced
// by a fresh one, once.
class CHttpDownload
{
public:
    // bytes (may be null) receives the count of body bytes received.
    CHttpDownload(const HttpOptions& options, CServerBackoff& backoff, CHttpConnectionPool& pool,
                  const std::string& targetPath, const HttpDiag& diag, unsigned long long* bytes);

    HttpResult Run(const std::string& urlText);

    // Runs downloads[i] of urls[i] in turn until one comes to anything but
    // NotFound, and returns that result with its index in answered
    // (downloads.size() when every one was not found), as running them one
    // by one would. Requests to a server whose kept connection is in the
    // pool go out together on it, so that the answers take one round trip.
    static HttpResult RunFirst(const std::vector<CHttpDownload*>& downloads, const std::vector<std::string>& urls,
                               size_t& answered);
    // The pool's name of the connection a request for urlText goes over
    // (scheme, server, proxy); empty when urlText is no URL.
    static std::string RouteFor(const HttpOptions& options, const std::string& urlText);

private:
    void Say(const std::string& text);
    std::string SkippedFor() const;
    HttpResult TimedOut(const CHttpUrl& url);
    HttpResult TooSlow(const CHttpUrl& url, const CHttpConnection& connection);
    HttpResult Unreachable(const std::string& server, const std::string& why, bool proxy = false);
    HttpResult Refused(const CHttpUrl& url, const std::string& why);
    HttpResult Failed(const std::string& why);
    // What an I/O failure on the way to or in the middle of a reply means;
    // when says where.
    HttpResult Broken(const CHttpUrl& url, HttpIo io, const CHttpConnection& connection, const char* when);

    // Whether url may be asked now (neither its server nor its proxy offline).
    HttpResult Admit(const CHttpUrl& url);
    // Parses urlText into m_url; Ok when it may be asked.
    HttpResult Start(const std::string& urlText);
    // Asks m_url and follows its redirects; redirects: how many led there.
    HttpResult Continue(int redirects);
    static std::string Route(const CHttpUrl& url, const CProxyConfig::Endpoint* proxy);
    // One request, on a kept connection or a new one. A redirect sets
    // m_redirected and next.
    HttpResult Fetch(const CHttpUrl& url, CHttpUrl& next);
    std::unique_ptr<CHttpConnection> NewConnection() const;
    static std::string RequestText(const CHttpUrl& url, const CProxyConfig::Endpoint* proxy);
    // Sends request (the GET of url, or several). With stale given (a kept
    // connection), a failure sets it instead of being reported.
    HttpResult SendRequest(const CHttpUrl& url, const std::string& request, CHttpConnection& connection, bool* stale);
    // Reads the reply to the GET of url and acts on it. keep: the reply was
    // read to its end and the server keeps the connection. With stale given,
    // a connection that ended before any byte of the reply sets it instead of
    // being reported.
    HttpResult ReadReply(const CHttpUrl& url, const CProxyConfig::Endpoint* proxy, CHttpConnection& connection,
                         CHttpUrl& next, bool* stale, bool& keep);
    // Reads a body nobody wants (a 404 page), quietly, so that the connection
    // can carry the next request; false when it is too long or cannot be
    // delimited, and the connection must go.
    static bool SkipBody(CHttpConnection& connection, const CHttpReplyHead& head);
    // Reads and drops a reply due on the connection; false as SkipBody.
    static bool SkipReply(CHttpConnection& connection);
    // Opens the connection the request goes over: to the server or the
    // proxy, through a CONNECT tunnel and TLS for https. Ok when the request
    // may be sent.
    HttpResult Connect(const CHttpUrl& url, const CProxyConfig::Endpoint* proxy, CHttpConnection& connection);
    HttpResult OpenTunnel(const CHttpUrl& url, const CProxyConfig::Endpoint& proxy, CHttpConnection& connection);
    // Reads a reply head, skipping provisional (1xx) ones.
    HttpResult ReadReplyHead(const CHttpUrl& url, CHttpConnection& connection, CHttpReplyHead& head,
                             bool* stale = nullptr);
    HttpResult ReceiveBody(const CHttpUrl& url, CHttpConnection& connection, const CHttpReplyHead& head);
    HttpResult ReceiveCounted(const CHttpUrl& url, CHttpConnection& connection, CTempFile& file,
                              unsigned long long count, bool exact);
    HttpResult ReceiveChunked(const CHttpUrl& url, CHttpConnection& connection, CTempFile& file);
    static bool ParseChunkSize(const std::string& text, unsigned long long& size);

    HttpOptions m_options;
    CServerBackoff& m_backoff;
    CHttpConnectionPool& m_pool;
    const std::string& m_targetPath;
    const HttpDiag& m_diag;
    unsigned long long* m_bytes;
    CHttpUrl m_url; // the URL being asked
    bool m_redirected = false;
    unsigned long long m_received = 0;
};
