#pragma once
#include <windows.h>

#include <functional>
#include <string>

class CTempFile;
class CHttpConnection;
class CHttpReplyHead;
class CHttpUrl;
class CServerBackoff;
enum class HttpIo;

struct HttpOptions {
    DWORD timeoutMs = 2000;       // bound on connect, each send and each receive wait
    DWORD offlineSeconds = 300;   // how long a server that could not be reached or did not answer is skipped
    int maxRedirects = 5;
    unsigned long long maxBytes = 0x40000000ull; // largest body accepted
};

enum class HttpResult { Ok, NotFound, Failed, Offline, TimedOut, Unreachable };

using HttpDiag = std::function<void(const std::string& line)>; // each line ends in "\n"

// One download: GETs a URL, follows redirects, writes a 200 reply's body to
// the target through a temporary file, and reports each step through diag as
// "SYMSRV:  " lines. A server that cannot be reached or does not answer in
// time is marked offline in backoff, and one marked so is not asked at all.
class CHttpDownload
{
public:
    // bytes (may be null) receives the count of body bytes received.
    CHttpDownload(const HttpOptions& options, CServerBackoff& backoff, const std::string& targetPath,
                  const HttpDiag& diag, unsigned long long* bytes);

    HttpResult Run(const std::string& urlText);

private:
    void Say(const std::string& text);
    HttpResult TimedOut(const CHttpUrl& url);
    HttpResult Unreachable(const CHttpUrl& url, int error);
    HttpResult Failed(const std::string& why);
    // What an I/O failure in the middle of a reply means; when says where.
    HttpResult ReplyBroken(const CHttpUrl& url, HttpIo io, const CHttpConnection& connection, const char* when);

    // One request on a connection of its own. A redirect sets m_redirected
    // and next.
    HttpResult Fetch(const CHttpUrl& url, CHttpUrl& next);
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
