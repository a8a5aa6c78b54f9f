#include "IniFile.h"

#include <cstdio>
#include <new>

#include "ModulePath.h"

namespace
{

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
        const size_t equals = text.find('=');
        if (equals == std::string::npos)
            keys.push_back(text);
        else if (equals > 0)
            keys.push_back(text.substr(0, equals));
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
    return true;
}
