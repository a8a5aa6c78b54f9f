#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>

// Remembers which servers recently failed to connect or to answer, so that a
// symbol path naming a dead server costs one time-out per period instead of
// one per image. Keys are "host:port" as the caller spells them (compared
// without regard to case). Safe to use from several threads.
class CServerBackoff
{
public:
    // clock: milliseconds since some fixed point, wrapping at 2^32 like
    // GetTickCount (the default); tests pass their own.
    explicit CServerBackoff(std::function<DWORD()> clock = nullptr);

    // Skips server for the next seconds (capped at 24 days); 0 clears a mark.
    void MarkOffline(const std::string& server, DWORD seconds);
    // True while a mark set for server has not run out.
    bool IsOffline(const std::string& server);
    // Forgets every mark.
    void Reset();

private:
    struct Mark
    {
        DWORD since;
        DWORD lengthMs;
    };

    static std::string Key(const std::string& server);
    DWORD Now() const;

    std::function<DWORD()> m_clock;
    std::mutex m_lock;
    std::map<std::string, Mark> m_marks;
};
