#include "ProxyConfig.h"

#include "HttpText.h"
#include "Wildcard.h"

namespace
{

std::vector<std::string> SplitOn(const std::string& text, const char* separators)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size())
    {
        const size_t end = text.find_first_of(separators, start);
        const std::string part =
            CHttpText::TrimBlanks(text.substr(start, end == std::string::npos ? end : end - start));
        if (!part.empty())
            parts.push_back(part);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return parts;
}

} // namespace

std::string CProxyConfig::Endpoint::Server() const
{
    return host + ":" + CHttpText::Decimal(port);
}

bool CProxyConfig::ParseEndpoint(const std::string& text, Endpoint& endpoint, std::string& why)
{
    std::string rest = CHttpText::TrimBlanks(text);
    if (CHttpText::StartsWithNoCase(rest, "http://"))
        rest = rest.substr(7);
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0)
    {
        why = "\"" + CHttpText::Printable(text) + "\" is not host:port";
        return false;
    }
    const std::string host = CHttpText::LowerCase(rest.substr(0, colon));
    for (char c : host)
    {
        if (!CHttpText::IsAlpha(c) && !CHttpText::IsDigit(c) && c != '.' && c != '-' && c != '_')
        {
            why = "\"" + CHttpText::Printable(text) + "\" has an unsupported host name";
            return false;
        }
    }
    const std::string port = rest.substr(colon + 1);
    unsigned value = 0;
    for (char c : port)
    {
        if (!CHttpText::IsDigit(c) || value > 65535)
        {
            value = 0;
            break;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
    {
        why = "\"" + CHttpText::Printable(text) + "\" has a bad port";
        return false;
    }
    endpoint.host = host;
    endpoint.port = value;
    return true;
}

bool CProxyConfig::ParseSingle(const std::string& text, std::string& why)
{
    *this = CProxyConfig();
    Endpoint endpoint;
    if (!ParseEndpoint(text, endpoint, why))
        return false;
    m_http = endpoint;
    m_https = endpoint;
    return true;
}

bool CProxyConfig::ParseWinInet(const std::string& server, const std::string& bypass, std::string& why)
{
    *this = CProxyConfig();
    if (server.find('=') == std::string::npos)
    {
        if (!ParseSingle(server, why))
            return false;
    }
    else
    {
        for (const std::string& entry : SplitOn(server, "; "))
        {
            const size_t equals = entry.find('=');
            const std::string scheme = CHttpText::LowerCase(entry.substr(0, equals));
            Endpoint* endpoint = scheme == "http" ? &m_http : scheme == "https" ? &m_https : nullptr;
            if (endpoint == nullptr || equals == std::string::npos)
                continue; // ftp=, socks= and the like: not ours
            if (!ParseEndpoint(entry.substr(equals + 1), *endpoint, why))
                return false;
        }
    }
    for (const std::string& pattern : SplitOn(bypass, "; \t,"))
        m_bypass.push_back(CHttpText::LowerCase(pattern));
    return true;
}

bool CProxyConfig::Bypasses(const std::string& host) const
{
    const std::string name = CHttpText::LowerCase(host);
    for (const std::string& pattern : m_bypass)
    {
        if (pattern == "<local>" ? name.find('.') == std::string::npos : WildcardMatch(pattern, name))
            return true;
    }
    return false;
}

const CProxyConfig::Endpoint* CProxyConfig::For(bool https, const std::string& host) const
{
    const Endpoint& endpoint = https ? m_https : m_http;
    if (!endpoint.IsSet() || Bypasses(host))
        return nullptr;
    return &endpoint;
}
