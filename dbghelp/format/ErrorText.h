#pragma once

#include <cstdio>
#include <string>

// A reader's description of what is wrong with a file, with up to three
// numbers put in by a printf format of %llu (or %llx) conversions.
inline std::string ErrorText(const char* format, unsigned long long a, unsigned long long b = 0,
                             unsigned long long c = 0)
{
    char text[160];
    snprintf(text, sizeof(text), format, a, b, c);
    return text;
}
