#include "HttpText.h"

#include <cstring>

bool CHttpText::IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool CHttpText::IsAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int CHttpText::HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

namespace
{
char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

std::string CHttpText::LowerCase(std::string text)
{
    for (char& c : text)
        c = Lower(c);
    return text;
}

bool CHttpText::StartsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t length = strlen(prefix);
    if (text.size() < length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (Lower(text[i]) != Lower(prefix[i]))
            return false;
    return true;
}

std::string CHttpText::TrimBlanks(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

std::string CHttpText::Printable(const std::string& text, size_t limit)
{
    std::string shown;
    for (char c : text)
    {
        if (shown.size() == limit)
        {
            shown += "...";
            break;
        }
        shown += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return shown;
}

std::string CHttpText::Decimal(unsigned long long value)
{
    return std::to_string(value);
}
