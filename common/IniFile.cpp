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

const char kUtf8Bom[] = "\xEF\xBB\xBF";

// Whether a byte-wise rewrite keeps the file's text: true for text in a
// single-byte code page, false for UTF-16 (a byte order mark, or NUL bytes).
bool IsSingleByteText(const std::string& text)
{
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0)
        return false;
    return text.find('\0') == std::string::npos;
}

bool IsAscii(const std::string& text)
{
    for (const char c : text)
    {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// Replaces a file's contents as a whole.
DWORD WriteWholeFile(const std::string& path, const std::string& text)
{
    CTempFile file;
    if (!file.Create(path) || !file.Write(text.data(), text.size()) || !file.Commit())
        return file.GetError();
    return 0;
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
    // Size 0 reads the value whole: the platform cuts a value that does not
    // fit and then returns the buffer size minus 1, so grow until it fits.
    const bool whole = size == 0;
    if (whole)
        size = 1024;

    std::vector<char> buffer;
    for (;;)
    {
        if (!TryResize(buffer, size))
            return fallback;
        const DWORD copied = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, m_fileName.c_str());
        buffer[size - 1] = '\0';
        if (!whole || copied + 1 < size || size > 0x40000000)
            return buffer.data();
        size *= 2;
    }
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
    // The file as it is now: what a rewrite starts from, and what a refused
    // rewrite puts back.
    std::string original;
    const DWORD readError = ReadWholeFile(m_fileName, original);
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
    // Everything else in the file is written back, so the rewrite goes on
    // only from the whole file (or from none at all): a file that cannot be
    // opened or read to its end keeps what it holds, and the write fails.
    if (readError != 0)
    {
        m_error = readError;
        return false;
    }
    return RewriteSection(section, lines, original);
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

bool CIniFile::RewriteSection(const char* section, const std::vector<std::string>& lines, const std::string& original)
{
    // The rewrite works on bytes. A UTF-16 file would come out mangled, and
    // so would a UTF-8 one given other than ASCII lines: such a file gets
    // back what it held before the platform's write, and the write fails.
    std::string text = original;
    const bool utf8 = text.compare(0, 3, kUtf8Bom) == 0;
    bool rewritable = IsSingleByteText(text);
    for (size_t i = 0; rewritable && utf8 && i < lines.size(); ++i)
        rewritable = IsAscii(lines[i]);
    if (!rewritable)
    {
        WriteWholeFile(m_fileName, original);
        m_error = ERROR_UNSUPPORTED_TYPE;
        return false;
    }
    if (utf8)
        text.erase(0, 3);

    // The file's lines with the section's old lines left out; the new lines
    // go right after its header (or under a new header at the end).
    std::string body;
    for (const std::string& line : lines)
    {
        if (!line.empty())
            body += line + "\r\n";
    }
    std::string result = utf8 ? kUtf8Bom : "";
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
        if (result.size() > (utf8 ? 3u : 0u) && result.back() != '\n')
            result += "\r\n";
        result += "[" + std::string(section) + "]\r\n" + body;
    }

    m_error = WriteWholeFile(m_fileName, result);
    return m_error == 0;
}
