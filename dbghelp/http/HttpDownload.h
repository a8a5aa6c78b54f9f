#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "HttpOptions.h"

class CHostResolver;
class CTempFile;
class CHttpConnection;
class CHttpReplyHead;
class CHttpUrl;
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
// whose proxy is) is not asked at all.
class CHttpDownload
{
public:
    // bytes (may be null) receives the count of body bytes received.
    CHttpDownload(const HttpOptions& options, CServerBackoff& backoff, const std::string& targetPath,
                  const HttpDiag& diag, unsigned long long* bytes);

    HttpResult Run(const std::string& urlText);

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

    // One request on a connection of its own. A redirect sets m_redirected
    // and next.
    HttpResult Fetch(const CHttpUrl& url, CHttpUrl& next);
    // Opens the connection the request goes over: to the server or the
    // proxy, through a CONNECT tunnel and TLS for https. Ok when the request
    // may be sent.
    HttpResult Connect(const CHttpUrl& url, const CProxyConfig::Endpoint* proxy, CHttpConnection& connection);
    HttpResult OpenTunnel(const CHttpUrl& url, const CProxyConfig::Endpoint& proxy, CHttpConnection& connection);
    // Reads a reply head, skipping provisional (1xx) ones.
    HttpResult ReadReplyHead(const CHttpUrl& url, CHttpConnection& connection, CHttpReplyHead& head);
    HttpResult ReceiveBody(const CHttpUrl& url, CHttpConnection& connection, const CHttpReplyHead& head);
    HttpResult ReceiveCounted(const CHttpUrl& url, CHttpConnection& connection, CTempFile& file,
                              unsigned long long count, bool exact);
    HttpResult ReceiveChunked(const CHttpUrl& url, CHttpConnection& connection, CTempFile& file);
    static bool ParseChunkSize(const std::string& text, unsigned long long& size);

    HttpOptions m_options;
    CServerBackoff& m_backoff;
    const std::string& m_targetPath;
    const HttpDiag& m_diag;
    unsigned long long* m_bytes;
    bool m_redirected = false;
    unsigned long long m_received = 0;
};
