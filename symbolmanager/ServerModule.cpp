#include "ServerModule.h"

namespace
{
CServerModule g_module;
}

CServerModule& GetServerModule()
{
    return g_module;
}

CServerModule::CServerModule() : m_lockCount(0), m_activity(0), m_shutdownEvent(nullptr)
{
}

CServerModule::~CServerModule()
{
}

LONG CServerModule::Lock()
{
    return InterlockedIncrement(&m_lockCount);
}

LONG CServerModule::Unlock()
{
    const LONG count = InterlockedDecrement(&m_lockCount);
    if (count == 0)
    {
        InterlockedExchange(&m_activity, 1);
        if (m_shutdownEvent != nullptr)
            SetEvent(m_shutdownEvent);
    }
    return count;
}
