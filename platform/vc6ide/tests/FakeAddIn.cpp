// A small add-in for the stand-in IDE's own tests: on connection it registers
// itself, its command "FakeCommand" (method "Run") and a toolbar button, and
// prints a line; the command asks a question in a message box and prints the
// answer. It calls the application object by method name, as add-ins do.
#include <windows.h>
#include <objbase.h>

#include <new>
#include <string>

#include "MsdevAddInInterface.h"

namespace
{

// {6D3C2F0A-3E0B-4A47-9B7E-1F2B1C5A7E01}
const CLSID CLSID_FakeAddIn = {0x6D3C2F0A, 0x3E0B, 0x4A47, {0x9B, 0x7E, 0x1F, 0x2B, 0x1C, 0x5A, 0x7E, 0x01}};
const DISPID kRunId = 1;

HINSTANCE g_instance = nullptr;
volatile LONG g_objects = 0;

HRESULT CallByName(IDispatch* application, const wchar_t* name, VARIANT* arguments, UINT count)
{
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT result = application->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(result))
        return result;
    // DISPPARAMS holds the arguments last first.
    VARIANT reversed[5];
    for (UINT i = 0; i < count; ++i)
        reversed[i] = arguments[count - 1 - i];
    DISPPARAMS params = {reversed, nullptr, count, 0};
    return application->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

VARIANT Long(long value)
{
    VARIANT variant;
    variant.vt = VT_I4;
    variant.lVal = value;
    return variant;
}

VARIANT String(const wchar_t* text)
{
    VARIANT variant;
    variant.vt = VT_BSTR;
    variant.bstrVal = SysAllocString(text);
    return variant;
}

HRESULT Print(IDispatch* application, const wchar_t* text)
{
    VARIANT argument = String(text);
    const HRESULT result = CallByName(application, L"PrintToOutputWindow", &argument, 1);
    VariantClear(&argument);
    return result;
}

class CFakeAddIn : public devshl::IDSAddIn, public IDispatch
{
public:
    CFakeAddIn() { InterlockedIncrement(&g_objects); }
    virtual ~CFakeAddIn()
    {
        if (m_application != nullptr)
            m_application->Release();
        InterlockedDecrement(&g_objects);
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, devshl::IID_IDSAddIn))
            *object = static_cast<devshl::IDSAddIn*>(this);
        else if (IsEqualIID(iid, IID_IDispatch))
            *object = static_cast<IDispatch*>(this);
        else
        {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return static_cast<ULONG>(refs);
    }

    STDMETHODIMP OnConnection(IDispatch* application, VARIANT_BOOL, long cookie, VARIANT_BOOL* connected) override
    {
        *connected = VARIANT_FALSE;
        VARIANT info[] = {
            Long(static_cast<long>(reinterpret_cast<INT_PTR>(g_instance))), {}, Long(203), Long(202), Long(cookie)};
        info[1].vt = VT_DISPATCH;
        info[1].pdispVal = static_cast<IDispatch*>(this);
        if (FAILED(CallByName(application, L"SetAddInInfo", info, 5)))
            return S_OK;
        VARIANT_BOOL added = VARIANT_FALSE;
        VARIANT command[] = {
            String(L"FakeCommand\nFake\nFake status\nFake tip"), String(L"Run"), Long(0), Long(cookie), {}};
        command[4].vt = VT_BOOL | VT_BYREF;
        command[4].pboolVal = &added;
        const HRESULT result = CallByName(application, L"AddCommand", command, 5);
        VariantClear(&command[0]);
        VariantClear(&command[1]);
        if (FAILED(result) || added == VARIANT_FALSE)
            return S_OK;
        VARIANT button[] = {Long(1), String(L"FakeCommand"), Long(cookie)};
        CallByName(application, L"AddCommandBarButton", button, 3);
        VariantClear(&button[1]);
        Print(application, L"fake connected");
        application->AddRef();
        m_application = application;
        *connected = VARIANT_TRUE;
        return S_OK;
    }
    STDMETHODIMP OnDisconnection(VARIANT_BOOL lastTime) override
    {
        if (m_application != nullptr)
        {
            Print(m_application, lastTime ? L"fake disconnected for good" : L"fake disconnected");
            m_application->Release();
            m_application = nullptr;
        }
        return S_OK;
    }

    // The command dispatch: "Run" only.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (count != 1 || _wcsicmp(names[0], L"Run") != 0)
            return DISP_E_UNKNOWNNAME;
        ids[0] = kRunId;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id != kRunId)
            return DISP_E_MEMBERNOTFOUND;
        const int answer = MessageBoxA(GetActiveWindow(), "Fake question?", "Fake", MB_OKCANCEL);
        const std::wstring line = L"fake answer " + std::to_wstring(answer);
        Print(m_application, line.c_str());
        return S_OK;
    }

private:
    volatile LONG m_refs = 1;
    IDispatch* m_application = nullptr;
};

class CFakeClassObject : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory))
        {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        CFakeAddIn* addIn = new (std::nothrow) CFakeAddIn;
        if (addIn == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT result = addIn->QueryInterface(iid, object);
        addIn->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

CFakeClassObject g_classObject;

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_instance = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!IsEqualCLSID(clsid, CLSID_FakeAddIn))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_classObject.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow()
{
    return g_objects == 0 ? S_OK : S_FALSE;
}
