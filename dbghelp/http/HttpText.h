#pragma once

#include <cstddef>
#include <string>

// Character classes and text helpers of the HTTP client. ASCII only: a URL or
// a header means the same whatever the ANSI code page.
class CHttpText
{
public:
    // How much of a server's text (a status reason, a rejected header value)
    // a diagnostic line shows.
    static constexpr size_t kMaxShown = 64;

    static bool IsDigit(char c);
    static bool IsAlpha(char c);
    // 0-15 for a hexadecimal digit, -1 for anything else.
    static int HexValue(char c);
    static std::string LowerCase(std::string text);
    static bool StartsWithNoCase(const std::string& text, const char* prefix);
    // text without leading and trailing blanks and tabs.
    static std::string TrimBlanks(const std::string& text);
    // Server text as the user may see it: printable ASCII only (anything else
    // becomes '?'), cut after limit characters with "...".
    static std::string Printable(const std::string& text, size_t limit = kMaxShown);
    static std::string Decimal(unsigned long long value);
};
