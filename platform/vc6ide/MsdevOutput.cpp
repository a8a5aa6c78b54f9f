#include "MsdevOutput.h"

#include <mutex>

CMsdevOutput::~CMsdevOutput()
{
    Flush();
    if (m_log != nullptr)
        fclose(m_log);
}

void CMsdevOutput::Flush()
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    fflush(stdout);
    if (m_log != nullptr)
        fflush(m_log);
}

bool CMsdevOutput::OpenLog(const std::string& path)
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    if (m_log != nullptr)
        fclose(m_log);
    m_log = fopen(path.c_str(), "ab");
    return m_log != nullptr;
}

void CMsdevOutput::PrintLine(const std::string& line)
{
    Write(line);
}

void CMsdevOutput::Record(const std::string& text)
{
    Write("msdev: " + text);
}

std::vector<std::string> CMsdevOutput::Lines() const
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    return m_lines;
}

void CMsdevOutput::Write(const std::string& line)
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    m_lines.push_back(line);
    if (m_console)
        fprintf(stdout, "%s\n", line.c_str());
    if (m_log != nullptr)
        fprintf(m_log, "%s\r\n", line.c_str());
}

std::string MsdevNarrow(const wchar_t* text)
{
    if (text == nullptr || *text == L'\0')
        return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], size, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(size) - 1);
    return narrow;
}

std::wstring MsdevWide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(static_cast<size_t>(size) - 1);
    return wide;
}

std::string MsdevEscape(const std::string& text)
{
    std::string escaped;
    for (char c : text)
    {
        switch (c)
        {
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '\t':
            escaped += "\\t";
            break;
        default:
            escaped += c;
            break;
        }
    }
    return escaped;
}
