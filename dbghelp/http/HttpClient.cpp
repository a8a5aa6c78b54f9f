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
// ourselves: GETs only, no compression,
// proxies without authentication. HTTP/1.1 keep-alive keeps the connection
// (and its TLS session) for the next file; several probes of one key go out
// pipelined on one connection.

#include "HttpClient.h"

#include <memory>

CHttpClient::CHttpClient(size_t maxIdleConnections, DWORD idleMs) : m_pool(maxIdleConnections, idleMs)
{
}

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
        CHttpDownload download(GetOptions(), m_backoff, m_pool, targetPath, diag, bytes);
        return download.Run(url);
    }
    catch (...)
    {
        // Out of memory, or the caller's diag threw: nothing of it may reach
        // the symbol library's caller.
        return HttpResult::Failed;
    }
}

HttpResult CHttpClient::DownloadFirst(std::vector<Probe>& probes, const HttpDiag& diag, size_t& answered)
{
    answered = probes.size();
    try
    {
        const HttpOptions options = GetOptions();
        std::vector<std::unique_ptr<CHttpDownload>> owned;
        std::vector<CHttpDownload*> downloads;
        std::vector<std::string> urls;
        for (Probe& probe : probes)
        {
            probe.bytes = 0;
            owned.emplace_back(new CHttpDownload(options, m_backoff, m_pool, probe.targetPath, diag, &probe.bytes));
            downloads.push_back(owned.back().get());
            urls.push_back(probe.url);
        }
        if (probes.empty())
            return HttpResult::NotFound;
        const std::string route = CHttpDownload::RouteFor(options, probes.front().url);
        bool firstAlone = false;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            firstAlone = m_firstFound[route];
        }
        HttpResult result = HttpResult::NotFound;
        size_t first = 0;
        if (firstAlone)
        {
            result = downloads.front()->Run(urls.front());
            first = 1;
        }
        if (result == HttpResult::NotFound)
        {
            downloads.erase(downloads.begin(), downloads.begin() + static_cast<std::ptrdiff_t>(first));
            urls.erase(urls.begin(), urls.begin() + static_cast<std::ptrdiff_t>(first));
            result = CHttpDownload::RunFirst(downloads, urls, answered);
            answered += first;
        }
        else
        {
            answered = 0;
        }
        std::lock_guard<std::mutex> hold(m_lock);
        m_firstFound[route] = answered == 0 && result == HttpResult::Ok;
        return result;
    }
    catch (...)
    {
        return HttpResult::Failed;
    }
}

void CHttpClient::ResetOffline()
{
    m_backoff.Reset();
}
