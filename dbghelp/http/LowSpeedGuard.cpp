#include "LowSpeedGuard.h"

namespace
{
// Tick differences stay right across GetTickCount's wrap only for periods
// shorter than half of it: a window is capped at 24 days.
constexpr unsigned long kLongestWindowSeconds = 24ul * 24ul * 60ul * 60ul;
} // namespace

CLowSpeedGuard::CLowSpeedGuard(unsigned long minimumBytes, unsigned long windowSeconds, std::function<DWORD()> clock)
    : m_minimumBytes(minimumBytes),
      m_windowSeconds(windowSeconds < kLongestWindowSeconds ? windowSeconds : kLongestWindowSeconds),
      m_windowMs(static_cast<DWORD>(m_windowSeconds * 1000ul)),
      m_clock(std::move(clock))
{
}

DWORD CLowSpeedGuard::Now() const
{
    return m_clock ? m_clock() : GetTickCount();
}

void CLowSpeedGuard::Start()
{
    m_windowStart = Now();
    m_windowBytes = 0;
}

bool CLowSpeedGuard::Received(size_t count)
{
    m_windowBytes += count;
    if (m_minimumBytes == 0 || m_windowMs == 0)
        return true;
    const DWORD now = Now();
    if (now - m_windowStart < m_windowMs)
        return true;
    if (m_windowBytes < m_minimumBytes)
        return false;
    m_windowStart = now;
    m_windowBytes = 0;
    return true;
}
