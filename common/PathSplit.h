#pragma once
#include <string>

// The four parts of a path, as the platform's path splitting defines them:
// drive "C:", directory up to and including its last '\' or '/', base name,
// and extension from the last dot of the file name on (dot included).
struct PathParts
{
    std::string drive;
    std::string dir;
    std::string fname;
    std::string ext;
};

// Splits a narrow path in the ANSI code page; a trail byte of a double-byte
// character is never taken for a separator or a dot. Any length is accepted.
PathParts SplitPath(const std::string& path);

// Case-insensitive equality of two narrow strings in the ANSI code page.
bool EqualNoCase(const std::string& a, const std::string& b);

// A name or path with ASCII letters in lower case: a key under which names
// that differ only in case, as file names do, are one.
std::string FoldCase(const std::string& text);
