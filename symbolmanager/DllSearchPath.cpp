#include "DllSearchPath.h"

#include <windows.h>

#include "PathSplit.h"

namespace
{
std::string WithBackslash(const std::string& directory)
{
    if (directory.empty() || directory.back() == '\\' || directory.back() == '/')
        return directory;
    return directory + "\\";
}

std::string SystemFolder(UINT(WINAPI* query)(LPSTR, UINT))
{
    char buffer[MAX_PATH];
    const UINT length = query(buffer, sizeof(buffer));
    return length != 0 && length < sizeof(buffer) ? std::string(buffer, length) : std::string();
}

bool IsFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
} // namespace

CDllSearchPath::CDllSearchPath(std::vector<std::string> directories)
{
    for (const std::string& directory : directories)
    {
        if (!directory.empty())
            m_directories.push_back(WithBackslash(directory));
    }
}

CDllSearchPath CDllSearchPath::ForProgram(const std::string& program)
{
    const PathParts parts = SplitPath(program);
    std::vector<std::string> directories = {parts.drive + parts.dir, SystemFolder(GetSystemDirectoryA),
                                            SystemFolder(GetWindowsDirectoryA)};
    std::vector<char> path(32768);
    const DWORD length = GetEnvironmentVariableA("PATH", path.data(), static_cast<DWORD>(path.size()));
    if (length != 0 && length < path.size())
    {
        const std::string text(path.data(), length);
        size_t start = 0;
        for (size_t entries = 0; start <= text.size() && entries < kMaxPathEntries; ++entries)
        {
            const size_t end = std::min(text.find(';', start), text.size());
            // Quotes around an entry are the shell's, not part of the folder.
            std::string entry = text.substr(start, end - start);
            if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"')
                entry = entry.substr(1, entry.size() - 2);
            directories.push_back(entry);
            start = end + 1;
        }
    }
    return CDllSearchPath(directories);
}

std::string CDllSearchPath::Resolve(const std::string& name) const
{
    if (name.empty() || name.find_first_of("\\/:") != std::string::npos || name.size() >= MAX_PATH)
        return std::string();
    const std::string file = SplitPath(name).ext.empty() ? name + ".dll" : name;
    for (const std::string& directory : m_directories)
    {
        const std::string candidate = directory + file;
        if (IsFile(candidate))
            return candidate;
    }
    return std::string();
}
