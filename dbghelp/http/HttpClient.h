#pragma once
#include <windows.h>

#include <mutex>
#include <string>

#include "HttpDownload.h"
#include "ServerBackoff.h"

// Fetches files from HTTP and HTTPS symbol stores, directly or through a
// proxy, with every network wait bounded, and skips for a while a server that
// could not be reached, did not answer, was too slow or failed the TLS checks.
class CHttpClient
{
public:
    CHttpClient();
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
    // Forgets every offline mark (tests, and a changed search path).
    void ResetOffline();

private:
    mutable std::mutex m_lock;
    HttpOptions m_options;
    CServerBackoff m_backoff;
};
