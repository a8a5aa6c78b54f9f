#include "ComModule.h"

#include <mutex>
#include <new>
#include <string>

#include "ModulePath.h"
#include "Registrar.h"
#include "TypeLibRegistration.h"

namespace
{

CComModule g_module;

} // namespace

CComModule& GetComModule()
{
    return g_module;
}

void CComModule::Init(const CObjectMapEntry* Map, size_t Count, HINSTANCE Instance, const GUID& LibId)
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    m_map = Map;
    m_count = Count;
    m_instance = Instance;
    m_libId = LibId;
    m_classObjects.clear();
    m_classObjects.resize(Count);
}

void CComModule::Term()
{
    std::lock_guard<CCriticalSection> lock(m_lock);
    m_classObjects.clear();
    m_map = nullptr;
    m_count = 0;
}

LONG CComModule::Lock()
{
    return InterlockedIncrement(&m_lockCount);
}

LONG CComModule::Unlock()
{
    return InterlockedDecrement(&m_lockCount);
}

HRESULT CComModule::GetClassObject(REFCLSID Clsid, REFIID Iid, void** Object)
{
    if (Object == nullptr)
        return E_POINTER;
    *Object = nullptr;
    std::lock_guard<CCriticalSection> lock(m_lock);
    if (m_map == nullptr)
        return E_UNEXPECTED;
    for (size_t i = 0; i < m_count; ++i)
    {
        if (!IsEqualCLSID(Clsid, *m_map[i].Clsid))
            continue;
        if (!m_classObjects[i])
        {
            m_classObjects[i].reset(new (std::nothrow) CClassFactory(m_map[i].CreateObject, *this));
            if (!m_classObjects[i])
                return E_OUTOFMEMORY;
        }
        return m_classObjects[i]->QueryInterface(Iid, Object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CComModule::RegisterServer()
{
    std::string path;
    if (!GetModulePathPart(path, MODULE_PATH_FULL, m_instance))
        return E_FAIL;
    for (size_t i = 0; i < m_count; ++i)
    {
        CRegistrar registrar;
        registrar.AddReplacement("MODULE", path);
        const HRESULT result = registrar.ApplyResource(m_instance, m_map[i].RegistryResourceId, true);
        if (FAILED(result))
            return result;
    }
    return RegisterModuleTypeLib(m_instance);
}

HRESULT CComModule::UnregisterServer()
{
    // What is already gone stays gone: a step that finds nothing to remove
    // does not make unregistration fail.
    if (m_instance == nullptr)
        return E_UNEXPECTED;
    std::string path;
    GetModulePathPart(path, MODULE_PATH_FULL, m_instance);
    for (size_t i = 0; i < m_count; ++i)
    {
        CRegistrar registrar;
        registrar.AddReplacement("MODULE", path);
        registrar.ApplyResource(m_instance, m_map[i].RegistryResourceId, false);
    }
    UnregisterModuleTypeLib(m_instance);
    return S_OK;
}
