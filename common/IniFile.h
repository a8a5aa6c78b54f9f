#pragma once
#include <windows.h>

#include <string>
#include <vector>

// One private profile (INI) file and the platform's profile calls on it. The
// object holds no file contents: each operation is one or two platform calls.
// Every operation sets the last error: 0, 87 for a missing section or key, an
// empty file name or a section that cannot be cleared, 8 for a buffer that
// cannot be allocated, or the platform's own code after a failed write.
class CIniFile
{
public:
    // fileName is used unchanged, or, with inModuleDir, placed in the
    // directory of the given module (alone when that cannot be found).
    CIniFile(const char* fileName, bool inModuleDir = false, HMODULE module = nullptr);

    int GetInt(const char* section, const char* key, int defaultValue);
    // size: buffer size in characters, terminator included; longer values are
    // cut. Size 0 reads the value whole, however long.
    std::string GetString(const char* section, const char* key, const char* defaultValue, DWORD size);
    // The key names of a section in file order; a line without '=' counts whole.
    bool GetSectionKeys(const char* section, std::vector<std::string>& keys);

    bool WriteInt(const char* section, const char* key, int value);
    bool WriteString(const char* section, const char* key, const char* value);
    // Replaces the whole section by the given lines; empty lines are left out.
    // A rewrite that the file's text does not allow (see RewriteSection)
    // fails with ERROR_UNSUPPORTED_TYPE and leaves the file as it was.
    bool WriteSection(const char* section, const std::vector<std::string>& lines);

    DWORD GetError() const { return m_error; }
    const std::string& GetFileName() const { return m_fileName; }

private:
    bool RemoveSection(const char* section);
    // Whether the section now holds exactly the keys of the given lines.
    bool SectionHoldsKeys(const char* section, const std::vector<std::string>& lines);
    // Replaces the section's lines in the file's text as read before the
    // platform's write, through a temporary file renamed over the file. Only
    // single-byte text is rewritten: UTF-16 (and UTF-8 given other than
    // ASCII lines) fails with ERROR_UNSUPPORTED_TYPE, and the file gets its
    // old text back.
    bool RewriteSection(const char* section, const std::vector<std::string>& lines, const std::string& original);

    std::string m_fileName;
    DWORD m_error;
};
