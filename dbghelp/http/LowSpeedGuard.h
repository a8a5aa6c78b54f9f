#pragma once
#include <windows.h>

#include <functional>

// The low-speed limit of one transfer, as curl's --speed-limit/--speed-time:
// from Start on, every stretch of windowSeconds must bring at least
// minimumBytes, or the transfer is abandoned. The stretches are consecutive
// windows; a window is judged when a receive ends after it has run out, so
// the verdict comes at most one receive wait late.
class CLowSpeedGuard
{
public:
    // clock: milliseconds since some fixed point, wrapping at 2^32 like
    // GetTickCount (the default); tests pass their own. A limit of 0 bytes
    // or 0 seconds never abandons anything.
    CLowSpeedGuard(unsigned long minimumBytes, unsigned long windowSeconds, std::function<DWORD()> clock = nullptr);

    // Starts the first window now.
    void Start();
    // Counts bytes that just arrived (0 after a wait that brought none).
    // False once a window has ended with fewer than minimumBytes.
    bool Received(size_t count);

    // The bytes of the window being counted, or of the one that failed.
    unsigned long long WindowBytes() const { return m_windowBytes; }
    unsigned long MinimumBytes() const { return m_minimumBytes; }
    unsigned long WindowSeconds() const { return m_windowSeconds; }

private:
    DWORD Now() const;

    unsigned long m_minimumBytes;
    unsigned long m_windowSeconds;
    DWORD m_windowMs;
    std::function<DWORD()> m_clock;
    DWORD m_windowStart = 0;
    unsigned long long m_windowBytes = 0;
};
