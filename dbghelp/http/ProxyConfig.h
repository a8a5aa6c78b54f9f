#pragma once

#include <string>
#include <vector>

// Which proxy, if any, a request goes through: one proxy for both schemes
// ("[Http] Proxy=host:port"), or the system's WinINet setting with a proxy
// per scheme and a list of hosts reached directly.
class CProxyConfig
{
public:
    struct Endpoint
    {
        std::string host; // lower case
        unsigned port = 0;
        bool IsSet() const { return port != 0; }
        // "host:port": what offline marks and diagnostics name it by.
        std::string Server() const;
    };

    // One proxy for every request: "host:port" or "http://host:port". False
    // with the reason in why.
    bool ParseSingle(const std::string& text, std::string& why);
    // WinINet's values: ProxyServer is "host:port" for every protocol or a
    // list "http=host:port;https=host:port;..." (protocols not named go
    // direct); ProxyOverride lists host patterns ('*' wildcards, "<local>"
    // for names without a dot) reached directly, separated by ';' or blanks.
    bool ParseWinInet(const std::string& server, const std::string& bypass, std::string& why);

    // The proxy for a request to host over https or http; null when direct.
    const Endpoint* For(bool https, const std::string& host) const;
    bool IsSet() const { return m_http.IsSet() || m_https.IsSet(); }

private:
    static bool ParseEndpoint(const std::string& text, Endpoint& endpoint, std::string& why);
    bool Bypasses(const std::string& host) const;

    Endpoint m_http;
    Endpoint m_https;
    std::vector<std::string> m_bypass; // lower case
};
