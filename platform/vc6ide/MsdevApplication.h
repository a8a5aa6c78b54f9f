#pragma once
#include <windows.h>
#include <oaidl.h>

#include <map>
#include <string>
#include <vector>

#include "MsdevOutput.h"

// The stand-in IDE's application object (IApplication), reached by add-ins
// through IDispatch by method name. It has the methods add-ins use to join
// the IDE and nothing more: SetAddInInfo, AddCommand, AddCommandBarButton,
// PrintToOutputWindow and EnableModeless. Each call is recorded in the
// output (a printed line as it is, everything else as a record), must come
// on the IDE's GUI thread (the thread that made the object), and can be made
// to fail for tests of an add-in's failure paths.
class CMsdevApplication : public IDispatch
{
public:
    // A command added by an add-in: the four fields of its command string,
    // the method its add-in runs it by, and the add-in's cookie.
    struct Command
    {
        std::string Name;
        std::string ButtonText;
        std::string StatusBarText;
        std::string ToolTip;
        std::string MethodName;
        long Cookie = 0;
    };

    explicit CMsdevApplication(CMsdevOutput& output);
    virtual ~CMsdevApplication();
    CMsdevApplication(const CMsdevApplication&) = delete;
    CMsdevApplication& operator=(const CMsdevApplication&) = delete;

    // IUnknown. The host owns the object; references only count.
    STDMETHODIMP QueryInterface(REFIID Iid, void** Object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch: no type information; names are matched without regard to case.
    STDMETHODIMP GetTypeInfoCount(UINT* Count) override;
    STDMETHODIMP GetTypeInfo(UINT Index, LCID Locale, ITypeInfo** Info) override;
    STDMETHODIMP GetIDsOfNames(REFIID Iid, LPOLESTR* Names, UINT Count, LCID Locale, DISPID* Ids) override;
    STDMETHODIMP Invoke(DISPID Id, REFIID Iid, LCID Locale, WORD Flags, DISPPARAMS* Params, VARIANT* Result,
                        EXCEPINFO* Exception, UINT* ArgError) override;

    // Outstanding references that add-ins hold.
    LONG GetRefCount() const { return m_refCount; }

    // Cookies are handed out by the host before it connects an add-in;
    // calls with any other cookie are refused.
    void AllowCookie(long cookie);
    // Forgets what an add-in set up (its info, commands and buttons), as the
    // IDE does when the add-in is unloaded.
    void ForgetCookie(long cookie);

    // The command dispatch that SetAddInInfo registered for a cookie (with a
    // reference for the caller), or null.
    IDispatch* GetCommandDispatch(long cookie) const;
    // A command by name; null when none was added.
    const Command* FindCommand(const std::string& name) const;
    // Command names with a toolbar button.
    const std::vector<std::string>& GetButtons() const { return m_buttons; }
    // 0 while modeless windows are enabled; each EnableModeless(FALSE) adds one.
    int GetModelessDisabled() const { return m_modelessDisabled; }

    // From now on a method returns this result ("AddCommand" may also be set
    // to answer S_OK with a false result: refuse true). S_OK and not refusing
    // puts it back to normal.
    void SetFailure(const std::string& method, HRESULT result, bool refuse = false);

private:
    struct AddInInfo
    {
        HINSTANCE Instance = nullptr;
        IDispatch* Commands = nullptr;
        long MediumBitmap = 0;
        long LargeBitmap = 0;
    };
    struct Failure
    {
        HRESULT Result = S_OK;
        bool Refuse = false;
    };

    HRESULT SetAddInInfo(HINSTANCE instance, IDispatch* commands, long medium, long large, long cookie);
    HRESULT AddCommand(const std::string& commandString, const std::string& method, long bitmapOffset, long cookie,
                       VARIANT_BOOL* result);
    HRESULT AddCommandBarButton(long buttonType, const std::string& command, long cookie);
    HRESULT PrintToOutputWindow(const std::string& text);
    HRESULT EnableModeless(bool enable);

    // Records the call and answers an injected failure, if one is set.
    bool Fails(const std::string& method, HRESULT& result) const;
    // What a bitmap resource of the add-in's module holds, for the records.
    std::string DescribeBitmap(HINSTANCE instance, long id) const;

    CMsdevOutput& m_output;
    volatile LONG m_refCount = 0;
    DWORD m_guiThread;
    std::map<long, AddInInfo> m_addIns;
    std::vector<Command> m_commands;
    std::vector<std::string> m_buttons;
    std::map<std::string, Failure> m_failures;
    int m_modelessDisabled = 0;
};
