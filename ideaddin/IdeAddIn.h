#pragma once
#include <windows.h>

#include <string>

#include "ScopedComPtr.h"
#include "WorkerWindow.h"
// widl's header of the add-in's interfaces (from idl/IdeAddInLib.idl).
#include "IdeAddInLib.h"

// The add-in object that the Visual C++ 6.0 IDE creates through COM. The IDE
// connects it through its add-in interface (IDSAddIn), which starts the
// application engine and registers the settings command and its toolbar
// button with the IDE's application object, and runs the command by name
// through ICommands' IDispatch. Lines for the output window reach it from any
// thread through its worker window. Everything here runs on the IDE's GUI
// thread; every method the IDE calls returns S_OK and tells failure through
// its out-parameter or the trace log.
class CIdeAddIn : public IDSAddIn, public ICommands
{
public:
    // The object map's creation routine: a new object, aggregated when Outer
    // is given (then only IID_IUnknown may be asked for).
    static HRESULT CreateInstance(IUnknown* Outer, REFIID Iid, void** Object);

    // IUnknown, delegated to the controlling unknown.
    STDMETHODIMP QueryInterface(REFIID Iid, void** Object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDSAddIn
    STDMETHODIMP OnConnection(IDispatch* pApp, VARIANT_BOOL bFirstTime, LONG dwCookie,
                              VARIANT_BOOL* bOnConnection) override;
    STDMETHODIMP OnDisconnection(VARIANT_BOOL bLastTime) override;

    // IDispatch of ICommands, from the module's type library.
    STDMETHODIMP GetTypeInfoCount(UINT* Count) override;
    STDMETHODIMP GetTypeInfo(UINT Index, LCID Locale, ITypeInfo** Info) override;
    STDMETHODIMP GetIDsOfNames(REFIID Iid, LPOLESTR* Names, UINT Count, LCID Locale, DISPID* Ids) override;
    STDMETHODIMP Invoke(DISPID Id, REFIID Iid, LCID Locale, WORD Flags, DISPPARAMS* Params, VARIANT* Result,
                        EXCEPINFO* Exception, UINT* ArgError) override;

    // ICommands: the settings command.
    STDMETHODIMP SettingsCommand() override;

    // Asks the worker window to add the toolbar button once the connection
    // is complete, unless the user's INI says it was added before.
    bool AddToolbar();
    // Adds the toolbar button now.
    bool AddToolbarButton();
    // Prints one line in the IDE's output window.
    bool OutputString(const std::string& text);
    // Shows a message box with the message and the system's text of the code.
    void ReportError(const std::string& message, DWORD code);

private:
    // The object's own identity: answers IUnknown, IDSAddIn, ICommands and
    // IDispatch and owns the reference count, also when aggregated.
    class CInnerUnknown : public IUnknown
    {
    public:
        explicit CInnerUnknown(CIdeAddIn& Owner) : m_owner(Owner) {}
        STDMETHODIMP QueryInterface(REFIID Iid, void** Object) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        CIdeAddIn& m_owner;
    };

    explicit CIdeAddIn(IUnknown* Outer);
    virtual ~CIdeAddIn();
    CIdeAddIn(const CIdeAddIn&) = delete;
    CIdeAddIn& operator=(const CIdeAddIn&) = delete;

    // ICommands' type information, loaded on first use.
    HRESULT LoadTypeInfo();
    // The connection's steps after the engine has started: the add-in's
    // info, its command and the toolbar request. False at the first refusal.
    bool RegisterWithIde(IDispatch* pApp, LONG dwCookie);

    volatile LONG m_refCount = 0;
    CInnerUnknown m_inner;
    IUnknown* m_outer;
    CScopedComPtr<ITypeInfo> m_typeInfo;

    // The connection: the IDE's cookie (0 when not connected) and its
    // application object, holding one reference while connected.
    long m_cookie = 0;
    IDispatch* m_application = nullptr;
    CWorkerWindow m_workerWindow;
};
