#pragma once
#include <windows.h>
#include <oaidl.h>

// The IDE's add-in interface, as devshl.dll declares it: every add-in object
// implements it, and the IDE calls it on its GUI thread when it connects the
// add-in (passing its application object, whose IDispatch the add-in calls)
// and when it lets it go.
namespace devshl
{

// {C0002F81-AE2E-11CF-AD07-00A0C9034965}
const IID IID_IDSAddIn = {0xC0002F81, 0xAE2E, 0x11CF, {0xAD, 0x07, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0x65}};

struct IDSAddIn : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* pApp, VARIANT_BOOL bFirstTime, long dwCookie,
                                                   VARIANT_BOOL* bOnConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDisconnection(VARIANT_BOOL bLastTime) = 0;
};

} // namespace devshl
