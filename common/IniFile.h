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
    // size: buffer size in characters, terminator included; longer values are cut.
    std::string GetString(const char* section, const char* key, const char* defaultValue, DWORD size);
    // The key names of a section in file order; a line without '=' counts whole.
    bool GetSectionKeys(const char* section, std::vector<std::string>& keys);

    bool WriteInt(const char* section, const char* key, int value);
    bool WriteString(const char* section, const char* key, const char* value);
    // Replaces the whole section by the given lines; empty lines are left out.
    bool WriteSection(const char* section, const std::vector<std::string>& lines);

    DWORD GetError() const { return m_error; }
    const std::string& GetFileName() const { return m_fileName; }

private:
    bool RemoveSection(const char* section);
    // Whether the section now holds exactly the keys of the given lines.
    bool SectionHoldsKeys(const char* section, const std::vector<std::string>& lines);
    // Replaces the section's lines in the file text itself, through a
    // temporary file renamed over the old one.
    bool RewriteSection(const char* section, const std::vector<std::string>& lines);

    std::string m_fileName;
    DWORD m_error;
};
