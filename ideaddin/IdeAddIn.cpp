#include "IdeAddIn.h"

#include "AnsiText.h"

#include <oleauto.h>

#include <new>

#include "AddInModule.h"
#include "AppEngine.h"
#include "ComModule.h"
#include "ErrorReport.h"
#include "IdeApplication.h"
#include "ModulePath.h"
#include "SettingsDialog.h"
#include "Trace.h"
#include "TraceScope.h"
#include "resource.h"

namespace
{

const wchar_t kCommandText[] = L"QuillmarSettings\nSettings\nSymbol server settings\nSymbol Server Settings";
const wchar_t kCommandMethod[] = L"SettingsCommand";
const wchar_t kCommandName[] = L"QuillmarSettings";
// The IDE's button type of a button that shows a glyph of the add-in's bitmaps.
const long kGlyphButton = 1;

// The system's text for an error code, without the line break it ends with.
std::string SystemMessage(DWORD code)
{
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text = length != 0 && buffer != nullptr ? std::string(buffer, length) : std::string();
    if (buffer != nullptr)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

HRESULT CIdeAddIn::CreateInstance(IUnknown* Outer, REFIID Iid, void** Object)
{
    if (Object == nullptr)
        return E_POINTER;
    *Object = nullptr;
    if (Outer != nullptr && !IsEqualIID(Iid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    CIdeAddIn* addIn = new (std::nothrow) CIdeAddIn(Outer);
    if (addIn == nullptr)
        return E_OUTOFMEMORY;
    // The inner unknown's reference keeps the object alive through the query.
    addIn->m_inner.AddRef();
    const HRESULT result = addIn->m_inner.QueryInterface(Iid, Object);
    addIn->m_inner.Release();
    return result;
}

CIdeAddIn::CIdeAddIn(IUnknown* Outer)
    : m_inner(*this), m_outer(Outer != nullptr ? Outer : &m_inner), m_workerWindow(this)
{
    GetComModule().Lock();
    CTraceScope scope("CIdeAddIn::CIdeAddIn()\n", 0);
    // Without the window the connection fails at its toolbar step.
    m_workerWindow.Create();
}

CIdeAddIn::~CIdeAddIn()
{
    {
        CTraceScope scope("CIdeAddIn::~CIdeAddIn()\n", 0);
        m_workerWindow.Destroy();
        if (m_application != nullptr)
            m_application->Release();
    }
    GetComModule().Unlock();
}

STDMETHODIMP CIdeAddIn::CInnerUnknown::QueryInterface(REFIID Iid, void** Object)
{
    if (Object == nullptr)
        return E_POINTER;
    if (IsEqualIID(Iid, IID_IUnknown))
        *Object = static_cast<IUnknown*>(this);
    else if (IsEqualIID(Iid, IID_IDSAddIn))
        *Object = static_cast<IDSAddIn*>(&m_owner);
    else if (IsEqualIID(Iid, IID_ICommands) || IsEqualIID(Iid, IID_IDispatch))
        *Object = static_cast<ICommands*>(&m_owner);
    else
    {
        *Object = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*Object)->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CIdeAddIn::CInnerUnknown::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_owner.m_refCount));
}

STDMETHODIMP_(ULONG) CIdeAddIn::CInnerUnknown::Release()
{
    const LONG count = InterlockedDecrement(&m_owner.m_refCount);
    if (count == 0)
        delete &m_owner;
    return static_cast<ULONG>(count);
}

STDMETHODIMP CIdeAddIn::QueryInterface(REFIID Iid, void** Object)
{
    return m_outer->QueryInterface(Iid, Object);
}

STDMETHODIMP_(ULONG) CIdeAddIn::AddRef()
{
    return m_outer->AddRef();
}

STDMETHODIMP_(ULONG) CIdeAddIn::Release()
{
    return m_outer->Release();
}

HRESULT CIdeAddIn::LoadTypeInfo()
{
    if (m_typeInfo)
        return S_OK;
    std::string path;
    if (!GetModulePathPart(path, MODULE_PATH_FULL, GetComModule().GetModuleInstance()))
        return TYPE_E_CANTLOADLIBRARY;
    CScopedComPtr<ITypeLib> typeLib;
    HRESULT result = LoadTypeLibEx(AnsiToWide(path).c_str(), REGKIND_NONE, typeLib.Receive());
    if (FAILED(result))
        return result;
    return typeLib->GetTypeInfoOfGuid(IID_ICommands, m_typeInfo.Receive());
}

STDMETHODIMP CIdeAddIn::GetTypeInfoCount(UINT* Count)
{
    if (Count == nullptr)
        return E_POINTER;
    *Count = 1;
    return S_OK;
}

STDMETHODIMP CIdeAddIn::GetTypeInfo(UINT Index, LCID, ITypeInfo** Info)
{
    if (Info == nullptr)
        return E_POINTER;
    *Info = nullptr;
    if (Index != 0)
        return DISP_E_BADINDEX;
    const HRESULT result = LoadTypeInfo();
    if (FAILED(result))
        return result;
    m_typeInfo->AddRef();
    *Info = m_typeInfo.Get();
    return S_OK;
}

STDMETHODIMP CIdeAddIn::GetIDsOfNames(REFIID, LPOLESTR* Names, UINT Count, LCID, DISPID* Ids)
{
    const HRESULT result = LoadTypeInfo();
    if (FAILED(result))
        return result;
    return DispGetIDsOfNames(m_typeInfo.Get(), Names, Count, Ids);
}

STDMETHODIMP CIdeAddIn::Invoke(DISPID Id, REFIID, LCID, WORD Flags, DISPPARAMS* Params, VARIANT* Result,
                               EXCEPINFO* Exception, UINT* ArgError)
{
    const HRESULT result = LoadTypeInfo();
    if (FAILED(result))
        return result;
    return DispInvoke(static_cast<ICommands*>(this), m_typeInfo.Get(), Id, Flags, Params, Result, Exception, ArgError);
}

bool CIdeAddIn::RegisterWithIde(IDispatch* pApp, LONG dwCookie)
{
    CIdeApplication application(pApp);
    TraceMessage(TRACE_INFO, 0, "%s", "Setting addin information...\n");
    HRESULT result = application.SetAddInInfo(GetComModule().GetModuleInstance(), static_cast<ICommands*>(this),
                                              IDB_MEDIUM, IDB_LARGE, dwCookie);
    if (FAILED(result))
    {
        TraceMessage(TRACE_ERROR, 0, "IApplication::SetAddInInfo() failed. Error: %08lx\n",
                     static_cast<unsigned long>(result));
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Adding Settings command...\n");
    VARIANT_BOOL added = VARIANT_FALSE;
    result = application.AddCommand(kCommandText, kCommandMethod, 0, dwCookie, &added);
    if (FAILED(result))
    {
        TraceMessage(TRACE_ERROR, 0, "IApplication::AddCommand() failed. Error: %08lx\n",
                     static_cast<unsigned long>(result));
        return false;
    }
    if (added == VARIANT_FALSE)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "IApplication::AddCommand() failed.\n");
        return false;
    }
    if (!AddToolbar())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "RequestAddToolbar() failed.\n");
        return false;
    }
    return true;
}

STDMETHODIMP CIdeAddIn::OnConnection(IDispatch* pApp, VARIANT_BOOL bFirstTime, LONG dwCookie,
                                     VARIANT_BOOL* bOnConnection)
{
    CTraceScope scope("CIdeAddIn::OnConnection()\n", 0);
    if (bOnConnection != nullptr)
        *bOnConnection = VARIANT_FALSE;
    TraceMessage(TRACE_INFO, 0, "pApp: %p, bFirstTime: %u, dwCookie: %u\n", static_cast<void*>(pApp),
                 static_cast<unsigned>(bFirstTime != VARIANT_FALSE), static_cast<unsigned>(dwCookie));
    if (pApp == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "IApplication interface pointer is null.\n");
        return S_OK;
    }
    if (!CAppEngine::GetInstance().Init())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "CAppEngine::Init() failed.\n");
        return S_OK;
    }
    if (!RegisterWithIde(pApp, dwCookie))
    {
        // Refused: nothing that leads into this module may stay running (the
        // worker thread, the handler in the hook library), since the IDE may
        // unload the module without a disconnection.
        CAppEngine::GetInstance().Close();
        return S_OK;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Calling IApplication::AddRef()...\n");
    pApp->AddRef();
    if (m_application != nullptr)
        m_application->Release();
    m_application = pApp;
    m_cookie = dwCookie;
    if (bOnConnection != nullptr)
        *bOnConnection = VARIANT_TRUE;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return S_OK;
}

STDMETHODIMP CIdeAddIn::OnDisconnection(VARIANT_BOOL bLastTime)
{
    CTraceScope scope("CIdeAddIn::OnDisconnection()\n", 0);
    TraceMessage(TRACE_INFO, 0, "bLastTime: %u\n", static_cast<unsigned>(bLastTime != VARIANT_FALSE));
    // Unloaded for good: a later connection adds the button again.
    if (bLastTime != VARIANT_FALSE)
        CAppEngine::SetToolbarAdded(false);
    CAppEngine::GetInstance().Close();
    if (m_application != nullptr)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Calling IApplication::Release()...\n");
        m_application->Release();
        m_application = nullptr;
    }
    m_cookie = 0;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return S_OK;
}

bool CIdeAddIn::AddToolbar()
{
    CTraceScope scope("CIdeAddIn::AddToolbar()\n", 0);
    if (!m_workerWindow.Exists())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Worker window does not exist.\n");
        return false;
    }
    if (CAppEngine::IsToolbarAdded())
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Toolbar already added.\n");
        return true;
    }
    if (!m_workerWindow.RequestAddToolbar())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "CWorkerWindow::RequestAddToolbar() failed.\n");
        return false;
    }
    return true;
}

bool CIdeAddIn::AddToolbarButton()
{
    CTraceScope scope("CIdeAddIn::AddToolbar()\n", 0);
    if (m_application == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Application object pointer is null.\n");
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Adding Settings toolbar button...\n");
    const HRESULT result = CIdeApplication(m_application).AddCommandBarButton(kGlyphButton, kCommandName, m_cookie);
    if (FAILED(result))
    {
        TraceMessage(TRACE_ERROR, 0, "IApplication::AddCommandBarButton() failed. Error: %08lx\n",
                     static_cast<unsigned long>(result));
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CIdeAddIn::OutputString(const std::string& text)
{
    CTraceScope scope("CIdeAddIn::OutputString()\n", 0);
    TraceMessage(TRACE_INFO, 0, "Out: %s\n", text.c_str());
    if (m_application == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Application object pointer is null.\n");
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Displaying the string...\n");
    const HRESULT result = CIdeApplication(m_application).PrintToOutputWindow(AnsiToWide(text).c_str());
    if (FAILED(result))
    {
        TraceMessage(TRACE_ERROR, 0, "IApplication::PrintToOutputWindow() failed. Error: %08lx\n",
                     static_cast<unsigned long>(result));
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

void CIdeAddIn::ReportError(const std::string& message, DWORD code)
{
    CTraceScope scope("CIdeAddIn::ReportError()\n", 0);
    TraceMessage(TRACE_INFO, 0, "Message: %s\n", message.c_str());
    TraceMessage(TRACE_INFO, 0, "Code: %u\n", static_cast<unsigned>(code));
    if (message.empty() && code == 0)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Nothing to report.\n");
        return;
    }
    std::string text = message;
    if (code != 0)
    {
        const std::string system = SystemMessage(code);
        if (!system.empty())
        {
            if (!text.empty())
                text += "\n\n";
            text += system;
        }
    }
    MessageBoxA(GetActiveWindow(), text.c_str(), "Quillmar", MB_OK);
}

STDMETHODIMP CIdeAddIn::SettingsCommand()
{
    CTraceScope scope("CIdeAddIn::SettingsCommand()\n", 0);
    if (m_application == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Application object pointer is null.\n");
        return S_OK;
    }
    CSettingsDialog dialog;
    AppConfiguration config;
    if (!CAppEngine::GetInstance().GetConfiguration(config))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "CAppEngine::GetConfiguration() failed.\n");
        return S_OK;
    }
    dialog.SetSettings(config);

    CIdeApplication application(m_application);
    TraceMessage(TRACE_INFO, 0, "%s", "Disabling modeless windows.\n");
    HRESULT result = application.EnableModeless(VARIANT_FALSE);
    TraceMessage(TRACE_INFO, 0, "EnableModeless(FALSE) returned %08lx\n", static_cast<unsigned long>(result));

    TraceMessage(TRACE_INFO, 0, "%s", "Displaying the dialog.\n");
    if (dialog.DoModal(GetActiveWindow()) == IDOK)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Dialog closed.\n");
        const AppConfiguration chosen = dialog.GetSettings();
        TraceAppConfiguration(chosen);
        CErrorReport::ClearErrorInfo();
        CAppEngine::GetInstance().SetConfiguration(chosen);
        std::string message;
        DWORD code = 0;
        CErrorReport::GetErrorInfo(message, code);
        if (!message.empty() || code != 0)
            ReportError(message, code);
    }
    else
        TraceMessage(TRACE_INFO, 0, "%s", "Dialog cancelled.\n");

    TraceMessage(TRACE_INFO, 0, "%s", "Enabling modeless windows.\n");
    result = application.EnableModeless(VARIANT_TRUE);
    TraceMessage(TRACE_INFO, 0, "EnableModeless(TRUE) returned %08lx\n", static_cast<unsigned long>(result));
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return S_OK;
}
