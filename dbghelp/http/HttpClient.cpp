// HTTP/1.1 downloads for the symbol library's HTTP and HTTPS stores, on
// Winsock 2 with TLS through Schannel.
//
// Why not WinINet or WinHTTP: the symbol library runs inside the debugger's
// process, and a store server that accepts a connection and then never
// answers must not hang the debugger. Under Wine 8, InternetOpenUrlA and
// WinHTTP both block indefinitely against such a server although their
// connect and receive time-outs were accepted (and closing the handle from
// another thread does not release them), while Winsock's SO_RCVTIMEO is
// honoured. So the bound is built from Winsock alone, the same code on Windows
// and on Wine (see CTcpSocket), and TLS runs over that socket through SSPI
// (see CTlsChannel). The price is that we speak the little HTTP we need
// ourselves: one GET per connection ("Connection: close"), no compression,
// proxies without authentication.

#include "HttpClient.h"

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
        CHttpDownload download(GetOptions(), m_backoff, targetPath, diag, bytes);
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
