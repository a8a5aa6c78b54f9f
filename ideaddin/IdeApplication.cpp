#include "IdeApplication.h"

#include <oleauto.h>

namespace
{

VARIANT Long(long value)
{
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = value;
    return variant;
}

// A handle as an integer of the platform's width: the IDE declares it as a
// long, which holds it on the 32-bit platform the IDE runs on.
VARIANT Handle(HINSTANCE handle)
{
    VARIANT variant;
    VariantInit(&variant);
    if (sizeof(handle) == sizeof(LONG))
    {
        variant.vt = VT_I4;
        variant.lVal = static_cast<LONG>(reinterpret_cast<LONG_PTR>(handle));
    }
    else
    {
        variant.vt = VT_I8;
        variant.llVal = static_cast<LONGLONG>(reinterpret_cast<LONG_PTR>(handle));
    }
    return variant;
}

VARIANT String(const wchar_t* text)
{
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_BSTR;
    variant.bstrVal = SysAllocString(text != nullptr ? text : L"");
    return variant;
}

VARIANT Bool(VARIANT_BOOL value)
{
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_BOOL;
    variant.boolVal = value;
    return variant;
}

} // namespace

HRESULT CIdeApplication::Call(const wchar_t* method, VARIANT* arguments, UINT count)
{
    HRESULT result = E_POINTER;
    if (m_application != nullptr)
    {
        LPOLESTR names[] = {const_cast<LPOLESTR>(method)};
        DISPID id = DISPID_UNKNOWN;
        result = m_application->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (SUCCEEDED(result))
        {
            // DISPPARAMS holds the arguments last first.
            VARIANT reversed[5];
            for (UINT i = 0; i < count; ++i)
                reversed[i] = arguments[count - 1 - i];
            DISPPARAMS params = {reversed, nullptr, count, 0};
            VARIANT returned;
            VariantInit(&returned);
            result = m_application->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &returned,
                                           nullptr, nullptr);
            VariantClear(&returned);
        }
    }
    for (UINT i = 0; i < count; ++i)
    {
        if (arguments[i].vt == VT_BSTR)
            VariantClear(&arguments[i]);
    }
    return result;
}

HRESULT CIdeApplication::SetAddInInfo(HINSTANCE instance, IDispatch* commands, long mediumBitmap, long largeBitmap,
                                      long cookie)
{
    VARIANT dispatch;
    VariantInit(&dispatch);
    dispatch.vt = VT_DISPATCH;
    dispatch.pdispVal = commands;
    VARIANT arguments[] = {Handle(instance), dispatch, Long(mediumBitmap), Long(largeBitmap), Long(cookie)};
    return Call(L"SetAddInInfo", arguments, 5);
}

HRESULT CIdeApplication::AddCommand(const wchar_t* commandText, const wchar_t* methodName, long bitmapOffset,
                                    long cookie, VARIANT_BOOL* added)
{
    *added = VARIANT_FALSE;
    VARIANT result;
    VariantInit(&result);
    result.vt = VT_BOOL | VT_BYREF;
    result.pboolVal = added;
    VARIANT arguments[] = {String(commandText), String(methodName), Long(bitmapOffset), Long(cookie), result};
    return Call(L"AddCommand", arguments, 5);
}

HRESULT CIdeApplication::AddCommandBarButton(long buttonType, const wchar_t* commandName, long cookie)
{
    VARIANT arguments[] = {Long(buttonType), String(commandName), Long(cookie)};
    return Call(L"AddCommandBarButton", arguments, 3);
}

HRESULT CIdeApplication::PrintToOutputWindow(const wchar_t* text)
{
    VARIANT arguments[] = {String(text)};
    return Call(L"PrintToOutputWindow", arguments, 1);
}

HRESULT CIdeApplication::EnableModeless(VARIANT_BOOL enable)
{
    VARIANT arguments[] = {Bool(enable)};
    return Call(L"EnableModeless", arguments, 1);
}
