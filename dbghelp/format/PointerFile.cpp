#include "PointerFile.h"

#include "ByteReader.h"

namespace
{
bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// Case-insensitive match of an ASCII keyword at the start of line.
bool StartsWithKeyword(const std::string& line, const char* keyword, size_t length)
{
    if (line.size() < length)
        return false;
    for (size_t i = 0; i < length; ++i)
    {
        char c = line[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != keyword[i])
            return false;
    }
    return true;
}

std::string Trimmed(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}
} // namespace

CPointerFile::CPointerFile() : m_kind(Invalid)
{
}

bool CPointerFile::Fail(const char* error)
{
    m_kind = Invalid;
    m_text.clear();
    m_error = error;
    return false;
}

bool CPointerFile::Parse(const uint8_t* data, size_t size)
{
    m_kind = Invalid;
    m_text.clear();
    m_error.clear();
    if (size > kMaxSize)
        return Fail("the pointer is longer than any real one");
    CByteReader reader(data, size);
    std::string line;
    if (!reader.ReadFixedString(line, size) || line.size() != size)
        return Fail("the pointer holds a zero byte");
    // A byte order mark, as some editors write, is not part of the keyword.
    if (line.compare(0, 3, "\xEF\xBB\xBF") == 0)
        line.erase(0, 3);
    // One line: only line ends and blanks may follow it.
    size_t end = 0;
    while (end < line.size() && !IsLineEnd(line[end]))
        ++end;
    for (size_t at = end; at < line.size(); ++at)
    {
        if (!IsLineEnd(line[at]) && !IsBlank(line[at]))
            return Fail("the pointer has more than one line");
    }
    line.resize(end);
    for (unsigned char c : line)
    {
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            return Fail("the pointer holds a control character");
    }

    if (StartsWithKeyword(line, "PATH:", 5))
    {
        m_text = Trimmed(line.substr(5));
        if (m_text.empty())
            return Fail("the pointer names an empty path");
        m_kind = Path;
        return true;
    }
    if (StartsWithKeyword(line, "MSG:", 4))
    {
        m_text = Trimmed(line.substr(4));
        m_kind = Message;
        return true;
    }
    return Fail("the pointer starts with neither PATH: nor MSG:");
}
