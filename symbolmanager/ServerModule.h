#pragma once
#include <windows.h>

#include <cstddef>

#include "ClassFactory.h"
#include "CriticalSection.h"

// One COM class served by the process: its identity, the registration script
// that its registration applies, its creation routine and, while published,
// its class object's registration cookie.
struct CClassTableEntry
{
    const CLSID* Clsid;
    UINT RegistryResourceId;
    CreateObjectFunction CreateObject;
    CClassFactory* ClassObject;
    DWORD Cookie;
};

// Process-wide state of the qx3fetch server: the count of outstanding
// references (live SymbolManager objects and class-object locks), the
// activity flag and the shutdown event that let the monitor thread end the
// server about 5 s after the last reference is gone, the class table and the
// registration of the server and its type library.
class CServerModule
{
public:
    CServerModule();
    ~CServerModule();
    CServerModule(const CServerModule&) = delete;
    CServerModule& operator=(const CServerModule&) = delete;

    // Takes the class table (which must outlive the module), the executable's
    // instance handle and its type library's identity; records the calling
    // thread as the main thread, which receives the quit message.
    bool Init(CClassTableEntry* Table, size_t Count, HINSTANCE Instance, const GUID& LibId);
    // Gives up the class objects and the monitor's resources.
    void Term();

    // A new object or a class-object lock.
    LONG Lock();
    // Reaching zero sets the activity flag and signals the shutdown event.
    LONG Unlock();
    LONG GetLockCount() const { return m_lockCount; }
    DWORD GetMainThreadId() const { return m_mainThreadId; }

    // Applies one "REGISTRY" resource of the executable, with %MODULE% the
    // executable's path (short form when the system gives one).
    HRESULT UpdateRegistryFromResource(UINT ResourceId, bool Register);
    // Every class table entry's script, then the type library; the first
    // failure ends it.
    HRESULT RegisterServer(bool RegisterTypeLibrary);
    // The same in reverse; failures do not stop the remaining steps.
    HRESULT UnregisterServer(bool UnregisterTypeLibrary);

    // Waits up to TimeoutMs for the session's server slot, which only one
    // serving qx3fetch holds at a time. False: another server is serving.
    bool AcquireServerSlot(DWORD TimeoutMs);
    // Lets a waiting server take over; called once the class objects are gone.
    void ReleaseServerSlot();

    // Creates the shutdown event and starts the monitor thread; false when
    // either fails (the server then never ends by itself).
    bool StartMonitor();
    // Publishes every class table entry's class object.
    HRESULT RegisterClassObjects(DWORD Context, DWORD Flags);
    // Withdraws the published class objects; entries not published are skipped.
    HRESULT RevokeClassObjects();

private:
    static DWORD WINAPI MonitorThreadProc(void* Parameter);
    void MonitorShutdown();
    bool ShowsActivity() const;

    volatile LONG m_lockCount;
    volatile LONG m_activity;
    HANDLE volatile m_shutdownEvent;
    HANDLE m_monitorThread;
    HANDLE m_serverSlot;
    bool m_ownsServerSlot;
    DWORD m_mainThreadId;
    HINSTANCE m_instance;
    GUID m_libId;
    CClassTableEntry* m_table;
    size_t m_tableCount;
    // Serialises publishing and withdrawing the class objects between the
    // main thread and the monitor thread.
    CCriticalSection m_classLock;
};

// The one instance of the process.
CServerModule& GetServerModule();
