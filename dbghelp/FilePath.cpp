#include "FilePath.h"

#include <cctype>

#include "PathSplit.h"

namespace
{
bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

const char* const kDeviceNames[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"};
} // namespace

std::string CFilePath::Join(const std::string& dir, const std::string& name)
{
    if (dir.empty() || IsSeparator(dir.back()))
        return dir + name;
    return dir + "\\" + name;
}

std::string CFilePath::FileName(const std::string& path)
{
    const size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string CFilePath::Directory(const std::string& path)
{
    const PathParts parts = SplitPath(path);
    return parts.drive + parts.dir;
}

std::string CFilePath::ExtensionNoDot(const std::string& path)
{
    const std::string ext = SplitPath(path).ext;
    return ext.empty() ? ext : ext.substr(1);
}

std::string CFilePath::BaseName(const std::string& path)
{
    return SplitPath(path).fname;
}

std::string CFilePath::Full(const std::string& path)
{
    char buffer[MAX_PATH * 2];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, nullptr);
    if (length == 0 || length >= sizeof(buffer))
        return path;
    return std::string(buffer, length);
}

bool CFilePath::IsSafeFileName(const std::string& name)
{
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
    {
        if (c < 0x20 || c == 0x7F || std::string("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
            return false;
    }
    // Windows drops trailing dots and blanks, so "a.pdb." would name "a.pdb".
    if (name.back() == '.' || name.back() == ' ')
        return false;
    // A device name opens the device whatever the directory or extension.
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (const char* device : kDeviceNames)
    {
        if (EqualNoCase(stem, device))
            return false;
    }
    if (stem.size() == 4 && (EqualNoCase(stem.substr(0, 3), "COM") || EqualNoCase(stem.substr(0, 3), "LPT")) &&
        stem[3] >= '0' && stem[3] <= '9')
        return false;
    return true;
}

bool CFilePath::IsPlainAbsolutePath(const std::string& path, std::string& why)
{
    if (path.empty())
    {
        why = "an empty path";
        return false;
    }
    if (path.size() >= MAX_PATH)
    {
        why = "a path longer than the platform allows";
        return false;
    }
    size_t partsFrom = 0;
    const bool drive =
        path.size() >= 3 && isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && IsSeparator(path[2]);
    if (drive)
    {
        partsFrom = 3;
    }
    else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]))
    {
        // \\server\share\...: both must be names; "." and "?" as the server
        // are the device namespaces, which IsSafeFileName refuses.
        const size_t server = path.find_first_of("\\/", 2);
        const size_t share = server == std::string::npos ? server : path.find_first_of("\\/", server + 1);
        if (share == std::string::npos || !IsSafeFileName(path.substr(2, server - 2)) ||
            !IsSafeFileName(path.substr(server + 1, share - server - 1)))
        {
            why = "a device, or a share path without a share";
            return false;
        }
        partsFrom = share + 1;
    }
    else
    {
        why = "a relative path";
        return false;
    }
    // Each part up to the file name; an empty one ("a\\b", a trailing
    // separator) is no plain path either.
    for (size_t start = partsFrom;;)
    {
        const size_t end = path.find_first_of("\\/", start);
        const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!IsSafeFileName(part))
        {
            why = part.empty() ? "an empty part" : "the part \"" + part + "\", which is no plain name";
            return false;
        }
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

bool CFilePath::FileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool CFilePath::DirectoryExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CFilePath::EnsureDirectory(const std::string& path, DWORD& error)
{
    error = 0;
    // The drive ("C:\") or the share ("\\server\share\") is never created.
    size_t start = 0;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]))
    {
        start = path.find_first_of("\\/", 2);
        start = start == std::string::npos ? path.size() : path.find_first_of("\\/", start + 1);
        if (start == std::string::npos)
            return true;
    }
    else if (path.size() >= 2 && path[1] == ':')
    {
        start = 2;
    }
    for (size_t at = path.find_first_of("\\/", start + 1); at != std::string::npos;
         at = path.find_first_of("\\/", at + 1))
    {
        const std::string prefix = path.substr(0, at);
        if (prefix.empty() || IsSeparator(prefix.back()) || (prefix.size() == 2 && prefix[1] == ':'))
            continue;
        if (DirectoryExists(prefix))
            continue;
        if (!CreateDirectoryA(prefix.c_str(), nullptr))
        {
            const DWORD code = GetLastError();
            // Another thread or process may have made it in between.
            if (code == ERROR_ALREADY_EXISTS && DirectoryExists(prefix))
                continue;
            error = code;
            return false;
        }
    }
    return true;
}

bool CFilePath::IsHttpUrl(const std::string& path)
{
    return path.size() > 7 && (EqualNoCase(path.substr(0, 7), "http://") ||
                               (path.size() > 8 && EqualNoCase(path.substr(0, 8), "https://")));
}
