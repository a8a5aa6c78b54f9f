#pragma once
#include <windows.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "ClassFactory.h"
#include "CriticalSection.h"
#include "ServerLock.h"

// One creatable class of the module: its identity, the registration script
// (a REGISTRY resource of the module) and its creation routine.
struct CObjectMapEntry
{
    const CLSID* Clsid;
    UINT RegistryResourceId;
    CreateObjectFunction CreateObject;
};

// The add-in's in-process COM module: the module handle, the lock count that
// DllCanUnloadNow consults (live objects and class-object locks), the object
// map with the class objects made on first request, and the registration of
// the classes and the module's type library.
class CComModule : public CServerLock
{
public:
    CComModule() = default;
    CComModule(const CComModule&) = delete;
    CComModule& operator=(const CComModule&) = delete;

    // Takes the object map (which must outlive the module), the module's
    // handle and its type library's identity.
    void Init(const CObjectMapEntry* Map, size_t Count, HINSTANCE Instance, const GUID& LibId);
    // Releases the class objects.
    void Term();

    // CServerLock: live objects and class-object locks.
    LONG Lock() override;
    LONG Unlock() override;
    LONG GetLockCount() const { return m_lockCount; }
    HINSTANCE GetModuleInstance() const { return m_instance; }
    const GUID& GetLibId() const { return m_libId; }

    // The class object of a class of the map; CLASS_E_CLASSNOTAVAILABLE for
    // any other class, E_UNEXPECTED before Init.
    HRESULT GetClassObject(REFCLSID Clsid, REFIID Iid, void** Object);
    // Every class's script in register mode (%MODULE% the module's full
    // path), then the type library; the first failure ends it.
    HRESULT RegisterServer();
    // Every script in unregister mode, then the type library's registration.
    // S_OK unless the module was never initialised: what a step cannot find
    // is already gone.
    HRESULT UnregisterServer();

private:
    volatile LONG m_lockCount = 0;
    HINSTANCE m_instance = nullptr;
    GUID m_libId = GUID_NULL;
    const CObjectMapEntry* m_map = nullptr;
    size_t m_count = 0;
    // One slot per map entry, filled on the first request.
    std::vector<std::unique_ptr<CClassFactory>> m_classObjects;
    CCriticalSection m_lock;
};

// The one instance of the process.
CComModule& GetComModule();
