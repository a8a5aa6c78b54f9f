#pragma once
#include <windows.h>
#include <oaidl.h>

// The Visual C++ 6.0 IDE's application object (IApplication), called late
// bound: each method is found through IDispatch by its name and invoked with
// its arguments, so the add-in depends on no vtable layout of the IDE's. The
// pointer is the caller's; this class takes no reference. Every call returns
// the HRESULT of the lookup or of the method.
class CIdeApplication
{
public:
    explicit CIdeApplication(IDispatch* application) : m_application(application) {}

    // Registers the add-in's module, its command dispatch, the medium and
    // large toolbar bitmaps' resource ids and the connection cookie.
    HRESULT SetAddInInfo(HINSTANCE instance, IDispatch* commands, long mediumBitmap, long largeBitmap, long cookie);
    // Registers a command from its four-field text ("name\nbutton\nstatus
    // bar\ntool tip") and the method the IDE runs it by; *added tells whether
    // the IDE took it.
    HRESULT AddCommand(const wchar_t* commandText, const wchar_t* methodName, long bitmapOffset, long cookie,
                       VARIANT_BOOL* added);
    HRESULT AddCommandBarButton(long buttonType, const wchar_t* commandName, long cookie);
    HRESULT PrintToOutputWindow(const wchar_t* text);
    HRESULT EnableModeless(VARIANT_BOOL enable);

private:
    // arguments in declaration order; VT_BSTR arguments are freed here.
    HRESULT Call(const wchar_t* method, VARIANT* arguments, UINT count);

    IDispatch* m_application;
};
