#pragma once

#include <cstddef>
#include <string>

// An http:// URL as the client requests it: host, port and request target.
class CHttpUrl
{
public:
    static constexpr size_t kMaxLength = 4096;

    // Parses an absolute http:// URL (the scheme in any case). The host is
    // kept in lower case and may hold letters, digits, '.', '-' and '_'; the
    // port is 1-65535 (80 when absent); the fragment is dropped and every
    // character that may not stand in a request target is percent-encoded
    // (valid escapes are kept, a stray '%' is encoded). False with the reason
    // in why.
    bool Parse(const std::string& text, std::string& why);
    // The URL that a redirect's Location value leads to, seen from this one:
    // an absolute http:// URL, "//host/path", an absolute or relative path
    // (dot segments removed) or a query. Other schemes are refused.
    bool Resolve(const std::string& location, CHttpUrl& next, std::string& why) const;

    const std::string& Host() const { return m_host; }
    unsigned Port() const { return m_port; }
    // Path and query, percent-encoded, starting with "/".
    const std::string& Target() const { return m_target; }
    // "host:port": what the offline marks are kept by.
    std::string Server() const;
    // The Host header's value: the host alone on port 80.
    std::string HostHeader() const;
    // The whole URL, as diagnostics show it.
    std::string Text() const;

private:
    std::string m_host;
    unsigned m_port = 80;
    std::string m_target;
};
