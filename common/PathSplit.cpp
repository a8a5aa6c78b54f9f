#include "PathSplit.h"

#include <windows.h>
#include <mbstring.h>

PathParts SplitPath(const std::string& path)
{
    PathParts parts;
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':' && IsCharAlphaA(path[0]))
    {
        parts.drive = path.substr(0, 2);
        start = 2;
    }

    // Positions of the last separator and of the last dot, found by walking
    // whole characters so that a double-byte character's second byte (which may
    // be 0x5C, the backslash) is never mistaken for one.
    size_t lastSep = std::string::npos;
    size_t lastDot = std::string::npos;
    for (size_t i = start; i < path.size(); ++i)
    {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (IsDBCSLeadByte(c) && i + 1 < path.size())
        {
            ++i;
            continue;
        }
        if (c == '\\' || c == '/')
        {
            lastSep = i;
            lastDot = std::string::npos;
        }
        else if (c == '.')
        {
            lastDot = i;
        }
    }

    const size_t nameStart = (lastSep == std::string::npos) ? start : lastSep + 1;
    parts.dir = path.substr(start, nameStart - start);
    if (lastDot == std::string::npos)
    {
        parts.fname = path.substr(nameStart);
    }
    else
    {
        parts.fname = path.substr(nameStart, lastDot - nameStart);
        parts.ext = path.substr(lastDot);
    }
    return parts;
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    // The C runtime's multibyte comparison folds case by the ANSI code page
    // and keeps each double-byte character whole; unlike the linguistic
    // comparisons it ignores no character, so distinct paths never compare equal.
    return a.size() == b.size() && _mbsicmp(reinterpret_cast<const unsigned char*>(a.c_str()),
                                            reinterpret_cast<const unsigned char*>(b.c_str())) == 0;
}

std::string FoldCase(const std::string& text)
{
    std::string folded(text);
    for (char& c : folded)
    {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}
