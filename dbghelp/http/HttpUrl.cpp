#include "HttpUrl.h"

#include <cstring>
#include <vector>

#include "HttpText.h"

namespace
{

// Characters that may stand in a request target as they are; everything else
// (blanks, controls, quotes, backslashes, bytes above 127) is percent-encoded.
bool IsTargetCharacter(char c)
{
    return CHttpText::IsAlpha(c) || CHttpText::IsDigit(c) || strchr("-._~!$&'()*+,;=:@/?", c) != nullptr;
}

std::string EncodeTarget(const std::string& raw)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (size_t i = 0; i < raw.size(); ++i)
    {
        const char c = raw[i];
        const bool escape = c == '%' && i + 2 < raw.size() && CHttpText::HexValue(raw[i + 1]) >= 0 &&
                            CHttpText::HexValue(raw[i + 2]) >= 0;
        if (c != '\0' && (IsTargetCharacter(c) || escape))
        {
            encoded += c;
        }
        else
        {
            const unsigned char byte = static_cast<unsigned char>(c);
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 15];
        }
    }
    return encoded;
}

// "/a/b/../c/./d" -> "/a/c/d", as a browser resolves a relative reference.
std::string RemoveDotSegments(const std::string& path)
{
    std::vector<std::string> kept;
    bool endsInDirectory = false;
    size_t position = 1;
    for (;;)
    {
        const size_t slash = path.find('/', position);
        const bool last = slash == std::string::npos;
        const std::string segment = path.substr(position, last ? std::string::npos : slash - position);
        if (segment == "..")
        {
            if (!kept.empty())
                kept.pop_back();
        }
        else if (segment != ".")
        {
            kept.push_back(segment);
        }
        if (last)
        {
            endsInDirectory = segment == "." || segment == "..";
            break;
        }
        position = slash + 1;
    }
    std::string result;
    for (const std::string& segment : kept)
        result += "/" + segment;
    if (result.empty() || endsInDirectory)
        result += "/";
    return result;
}

} // namespace

bool CHttpUrl::Parse(const std::string& text, std::string& why)
{
    if (text.size() > kMaxLength)
    {
        why = "URL too long";
        return false;
    }
    size_t authorityStart = 0;
    if (CHttpText::StartsWithNoCase(text, "http://"))
        authorityStart = 7;
    else if (CHttpText::StartsWithNoCase(text, "https://"))
        authorityStart = 8;
    if (authorityStart == 0)
    {
        why = "only http:// and https:// URLs are supported";
        return false;
    }
    m_https = authorityStart == 8;
    size_t authorityEnd = text.find_first_of("/?#", authorityStart);
    if (authorityEnd == std::string::npos)
        authorityEnd = text.size();
    const std::string authority = text.substr(authorityStart, authorityEnd - authorityStart);

    const size_t colon = authority.find(':');
    m_host = CHttpText::LowerCase(authority.substr(0, colon));
    if (m_host.empty())
    {
        why = "no host name";
        return false;
    }
    for (char c : m_host)
    {
        if (!CHttpText::IsAlpha(c) && !CHttpText::IsDigit(c) && c != '.' && c != '-' && c != '_')
        {
            why = "unsupported host name";
            return false;
        }
    }
    m_port = DefaultPort();
    if (colon != std::string::npos)
    {
        const std::string port = authority.substr(colon + 1);
        unsigned value = 0;
        for (char c : port)
        {
            if (!CHttpText::IsDigit(c) || value > 65535)
            {
                why = "bad port";
                return false;
            }
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (port.empty() || value == 0 || value > 65535)
        {
            why = "bad port";
            return false;
        }
        m_port = value;
    }

    std::string rest = text.substr(authorityEnd);
    rest = rest.substr(0, rest.find('#'));
    if (rest.empty() || rest[0] != '/')
        rest = "/" + rest;
    m_target = EncodeTarget(rest);
    return true;
}

bool CHttpUrl::Resolve(const std::string& location, CHttpUrl& next, std::string& why) const
{
    size_t schemeEnd = 0;
    while (schemeEnd < location.size() &&
           (CHttpText::IsAlpha(location[schemeEnd]) ||
            (schemeEnd > 0 && (CHttpText::IsDigit(location[schemeEnd]) || location[schemeEnd] == '+' ||
                               location[schemeEnd] == '-' || location[schemeEnd] == '.'))))
        ++schemeEnd;
    if (schemeEnd > 0 && schemeEnd < location.size() && location[schemeEnd] == ':')
    {
        if (!CHttpText::StartsWithNoCase(location, "http:") && !CHttpText::StartsWithNoCase(location, "https:"))
        {
            why = "redirect to another protocol: " + CHttpText::Printable(location);
            return false;
        }
        if (!next.Parse(location, why))
            return false;
        // What was asked for over an authenticated, encrypted connection is
        // never fetched in the clear.
        if (m_https && !next.m_https)
        {
            why = "redirect from https to http: " + CHttpText::Printable(location);
            return false;
        }
        return true;
    }
    if (location.compare(0, 2, "//") == 0)
        return next.Parse((m_https ? "https:" : "http:") + location, why);

    const std::string reference = location.substr(0, location.find('#'));
    const std::string basePath = m_target.substr(0, m_target.find('?'));
    std::string merged;
    if (reference.empty())
        merged = m_target;
    else if (reference[0] == '/')
        merged = reference;
    else if (reference[0] == '?')
        merged = basePath + reference;
    else
        merged = basePath.substr(0, basePath.rfind('/') + 1) + reference;

    const size_t query = merged.find('?');
    const std::string path = RemoveDotSegments(merged.substr(0, query));
    next.m_https = m_https;
    next.m_host = m_host;
    next.m_port = m_port;
    next.m_target = EncodeTarget(query == std::string::npos ? path : path + merged.substr(query));
    return true;
}

std::string CHttpUrl::Server() const
{
    return m_host + ":" + CHttpText::Decimal(m_port);
}

std::string CHttpUrl::HostHeader() const
{
    return m_port == DefaultPort() ? m_host : Server();
}

std::string CHttpUrl::Text() const
{
    return (m_https ? "https://" : "http://") + HostHeader() + m_target;
}
