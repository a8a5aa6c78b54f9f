#include "ServerModule.h"

#include <oleauto.h>

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "PathSplit.h"
#include "Registrar.h"
#include "TypeLibRegistration.h"

namespace
{

CServerModule g_module;

// Quiet time after the last release before the server withdraws its class.
const DWORD kIdleTimeoutMs = 5000;
// How long a withdrawn class object stays servable: an activation that had
// already been handed the class object just before it was withdrawn creates
// its object within this time, and the server then keeps serving.
const DWORD kWithdrawGraceMs = 1000;
// The session's server slot: one qx3fetch serves at a time (under Wine).
const char kServerSlotName[] = "Local\\Quillmar.qx3fetch.ServerSlot";

// Wine's COM may start a server for each of two simultaneous first
// activations, and finds a class object by asking again and again until one
// is published, whichever process publishes it: there a second server must
// leave the session to the first. Windows starts one server for all waiting
// activations and hands them the class object that this server publishes,
// so a server there must always publish.
bool RunsUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string ModulePath(HINSTANCE Instance)
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(Instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return std::string(path, length);
}

// The executable's path for %MODULE%: the short (8.3) form when the system
// gives one, else the long form.
std::string ModulePathForScripts(const std::string& path)
{
    char shortPath[MAX_PATH];
    const DWORD shortLength = path.empty() ? 0 : GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
    if (shortLength != 0 && shortLength < MAX_PATH)
        return std::string(shortPath, shortLength);
    return path;
}

} // namespace

CServerModule& GetServerModule()
{
    return g_module;
}

CServerModule::CServerModule()
    : m_lockCount(0),
      m_activity(0),
      m_stopMonitor(0),
      m_ownsServerSlot(false),
      m_mainThreadId(0),
      m_instance(nullptr),
      m_libId(GUID_NULL),
      m_table(nullptr)
{
}

CServerModule::~CServerModule()
{
    Term();
}

bool CServerModule::Init(const CClassTableEntry* Table, size_t Count, HINSTANCE Instance, const GUID& LibId)
{
    m_instance = Instance;
    m_libId = LibId;
    m_mainThreadId = GetCurrentThreadId();
    if (m_table != nullptr)
        return m_classObjects.size() == Count;
    m_table = Table;
    try
    {
        m_classObjects.resize(Count);
        for (size_t i = 0; i < Count; ++i)
            m_classObjects[i].Factory = std::make_unique<CClassFactory>(m_table[i].CreateObject, *this);
    }
    catch (const std::bad_alloc&)
    {
        m_classObjects.clear();
        m_table = nullptr;
        return false;
    }
    return true;
}

void CServerModule::Term()
{
    // The monitor first: it may otherwise publish the class objects again.
    StopMonitor();
    RevokeClassObjects();
    ReleaseServerSlot();
    m_serverSlot.Close();
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
        if (m_shutdownEvent.IsValid())
            SetEvent(m_shutdownEvent.Get());
    }
    return count;
}

HRESULT CServerModule::UpdateRegistryFromResource(UINT ResourceId, bool Register)
{
    const std::string path = ModulePath(m_instance);
    CRegistrar registrar;
    registrar.AddReplacement("MODULE", ModulePathForScripts(path));
    // The AppID key named after the executable follows a renamed server.
    const PathParts parts = SplitPath(path);
    registrar.AddReplacement("MODULE_FILE", parts.fname + parts.ext);
    return registrar.ApplyResource(m_instance, ResourceId, Register);
}

HRESULT CServerModule::RegisterServer(bool RegisterTypeLibrary)
{
    for (size_t i = 0; i < m_classObjects.size(); ++i)
    {
        const HRESULT result = UpdateRegistryFromResource(m_table[i].RegistryResourceId, true);
        if (FAILED(result))
            return result;
    }
    if (!RegisterTypeLibrary)
        return S_OK;
    return RegisterModuleTypeLib(m_instance);
}

HRESULT CServerModule::UnregisterServer(bool UnregisterTypeLibrary)
{
    HRESULT first = S_OK;
    for (size_t i = 0; i < m_classObjects.size(); ++i)
    {
        const HRESULT result = UpdateRegistryFromResource(m_table[i].RegistryResourceId, false);
        if (FAILED(result) && SUCCEEDED(first))
            first = result;
    }
    if (!UnregisterTypeLibrary)
        return first;

    const HRESULT result = UnregisterModuleTypeLib(m_instance);
    return SUCCEEDED(first) ? result : first;
}

bool CServerModule::AcquireServerSlot(DWORD TimeoutMs)
{
    if (m_ownsServerSlot || !RunsUnderWine())
        return true;
    if (!m_serverSlot.IsValid())
        m_serverSlot.Reset(CreateMutexA(nullptr, FALSE, kServerSlotName));
    // Without the named object the guard is lost, not the service.
    if (!m_serverSlot.IsValid())
        return true;
    const DWORD wait = WaitForSingleObject(m_serverSlot.Get(), TimeoutMs);
    // An abandoned slot belonged to a server that died: it is free now.
    m_ownsServerSlot = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    return m_ownsServerSlot;
}

void CServerModule::ReleaseServerSlot()
{
    if (m_ownsServerSlot)
        ReleaseMutex(m_serverSlot.Get());
    m_ownsServerSlot = false;
}

bool CServerModule::StartMonitor()
{
    if (m_monitorThread.IsValid())
        return true;
    if (!m_shutdownEvent.IsValid())
        m_shutdownEvent.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!m_shutdownEvent.IsValid())
        return false;
    InterlockedExchange(&m_stopMonitor, 0);
    m_monitorThread.Reset(CreateThread(nullptr, 0, MonitorThreadProc, this, 0, nullptr));
    return m_monitorThread.IsValid();
}

void CServerModule::StopMonitor()
{
    if (!m_monitorThread.IsValid())
        return;
    InterlockedExchange(&m_stopMonitor, 1);
    SetEvent(m_shutdownEvent.Get());
    WaitForSingleObject(m_monitorThread.Get(), INFINITE);
    m_monitorThread.Close();
}

HRESULT CServerModule::RegisterClassObjects(DWORD Context, DWORD Flags)
{
    std::lock_guard<CCriticalSection> lock(m_classLock);
    if (m_table == nullptr)
        return E_UNEXPECTED;
    for (size_t i = 0; i < m_classObjects.size(); ++i)
    {
        CClassObject& entry = m_classObjects[i];
        if (entry.Cookie != 0)
            continue;
        const HRESULT result =
            CoRegisterClassObject(*m_table[i].Clsid, entry.Factory.get(), Context, Flags, &entry.Cookie);
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
    for (CClassObject& entry : m_classObjects)
    {
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
// instead; new activations then go to a new server. Requests that raced in
// before the withdrawal show up as activity within the grace period, and the
// class object is published again. Term ends the monitor at any of its waits
// by setting the stop flag and signalling the event; it then posts nothing.
void CServerModule::MonitorShutdown()
{
    HANDLE event = m_shutdownEvent.Get();
    bool waitForRelease = true;
    for (;;)
    {
        if (waitForRelease)
            WaitForSingleObject(event, INFINITE);
        waitForRelease = true;
        do
        {
            InterlockedExchange(&m_activity, 0);
        } while (!IsStopping() && WaitForSingleObject(event, kIdleTimeoutMs) == WAIT_OBJECT_0);
        if (IsStopping())
            return;
        if (ShowsActivity())
            continue;

        RevokeClassObjects();
        const DWORD grace = WaitForSingleObject(event, kWithdrawGraceMs);
        if (IsStopping())
            return;
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
    PostThreadMessageA(m_mainThreadId, WM_QUIT, 0, 0);
}
