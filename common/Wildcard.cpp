#include "Wildcard.h"

bool WildcardMatch(const std::string& pattern, const std::string& text)
{
    size_t p = 0;
    size_t t = 0;
    size_t star = std::string::npos;
    size_t starText = 0;
    while (t < text.size())
    {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t]))
        {
            ++p;
            ++t;
        }
        else if (p < pattern.size() && pattern[p] == '*')
        {
            star = p++;
            starText = t;
        }
        else if (star != std::string::npos)
        {
            p = star + 1;
            t = ++starText;
        }
        else
        {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
