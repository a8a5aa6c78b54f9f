#pragma once
#include <windows.h>

// Process-wide state of the qx3fetch server: the count of outstanding
// references (live SymbolManager objects and class-object locks), the
// activity flag and the shutdown event that let the monitor thread end the
// server about 5 s after the last reference is gone.
class CServerModule
{
public:
    CServerModule();
    ~CServerModule();
    CServerModule(const CServerModule&) = delete;
    CServerModule& operator=(const CServerModule&) = delete;

    // A new object or a class-object lock.
    LONG Lock();
    // Reaching zero sets the activity flag and signals the shutdown event.
    LONG Unlock();
    LONG GetLockCount() const { return m_lockCount; }

private:
    volatile LONG m_lockCount;
    volatile LONG m_activity;
    HANDLE m_shutdownEvent;
};

// The one instance of the process.
CServerModule& GetServerModule();
