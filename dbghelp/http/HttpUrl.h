#pragma once

#include <cstddef>
#include <string>

// An http:// or https:// URL as the client requests it: scheme, host, port
// and request target.
class CHttpUrl
{
public:
    static constexpr size_t kMaxLength = 4096;

    // Parses an absolute http:// or https:// URL (the scheme in any case).
    // The host is kept in lower case and may hold letters, digits, '.', '-'
    // and '_'; the port is 1-65535 (80 or 443 when absent); the fragment is
    // dropped and every character that may not stand in a request target is
    // percent-encoded (valid escapes are kept, a stray '%' is encoded). False
    // with the reason in why.
    bool Parse(const std::string& text, std::string& why);
    // The URL that a redirect's Location value leads to, seen from this one:
    // an absolute http:// or https:// URL, "//host/path" (same scheme), an
    // absolute or relative path (dot segments removed) or a query. Other
    // schemes are refused, and so is a step down from https to http.
    bool Resolve(const std::string& location, CHttpUrl& next, std::string& why) const;

    bool IsHttps() const { return m_https; }
    const std::string& Host() const { return m_host; }
    unsigned Port() const { return m_port; }
    // Path and query, percent-encoded, starting with "/".
    const std::string& Target() const { return m_target; }
    // "host:port": what the offline marks are kept by.
    std::string Server() const;
    // The Host header's value: the host alone on the scheme's own port.
    std::string HostHeader() const;
    // The whole URL, as diagnostics show it.
    std::string Text() const;

private:
    unsigned DefaultPort() const { return m_https ? 443 : 80; }

    bool m_https = false;
    std::string m_host;
    unsigned m_port = 80;
    std::string m_target;
};
