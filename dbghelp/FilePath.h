#pragma once
#include <windows.h>

#include <string>

// Path helpers for the symbol search: joining, the parts the search needs,
// and the checks that keep names taken from images or servers inside the
// directories they are meant for.
class CFilePath
{
public:
    // dir and name with one backslash between them (none added after an
    // existing '\' or '/', and nothing added to an empty dir).
    static std::string Join(const std::string& dir, const std::string& name);
    // The part after the last '\', '/' or drive colon.
    static std::string FileName(const std::string& path);
    // The directory part, up to and including the last '\' or '/'.
    static std::string Directory(const std::string& path);
    // The extension without its dot ("dll"), empty when there is none.
    static std::string ExtensionNoDot(const std::string& path);
    // The file name without its extension.
    static std::string BaseName(const std::string& path);
    // The absolute form of path (GetFullPathName); path itself when that fails.
    static std::string Full(const std::string& path);

    // True for a plain file name that stays in the directory it is joined to:
    // not empty, not "." or "..", no separators, drive colons, wildcards or
    // control characters, no device name, at most 255 characters.
    static bool IsSafeFileName(const std::string& name);

    // True for a full path that names a plain file on a drive or a share:
    // "X:\..." or "\\server\share\...", every part a safe file name (so no
    // "." or "..", device name, wildcard or stream colon), shorter than
    // MAX_PATH. The device namespaces ("\\.\", "\\?\") are refused. When
    // false, why says what is wrong ("a relative path", ...).
    static bool IsPlainAbsolutePath(const std::string& path, std::string& why);

    static bool FileExists(const std::string& path);
    static bool DirectoryExists(const std::string& path);
    // Creates every missing directory of path up to its last '\' or '/'.
    // False with the platform's error in error when one cannot be created.
    static bool EnsureDirectory(const std::string& path, DWORD& error);
    static bool IsHttpUrl(const std::string& path);
};
