#pragma once
#include "CriticalSection.h"

// Holds a critical section for the lifetime of the object.
class CCriticalSectionLock
{
public:
    explicit CCriticalSectionLock(CCriticalSection& section);
    ~CCriticalSectionLock();
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

private:
    CCriticalSection& m_section;
};
