#include "IniFile.h"

#include <cstdio>
#include <new>

#include "ModulePath.h"
#include "PathSplit.h"
#include "ScopedHandle.h"
#include "TempFile.h"

namespace
{

// The key of a section line: the text before its first '=', or the whole
// line when it has none; a line that starts with '=' has no key.
bool KeyOfLine(const std::string& line, std::string& key)
{
    const size_t equals = line.find('=');
    if (equals == 0)
        return false;
    key = equals == std::string::npos ? line : line.substr(0, equals);
    return true;
}

// The section name of a "[name]" header line, blanks around it ignored.
bool HeaderName(const std::string& line, std::string& name)
{
    const size_t open = line.find_first_not_of(" \t");
    if (open == std::string::npos || line[open] != '[')
        return false;
    const size_t close = line.find(']', open);
    if (close == std::string::npos)
        return false;
    name = line.substr(open + 1, close - open - 1);
    const size_t first = name.find_first_not_of(" \t");
    const size_t last = name.find_last_not_of(" \t");
    name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
    return true;
}

// Resizes a buffer without letting an allocation failure escape.
bool TryResize(std::vector<char>& buffer, size_t size)
{
    try
    {
        buffer.assign(size, '\0');
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

// The whole contents of a file, read while others may go on reading and
// writing it; a file that does not exist reads as empty. The result is 0, or
// the platform's error code when the file cannot be opened or a read fails
// before its end.
DWORD ReadWholeFile(const std::string& path, std::string& text)
{
    text.clear();
    CScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid())
    {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return 0;
        return error != 0 ? error : ERROR_OPEN_FAILED;
    }
    char chunk[4096];
    for (;;)
    {
        DWORD got = 0;
        if (!ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr))
        {
            const DWORD error = GetLastError();
            return error != 0 ? error : ERROR_READ_FAULT;
        }
        if (got == 0)
            return 0;
        text.append(chunk, got);
    }
}

} // namespace

CIniFile::CIniFile(const char* fileName, bool inModuleDir, HMODULE module) : m_error(0)
{
    if (fileName == nullptr)
        return;
    if (inModuleDir)
        GetModulePathPart(m_fileName, MODULE_PATH_DRIVE | MODULE_PATH_DIR, module);
    m_fileName += fileName;
}

int CIniFile::GetInt(const char* section, const char* key, int defaultValue)
{
    m_error = 0;
    if (section == nullptr || key == nullptr || m_fileName.empty())
        return defaultValue;
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, m_fileName.c_str()));
}

std::string CIniFile::GetString(const char* section, const char* key, const char* defaultValue, DWORD size)
{
    m_error = 0;
    const char* fallback = defaultValue != nullptr ? defaultValue : "";
    if (section == nullptr || key == nullptr || m_fileName.empty())
        return fallback;
    if (size == 0)
        return std::string();

    std::vector<char> buffer;
    if (!TryResize(buffer, size))
        return fallback;
    GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, m_fileName.c_str());
    buffer[size - 1] = '\0';
    return buffer.data();
}

bool CIniFile::GetSectionKeys(const char* section, std::vector<std::string>& keys)
{
    m_error = 0;
    if (section == nullptr)
    {
        m_error = ERROR_INVALID_PARAMETER;
        return false;
    }
    keys.clear();

    // The platform returns the buffer size minus 2 when the section does not
    // fit; grow until the whole section has been read.
    DWORD size = 0x8000;
    std::vector<char> buffer;
    DWORD count = 0;
    for (;;)
    {
        if (!TryResize(buffer, size))
        {
            m_error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        count = GetPrivateProfileSectionA(section, buffer.data(), size, m_fileName.c_str());
        if (count < size - 2)
            break;
        if (size > 0x40000000)
        {
            m_error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        size *= 2;
    }
    if (count < 2)
        return true;

    const char* line = buffer.data();
    const char* end = buffer.data() + count;
    while (line < end && *line != '\0')
    {
        const std::string text(line);
        std::string key;
        if (KeyOfLine(text, key))
            keys.push_back(key);
        line += text.size() + 1;
    }
    return true;
}

bool CIniFile::WriteInt(const char* section, const char* key, int value)
{
    m_error = 0;
    if (section == nullptr || key == nullptr || m_fileName.empty())
    {
        m_error = ERROR_INVALID_PARAMETER;
        return false;
    }
    char text[128];
    _snprintf(text, sizeof(text) - 1, "%d", value);
    text[sizeof(text) - 1] = '\0';
    return WriteString(section, key, text);
}

bool CIniFile::WriteString(const char* section, const char* key, const char* value)
{
    m_error = 0;
    if (section == nullptr || key == nullptr || m_fileName.empty())
    {
        m_error = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (!WritePrivateProfileStringA(section, key, value, m_fileName.c_str()))
    {
        m_error = GetLastError();
        return false;
    }
    return true;
}

bool CIniFile::RemoveSection(const char* section)
{
    if (!WritePrivateProfileStringA(section, nullptr, nullptr, m_fileName.c_str()))
    {
        m_error = ERROR_INVALID_PARAMETER;
        return false;
    }
    return true;
}

bool CIniFile::WriteSection(const char* section, const std::vector<std::string>& lines)
{
    m_error = 0;
    if (section == nullptr || m_fileName.empty())
    {
        m_error = ERROR_INVALID_PARAMETER;
        return false;
    }

    size_t size = 1;
    for (const std::string& line : lines)
    {
        if (!line.empty())
            size += line.size() + 1;
    }
    // Nothing to write: the section is removed. Otherwise the platform replaces
    // the section in one write, so a failed write keeps the old lines.
    if (size == 1)
        return RemoveSection(section);

    std::vector<char> buffer;
    if (!TryResize(buffer, size))
    {
        m_error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    size_t pos = 0;
    for (const std::string& line : lines)
    {
        if (line.empty())
            continue;
        line.copy(&buffer[pos], line.size());
        pos += line.size() + 1;
    }

    if (!WritePrivateProfileSectionA(section, buffer.data(), m_fileName.c_str()))
    {
        m_error = GetLastError();
        return false;
    }
    // Some profile implementations (Wine's) drop lines without '=' and still
    // report success, and the exclusion list is made of exactly such lines.
    if (SectionHoldsKeys(section, lines))
        return true;
    return RewriteSection(section, lines);
}

bool CIniFile::SectionHoldsKeys(const char* section, const std::vector<std::string>& lines)
{
    std::vector<std::string> expected;
    for (const std::string& line : lines)
    {
        std::string key;
        if (!line.empty() && KeyOfLine(line, key))
            expected.push_back(key);
    }
    std::vector<std::string> actual;
    const bool read = GetSectionKeys(section, actual);
    m_error = 0;
    return read && actual == expected;
}

bool CIniFile::RewriteSection(const char* section, const std::vector<std::string>& lines)
{
    // Everything else in the file is written back, so the rewrite goes on
    // only from the whole file (or from none at all): a file that cannot be
    // opened or read to its end keeps what it holds, and the write fails.
    std::string text;
    m_error = ReadWholeFile(m_fileName, text);
    if (m_error != 0)
        return false;

    // The file's lines with the section's old lines left out; the new lines
    // go right after its header (or under a new header at the end).
    std::string body;
    for (const std::string& line : lines)
    {
        if (!line.empty())
            body += line + "\r\n";
    }
    std::string result;
    bool inSection = false;
    bool written = false;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(start, end - start);
        start = end;
        std::string name;
        if (HeaderName(line, name))
        {
            inSection = !written && EqualNoCase(name, section);
            result += line;
            if (!line.empty() && line.back() != '\n')
                result += "\r\n";
            if (inSection)
            {
                result += body;
                written = true;
            }
            continue;
        }
        if (!inSection)
            result += line;
    }
    if (!written)
    {
        if (!result.empty() && result.back() != '\n')
            result += "\r\n";
        result += "[" + std::string(section) + "]\r\n" + body;
    }

    CTempFile file;
    if (!file.Create(m_fileName) || !file.Write(result.data(), result.size()) || !file.Commit())
    {
        m_error = file.GetError();
        return false;
    }
    return true;
}
