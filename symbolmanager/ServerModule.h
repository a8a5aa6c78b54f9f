#pragma once
#include <windows.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "ClassFactory.h"
#include "CriticalSection.h"
#include "ScopedHandle.h"
#include "ServerLock.h"

// One COM class served by the process: its identity, the registration script
// that its registration applies and its creation routine.
struct CClassTableEntry
{
    const CLSID* Clsid;
    UINT RegistryResourceId;
    CreateObjectFunction CreateObject;
};

// Process-wide state of the qx3fetch server: the count of outstanding
// references (live SymbolManager objects and class-object locks), the
// activity flag and the shutdown event that let the monitor thread end the
// server about 5 s after the last reference is gone, the class objects of the
// class table and the registration of the server and its type library.
//
// The class objects and the shutdown event last as long as the module itself,
// which outlives the server's COM session: a client's proxy may reach a class
// object, and a late release signals the event, until COM is uninitialised.
class CServerModule : public CServerLock
{
public:
    CServerModule();
    ~CServerModule();
    CServerModule(const CServerModule&) = delete;
    CServerModule& operator=(const CServerModule&) = delete;

    // Takes the class table (which must outlive the module), the executable's
    // instance handle and its type library's identity, and makes the class
    // objects; records the calling thread as the main thread, which receives
    // the quit message. False when a class object cannot be made.
    bool Init(const CClassTableEntry* Table, size_t Count, HINSTANCE Instance, const GUID& LibId);
    // Ends the monitor thread, withdraws the class objects and gives up the
    // server slot. Called before COM is uninitialised.
    void Term();

    // CServerLock. Reaching zero sets the activity flag and signals the
    // shutdown event.
    LONG Lock() override;
    LONG Unlock() override;
    LONG GetLockCount() const { return m_lockCount; }
    DWORD GetMainThreadId() const { return m_mainThreadId; }

    // Applies one "REGISTRY" resource of the executable, with %MODULE% the
    // executable's path (short form when the system gives one) and
    // %MODULE_FILE% its file name.
    HRESULT UpdateRegistryFromResource(UINT ResourceId, bool Register);
    // Every class table entry's script, then the type library; the first
    // failure ends it.
    HRESULT RegisterServer(bool RegisterTypeLibrary);
    // The same in reverse; failures do not stop the remaining steps.
    HRESULT UnregisterServer(bool UnregisterTypeLibrary);

    // Waits up to TimeoutMs for the session's server slot, which only one
    // serving qx3fetch holds at a time under Wine. False: another server is
    // serving. Always true on Windows, which needs no slot.
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
    struct CClassObject
    {
        std::unique_ptr<CClassFactory> Factory;
        DWORD Cookie = 0;
    };

    static DWORD WINAPI MonitorThreadProc(void* Parameter);
    void MonitorShutdown();
    // Whether Term has asked the monitor thread to end.
    bool IsStopping() const { return m_stopMonitor != 0; }
    void StopMonitor();
    bool ShowsActivity() const;

    volatile LONG m_lockCount;
    volatile LONG m_activity;
    volatile LONG m_stopMonitor;
    CScopedHandle m_shutdownEvent;
    CScopedHandle m_monitorThread;
    CScopedHandle m_serverSlot;
    bool m_ownsServerSlot;
    DWORD m_mainThreadId;
    HINSTANCE m_instance;
    GUID m_libId;
    const CClassTableEntry* m_table;
    std::vector<CClassObject> m_classObjects;
    // Serialises publishing and withdrawing the class objects between the
    // main thread and the monitor thread.
    CCriticalSection m_classLock;
};

// The one instance of the process.
CServerModule& GetServerModule();
