#include "ServerBackoff.h"

#include <cctype>

namespace
{

// Unsigned differences of GetTickCount values stay right across its 49.7-day
// wrap as long as every period is shorter than half of it.
constexpr DWORD kLongestMarkMs = 24u * 24u * 60u * 60u * 1000u;

} // namespace

CServerBackoff::CServerBackoff(std::function<DWORD()> clock) : m_clock(std::move(clock))
{
}

DWORD CServerBackoff::Now() const
{
    return m_clock ? m_clock() : GetTickCount();
}

std::string CServerBackoff::Key(const std::string& server)
{
    std::string key = server;
    for (char& c : key)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return key;
}

void CServerBackoff::MarkOffline(const std::string& server, DWORD seconds)
{
    const DWORD lengthMs = seconds >= kLongestMarkMs / 1000u ? kLongestMarkMs : seconds * 1000u;
    std::lock_guard<std::mutex> hold(m_lock);
    if (lengthMs == 0)
        m_marks.erase(Key(server));
    else
        m_marks[Key(server)] = Mark{Now(), lengthMs};
}

bool CServerBackoff::IsOffline(const std::string& server)
{
    std::lock_guard<std::mutex> hold(m_lock);
    const auto found = m_marks.find(Key(server));
    if (found == m_marks.end())
        return false;
    if (Now() - found->second.since < found->second.lengthMs)
        return true;
    m_marks.erase(found);
    return false;
}

void CServerBackoff::Reset()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_marks.clear();
}
