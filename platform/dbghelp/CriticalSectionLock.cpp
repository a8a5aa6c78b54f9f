#include "CriticalSectionLock.h"

CCriticalSectionLock::CCriticalSectionLock(CCriticalSection& section) : m_section(section)
{
    m_section.Enter();
}

CCriticalSectionLock::~CCriticalSectionLock()
{
    m_section.Leave();
}
