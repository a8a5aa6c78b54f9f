#include "HttpReplyHead.h"

#include <cstring>

#include "ByteReader.h"
#include "HttpText.h"

namespace
{

// One line of the head without its line end (CRLF or a bare LF).
bool ReadHeadLine(CByteReader& reader, std::string& line)
{
    if (!reader.ReadUntil('\n', line, CHttpReplyHead::kMaxLineLength))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool IsTokenCharacter(char c)
{
    return CHttpText::IsAlpha(c) || CHttpText::IsDigit(c) || strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool ParseContentLength(const std::string& value, unsigned long long& length)
{
    if (value.empty() || value.size() > 19)
        return false;
    length = 0;
    for (char c : value)
    {
        if (!CHttpText::IsDigit(c))
            return false;
        length = length * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

// Only "chunked" (possibly after "identity") can be undone here: we ask for
// identity content, so any other coding is a server we cannot read.
bool ParseTransferEncoding(const std::string& value, bool& chunked)
{
    chunked = false;
    size_t start = 0;
    for (;;)
    {
        const size_t comma = value.find(',', start);
        const std::string coding = CHttpText::LowerCase(
            CHttpText::TrimBlanks(value.substr(start, comma == std::string::npos ? comma : comma - start)));
        if (chunked)
            return false; // chunked must be the last coding
        if (coding == "chunked")
            chunked = true;
        else if (coding != "identity")
            return false;
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

// A Connection header is a comma-separated list of tokens; only "close"
// matters here.
bool HasCloseToken(const std::string& value)
{
    size_t start = 0;
    for (;;)
    {
        const size_t comma = value.find(',', start);
        const std::string token = CHttpText::LowerCase(
            CHttpText::TrimBlanks(value.substr(start, comma == std::string::npos ? comma : comma - start)));
        if (token == "close")
            return true;
        if (comma == std::string::npos)
            return false;
        start = comma + 1;
    }
}

} // namespace

// "HTTP/1.x NNN reason"
bool CHttpReplyHead::ParseStatusLine(const std::string& text, std::string& why)
{
    CByteReader line(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    uint8_t minor = 0;
    uint8_t blank = 0;
    uint8_t digits[3] = {};
    if (!line.ReadMatch("HTTP/1.", 7) || !line.ReadU8(minor) || !CHttpText::IsDigit(static_cast<char>(minor)) ||
        !line.ReadU8(blank) || blank != ' ' || !line.ReadBytes(digits, sizeof(digits)))
    {
        why = "not an HTTP/1.x status line: \"" + CHttpText::Printable(text) + "\"";
        return false;
    }
    m_minor = minor - '0';
    m_status = 0;
    for (uint8_t digit : digits)
    {
        if (!CHttpText::IsDigit(static_cast<char>(digit)))
        {
            why = "bad status code";
            return false;
        }
        m_status = m_status * 10 + (digit - '0');
    }
    if (m_status < 100)
    {
        why = "bad status code";
        return false;
    }
    m_reason.clear();
    if (line.GetRemaining() > 0)
    {
        if (!line.ReadU8(blank) || blank != ' ' || !line.ReadFixedString(m_reason, line.GetRemaining()))
        {
            why = "bad status line";
            return false;
        }
        m_reason = CHttpText::Printable(m_reason);
    }
    return true;
}

bool CHttpReplyHead::Parse(const std::string& bytes, std::string& why)
{
    *this = CHttpReplyHead();
    CByteReader reader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::string line;
    if (!ReadHeadLine(reader, line))
    {
        why = "status line too long";
        return false;
    }
    if (!ParseStatusLine(line, why))
        return false;

    size_t count = 0;
    for (;;)
    {
        if (!ReadHeadLine(reader, line))
        {
            why = "header line too long";
            return false;
        }
        if (line.empty())
            return true;
        if (++count > kMaxHeaderCount)
        {
            why = "too many headers";
            return false;
        }
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos)
        {
            why = "malformed header line";
            return false;
        }
        const std::string name = CHttpText::LowerCase(line.substr(0, colon));
        for (char c : name)
        {
            if (!IsTokenCharacter(c))
            {
                why = "malformed header name";
                return false;
            }
        }
        const std::string value = CHttpText::TrimBlanks(line.substr(colon + 1));
        for (char c : value)
        {
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
            {
                why = "control character in header";
                return false;
            }
        }

        if (name == "content-length")
        {
            unsigned long long length = 0;
            if (!ParseContentLength(value, length) || (m_hasLength && m_length != length))
            {
                why = "bad Content-Length \"" + CHttpText::Printable(value) + "\"";
                return false;
            }
            m_hasLength = true;
            m_length = length;
        }
        else if (name == "transfer-encoding")
        {
            bool chunked = false;
            if (m_chunked || !ParseTransferEncoding(value, chunked))
            {
                why = "unsupported Transfer-Encoding \"" + CHttpText::Printable(value) + "\"";
                return false;
            }
            m_chunked = chunked;
        }
        else if (name == "connection")
        {
            if (HasCloseToken(value))
                m_closes = true;
        }
        else if (name == "location")
        {
            if (m_hasLocation)
            {
                why = "more than one Location";
                return false;
            }
            m_hasLocation = true;
            m_location = value;
        }
    }
}

bool CHttpReplyHead::IsRedirect() const
{
    return m_status == 301 || m_status == 302 || m_status == 303 || m_status == 307 || m_status == 308;
}

bool CHttpReplyHead::IsDelimited() const
{
    return m_chunked || m_hasLength || m_status < 200 || m_status == 204 || m_status == 304;
}
