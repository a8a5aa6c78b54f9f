#pragma once
#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "HttpConnectionPool.h"
#include "HttpDownload.h"
#include "ServerBackoff.h"

// Fetches files from HTTP and HTTPS symbol stores, directly or through a
// proxy, with every network wait bounded, and skips for a while a server that
// could not be reached, did not answer, was too slow or failed the TLS checks.
// Connections that the server keeps open are kept for the next request to
// it (CHttpConnectionPool).
class CHttpClient
{
public:
    // One of the files DownloadFirst asks for, and where it goes.
    struct Probe
    {
        std::string url;
        std::string targetPath;
        unsigned long long bytes = 0; // body bytes received
    };

    explicit CHttpClient(size_t maxIdleConnections = CHttpConnectionPool::kMaxIdle,
                         DWORD idleMs = CHttpConnectionPool::kIdleMs);
    void SetOptions(const HttpOptions& options);
    HttpOptions GetOptions() const;
    // GET url (http:// or https://). On 200, writes the body to targetPath through a temporary file
    // in the same directory and renames it into place, so no partial file is ever visible;
    // an existing target is replaced. Follows redirects (never from https to http). 404/410 ->
    // NotFound. A server whose name does not resolve in time, that refuses or cannot be reached
    // -> Unreachable; one that does not answer in time or sends slower than the low-speed limit
    // -> TimedOut; all mark the server (host:port) offline for offlineSeconds, during which
    // Download returns Offline at once without any network traffic. A failed TLS handshake or a
    // refused certificate -> Failed, and marks the server offline too. Other failures (bad reply,
    // other statuses, cut body, too large, disk errors) -> Failed, and no target or temporary
    // file remains.
    // bytes: body bytes received (may be null). Thread-safe: several threads may download at once.
    // An existing target is only ever replaced by a complete download: on any
    // failure it stays as it was.
    HttpResult Download(const std::string& url, const std::string& targetPath, const HttpDiag& diag,
                        unsigned long long* bytes = nullptr);
    // Downloads probes[i] in turn, as Download does, until one comes to
    // anything but NotFound: that result, with its index in answered
    // (probes.size() when none was found). The probes of one server go out
    // together on a kept connection, so that a miss costs one round trip;
    // a server whose first probe was found last time is asked for it alone
    // first, so that a hit costs one request.
    HttpResult DownloadFirst(std::vector<Probe>& probes, const HttpDiag& diag, size_t& answered);
    // Forgets every offline mark (tests, and a changed search path).
    void ResetOffline();
    // How many connections are kept open now (tests).
    size_t KeptConnections() { return m_pool.IdleCount(); }

private:
    mutable std::mutex m_lock;
    HttpOptions m_options;
    // Routes whose last DownloadFirst found its first probe.
    std::map<std::string, bool> m_firstFound;
    CServerBackoff m_backoff;
    CHttpConnectionPool m_pool;
};
