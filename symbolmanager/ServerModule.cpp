#include "ServerModule.h"

#include <oleauto.h>

#include <mutex>
#include <string>
#include <vector>

#include "Registrar.h"

namespace
{

CServerModule g_module;

// Quiet time after the last release before the server withdraws its class.
const DWORD kIdleTimeoutMs = 5000;
// How long a withdrawn class object stays servable: an activation that had
// already been handed the class object just before it was withdrawn creates
// its object within this time, and the server then keeps serving.
const DWORD kWithdrawGraceMs = 1000;
// The session's server slot: one qx3fetch serves at a time.
const char kServerSlotName[] = "Local\\Quillmar.qx3fetch.ServerSlot";

std::wstring ModulePathWide(HINSTANCE Instance)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(Instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return std::wstring(path, length);
}

// The executable's path for %MODULE%: the short (8.3) form when the system
// gives one, else the long form.
std::string ModulePathForScripts(HINSTANCE Instance)
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(Instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    char shortPath[MAX_PATH];
    const DWORD shortLength = GetShortPathNameA(path, shortPath, MAX_PATH);
    if (shortLength != 0 && shortLength < MAX_PATH)
        return std::string(shortPath, shortLength);
    return std::string(path, length);
}

// Releases a type library interface when it goes.
class CTypeLibHolder
{
public:
    CTypeLibHolder() = default;
    ~CTypeLibHolder()
    {
        if (m_typeLib != nullptr)
            m_typeLib->Release();
    }
    CTypeLibHolder(const CTypeLibHolder&) = delete;
    CTypeLibHolder& operator=(const CTypeLibHolder&) = delete;
    ITypeLib** Receive() { return &m_typeLib; }
    ITypeLib* Get() const { return m_typeLib; }

private:
    ITypeLib* m_typeLib = nullptr;
};

} // namespace

CServerModule& GetServerModule()
{
    return g_module;
}

CServerModule::CServerModule()
    : m_lockCount(0), m_activity(0), m_shutdownEvent(nullptr), m_monitorThread(nullptr), m_serverSlot(nullptr),
      m_ownsServerSlot(false), m_mainThreadId(0), m_instance(nullptr), m_libId(GUID_NULL), m_table(nullptr),
      m_tableCount(0)
{
}

CServerModule::~CServerModule()
{
    Term();
}

bool CServerModule::Init(CClassTableEntry* Table, size_t Count, HINSTANCE Instance, const GUID& LibId)
{
    m_table = Table;
    m_tableCount = Count;
    m_instance = Instance;
    m_libId = LibId;
    m_mainThreadId = GetCurrentThreadId();
    for (size_t i = 0; i < m_tableCount; ++i)
    {
        if (m_table[i].ClassObject == nullptr)
            m_table[i].ClassObject = new CClassFactory(m_table[i].CreateObject);
    }
    return true;
}

void CServerModule::Term()
{
    RevokeClassObjects();
    ReleaseServerSlot();
    if (m_serverSlot != nullptr)
    {
        CloseHandle(m_serverSlot);
        m_serverSlot = nullptr;
    }
    if (m_monitorThread != nullptr)
    {
        CloseHandle(m_monitorThread);
        m_monitorThread = nullptr;
    }
    if (m_shutdownEvent != nullptr)
    {
        HANDLE event = InterlockedExchangePointer(&m_shutdownEvent, nullptr);
        CloseHandle(event);
    }
    for (size_t i = 0; i < m_tableCount; ++i)
    {
        delete m_table[i].ClassObject;
        m_table[i].ClassObject = nullptr;
    }
    m_table = nullptr;
    m_tableCount = 0;
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

HRESULT CServerModule::UpdateRegistryFromResource(UINT ResourceId, bool Register)
{
    CRegistrar registrar;
    registrar.AddReplacement("MODULE", ModulePathForScripts(m_instance));
    return registrar.ApplyResource(m_instance, ResourceId, Register);
}

HRESULT CServerModule::RegisterServer(bool RegisterTypeLibrary)
{
    for (size_t i = 0; i < m_tableCount; ++i)
    {
        const HRESULT result = UpdateRegistryFromResource(m_table[i].RegistryResourceId, true);
        if (FAILED(result))
            return result;
    }
    if (!RegisterTypeLibrary)
        return S_OK;
    const std::wstring path = ModulePathWide(m_instance);
    CTypeLibHolder typeLib;
    HRESULT result = LoadTypeLib(path.c_str(), typeLib.Receive());
    if (FAILED(result))
        return result;
    return RegisterTypeLib(typeLib.Get(), const_cast<LPOLESTR>(path.c_str()), nullptr);
}

HRESULT CServerModule::UnregisterServer(bool UnregisterTypeLibrary)
{
    HRESULT first = S_OK;
    for (size_t i = 0; i < m_tableCount; ++i)
    {
        const HRESULT result = UpdateRegistryFromResource(m_table[i].RegistryResourceId, false);
        if (FAILED(result) && SUCCEEDED(first))
            first = result;
    }
    if (!UnregisterTypeLibrary)
        return first;

    // Found at run time: the oldest systems' oleaut32.dll lacks it.
    typedef HRESULT(WINAPI * UnRegisterTypeLibFunction)(REFGUID, WORD, WORD, LCID, SYSKIND);
    HMODULE oleaut = GetModuleHandleA("oleaut32.dll");
    UnRegisterTypeLibFunction unregister =
        oleaut != nullptr
            ? reinterpret_cast<UnRegisterTypeLibFunction>(
                  reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLib")))
            : nullptr;
    if (unregister == nullptr)
        return SUCCEEDED(first) ? HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) : first;

    const std::wstring path = ModulePathWide(m_instance);
    CTypeLibHolder typeLib;
    HRESULT result = LoadTypeLib(path.c_str(), typeLib.Receive());
    if (SUCCEEDED(result))
    {
        TLIBATTR* attributes = nullptr;
        result = typeLib.Get()->GetLibAttr(&attributes);
        if (SUCCEEDED(result))
        {
            result = unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                attributes->lcid, attributes->syskind);
            typeLib.Get()->ReleaseTLibAttr(attributes);
        }
    }
    return SUCCEEDED(first) ? result : first;
}

bool CServerModule::AcquireServerSlot(DWORD TimeoutMs)
{
    if (m_ownsServerSlot)
        return true;
    if (m_serverSlot == nullptr)
        m_serverSlot = CreateMutexA(nullptr, FALSE, kServerSlotName);
    // Without the named object the guard is lost, not the service.
    if (m_serverSlot == nullptr)
        return true;
    const DWORD wait = WaitForSingleObject(m_serverSlot, TimeoutMs);
    // An abandoned slot belonged to a server that died: it is free now.
    m_ownsServerSlot = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    return m_ownsServerSlot;
}

void CServerModule::ReleaseServerSlot()
{
    if (m_ownsServerSlot && m_serverSlot != nullptr)
        ReleaseMutex(m_serverSlot);
    m_ownsServerSlot = false;
}

bool CServerModule::StartMonitor()
{
    m_shutdownEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (m_shutdownEvent == nullptr)
        return false;
    m_monitorThread = CreateThread(nullptr, 0, MonitorThreadProc, this, 0, nullptr);
    if (m_monitorThread == nullptr)
    {
        CloseHandle(m_shutdownEvent);
        m_shutdownEvent = nullptr;
        return false;
    }
    return true;
}

HRESULT CServerModule::RegisterClassObjects(DWORD Context, DWORD Flags)
{
    std::lock_guard<CCriticalSection> lock(m_classLock);
    for (size_t i = 0; i < m_tableCount; ++i)
    {
        CClassTableEntry& entry = m_table[i];
        if (entry.Cookie != 0)
            continue;
        const HRESULT result = CoRegisterClassObject(*entry.Clsid, entry.ClassObject, Context, Flags, &entry.Cookie);
        if (FAILED(result))
        {
            entry.Cookie = 0;
            return result;
        }
    }
    return S_OK;
}

HRESULT CServerModule::RevokeClassObjects()
{
    std::lock_guard<CCriticalSection> lock(m_classLock);
    HRESULT first = S_OK;
    for (size_t i = 0; i < m_tableCount; ++i)
    {
        CClassTableEntry& entry = m_table[i];
        if (entry.Cookie == 0)
            continue;
        const HRESULT result = CoRevokeClassObject(entry.Cookie);
        entry.Cookie = 0;
        if (FAILED(result) && SUCCEEDED(first))
            first = result;
    }
    return first;
}

bool CServerModule::ShowsActivity() const
{
    return m_activity != 0 || m_lockCount != 0;
}

DWORD WINAPI CServerModule::MonitorThreadProc(void* Parameter)
{
    // Withdrawing and republishing the class object must happen in the
    // apartment that published it: the main thread's multithreaded one.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static_cast<CServerModule*>(Parameter)->MonitorShutdown();
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}

// Suspending the class object is not enough: Wine ignores suspension, so a
// client could still be handed the class object of a process that is about
// to end, and its activation would fail. The class object is withdrawn
// instead; new activations then go to a new server, which waits for this
// one's slot. Requests that raced in before the withdrawal show up as
// activity within the grace period, and the class object is published again.
void CServerModule::MonitorShutdown()
{
    bool waitForRelease = true;
    for (;;)
    {
        if (waitForRelease)
            WaitForSingleObject(m_shutdownEvent, INFINITE);
        waitForRelease = true;
        do
        {
            InterlockedExchange(&m_activity, 0);
        } while (WaitForSingleObject(m_shutdownEvent, kIdleTimeoutMs) == WAIT_OBJECT_0);
        if (ShowsActivity())
            continue;

        RevokeClassObjects();
        const DWORD grace = WaitForSingleObject(m_shutdownEvent, kWithdrawGraceMs);
        if (grace == WAIT_OBJECT_0 || ShowsActivity())
        {
            RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE);
            // A release seen during the grace period starts the quiet period
            // at once: its signal has been taken.
            waitForRelease = grace != WAIT_OBJECT_0;
            continue;
        }
        break;
    }
    // The event stays open until Term: a release racing with this decision may
    // still signal it.
    PostThreadMessageA(m_mainThreadId, WM_QUIT, 0, 0);
}
