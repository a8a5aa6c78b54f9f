#pragma once
#include <windows.h>

// Owns a critical section: created with the object, deleted with it. The
// owning thread may enter it again, which lets a notification callback call
// back into the library on the thread that holds the lock.
class CCriticalSection
{
public:
    CCriticalSection();
    ~CCriticalSection();
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter();
    void Leave();

private:
    CRITICAL_SECTION m_section;
};
