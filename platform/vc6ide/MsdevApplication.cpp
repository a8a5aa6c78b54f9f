#include "MsdevApplication.h"

#include <cstdio>

namespace
{

enum : DISPID
{
    DISPID_SETADDININFO = 1,
    DISPID_ADDCOMMAND,
    DISPID_ADDCOMMANDBARBUTTON,
    DISPID_PRINTTOOUTPUTWINDOW,
    DISPID_ENABLEMODELESS,
};

struct MethodName
{
    const wchar_t* Name;
    DISPID Id;
};

const MethodName kMethods[] = {
    {L"SetAddInInfo", DISPID_SETADDININFO},
    {L"AddCommand", DISPID_ADDCOMMAND},
    {L"AddCommandBarButton", DISPID_ADDCOMMANDBARBUTTON},
    {L"PrintToOutputWindow", DISPID_PRINTTOOUTPUTWINDOW},
    {L"EnableModeless", DISPID_ENABLEMODELESS},
};

// The IDE's button type of a button showing a glyph of the add-in's bitmaps.
const long kGlyphButton = 1;

std::string Hex(HRESULT result)
{
    char text[16];
    snprintf(text, sizeof(text), "%08lx", static_cast<unsigned long>(result));
    return text;
}

// The arguments of one call in declaration order (DISPPARAMS holds them last
// first), converted to what each method declares.
class CArguments
{
public:
    explicit CArguments(const DISPPARAMS& params) : m_params(params) {}

    // DISP_E_BADPARAMCOUNT, DISP_E_NONAMEDARGS or S_OK.
    HRESULT Expect(UINT count) const
    {
        if (m_params.cNamedArgs != 0)
            return DISP_E_NONAMEDARGS;
        return m_params.cArgs == count ? S_OK : DISP_E_BADPARAMCOUNT;
    }
    // The index of the argument that failed to convert, for ArgError.
    UINT FailedIndex() const { return m_failed; }

    bool Long(UINT index, long& value)
    {
        VARIANT converted;
        if (!Convert(index, VT_I4, converted))
            return false;
        value = converted.lVal;
        return true;
    }
    // A handle passed as an integer of either width.
    bool Handle(UINT index, HINSTANCE& value)
    {
        VARIANT converted;
        if (!Convert(index, VT_I8, converted))
            return false;
        value = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(converted.llVal));
        return true;
    }
    bool Bool(UINT index, bool& value)
    {
        VARIANT converted;
        if (!Convert(index, VT_BOOL, converted))
            return false;
        value = converted.boolVal != VARIANT_FALSE;
        return true;
    }
    bool String(UINT index, std::string& value)
    {
        VARIANT converted;
        if (!Convert(index, VT_BSTR, converted))
            return false;
        value = MsdevNarrow(converted.bstrVal);
        VariantClear(&converted);
        return true;
    }
    // A dispatch pointer without an added reference; null is allowed.
    bool Dispatch(UINT index, IDispatch*& value)
    {
        const VARIANT& argument = At(index);
        if (argument.vt == VT_DISPATCH)
            value = argument.pdispVal;
        else if (argument.vt == (VT_DISPATCH | VT_BYREF) && argument.ppdispVal != nullptr)
            value = *argument.ppdispVal;
        else
            return Fail(index);
        return true;
    }
    bool BoolReference(UINT index, VARIANT_BOOL*& value)
    {
        const VARIANT& argument = At(index);
        if (argument.vt != (VT_BOOL | VT_BYREF) || argument.pboolVal == nullptr)
            return Fail(index);
        value = argument.pboolVal;
        return true;
    }

private:
    const VARIANT& At(UINT index) const { return m_params.rgvarg[m_params.cArgs - 1 - index]; }
    bool Convert(UINT index, VARTYPE type, VARIANT& converted)
    {
        VariantInit(&converted);
        if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&At(index)), 0, type)))
            return Fail(index);
        return true;
    }
    bool Fail(UINT index)
    {
        m_failed = m_params.cArgs - 1 - index;
        return false;
    }

    const DISPPARAMS& m_params;
    UINT m_failed = 0;
};

} // namespace

CMsdevApplication::CMsdevApplication(CMsdevOutput& output) : m_output(output), m_guiThread(GetCurrentThreadId())
{
}

CMsdevApplication::~CMsdevApplication()
{
    for (auto& entry : m_addIns)
    {
        if (entry.second.Commands != nullptr)
            entry.second.Commands->Release();
    }
}

STDMETHODIMP CMsdevApplication::QueryInterface(REFIID Iid, void** Object)
{
    if (Object == nullptr)
        return E_POINTER;
    if (IsEqualIID(Iid, IID_IUnknown) || IsEqualIID(Iid, IID_IDispatch))
    {
        *Object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *Object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMsdevApplication::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

STDMETHODIMP_(ULONG) CMsdevApplication::Release()
{
    return static_cast<ULONG>(InterlockedDecrement(&m_refCount));
}

STDMETHODIMP CMsdevApplication::GetTypeInfoCount(UINT* Count)
{
    if (Count == nullptr)
        return E_POINTER;
    *Count = 0;
    return S_OK;
}

STDMETHODIMP CMsdevApplication::GetTypeInfo(UINT, LCID, ITypeInfo** Info)
{
    if (Info != nullptr)
        *Info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CMsdevApplication::GetIDsOfNames(REFIID, LPOLESTR* Names, UINT Count, LCID, DISPID* Ids)
{
    if (Names == nullptr || Ids == nullptr || Count == 0)
        return E_INVALIDARG;
    HRESULT result = S_OK;
    for (UINT i = 0; i < Count; ++i)
        Ids[i] = DISPID_UNKNOWN;
    for (const MethodName& method : kMethods)
    {
        if (Names[0] != nullptr && _wcsicmp(Names[0], method.Name) == 0)
            Ids[0] = method.Id;
    }
    if (Ids[0] == DISPID_UNKNOWN)
    {
        m_output.Record("IApplication has no method \"" + MsdevNarrow(Names[0]) + "\"");
        result = DISP_E_UNKNOWNNAME;
    }
    // The methods take no named arguments.
    if (Count > 1)
        result = DISP_E_UNKNOWNNAME;
    return result;
}

STDMETHODIMP CMsdevApplication::Invoke(DISPID Id, REFIID, LCID, WORD Flags, DISPPARAMS* Params, VARIANT* Result,
                                       EXCEPINFO*, UINT* ArgError)
{
    if (Params == nullptr)
        return E_INVALIDARG;
    if ((Flags & DISPATCH_METHOD) == 0)
        return DISP_E_MEMBERNOTFOUND;
    if (GetCurrentThreadId() != m_guiThread)
        m_output.Record("IApplication called off the GUI thread");
    if (Result != nullptr)
        VariantInit(Result);

    CArguments arguments(*Params);
    HRESULT result = DISP_E_MEMBERNOTFOUND;
    bool converted = true;
    switch (Id)
    {
    case DISPID_SETADDININFO:
    {
        HINSTANCE instance = nullptr;
        IDispatch* commands = nullptr;
        long medium = 0, large = 0, cookie = 0;
        if (FAILED(result = arguments.Expect(5)))
            return result;
        converted = arguments.Handle(0, instance) && arguments.Dispatch(1, commands) && arguments.Long(2, medium) &&
                    arguments.Long(3, large) && arguments.Long(4, cookie);
        if (converted)
            result = SetAddInInfo(instance, commands, medium, large, cookie);
        break;
    }
    case DISPID_ADDCOMMAND:
    {
        std::string commandString, method;
        long offset = 0, cookie = 0;
        VARIANT_BOOL* added = nullptr;
        if (FAILED(result = arguments.Expect(5)))
            return result;
        converted = arguments.String(0, commandString) && arguments.String(1, method) && arguments.Long(2, offset) &&
                    arguments.Long(3, cookie) && arguments.BoolReference(4, added);
        if (converted)
            result = AddCommand(commandString, method, offset, cookie, added);
        break;
    }
    case DISPID_ADDCOMMANDBARBUTTON:
    {
        long type = 0, cookie = 0;
        std::string command;
        if (FAILED(result = arguments.Expect(3)))
            return result;
        converted = arguments.Long(0, type) && arguments.String(1, command) && arguments.Long(2, cookie);
        if (converted)
            result = AddCommandBarButton(type, command, cookie);
        break;
    }
    case DISPID_PRINTTOOUTPUTWINDOW:
    {
        std::string text;
        if (FAILED(result = arguments.Expect(1)))
            return result;
        converted = arguments.String(0, text);
        if (converted)
            result = PrintToOutputWindow(text);
        break;
    }
    case DISPID_ENABLEMODELESS:
    {
        bool enable = false;
        if (FAILED(result = arguments.Expect(1)))
            return result;
        converted = arguments.Bool(0, enable);
        if (converted)
            result = EnableModeless(enable);
        break;
    }
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (!converted)
    {
        if (ArgError != nullptr)
            *ArgError = arguments.FailedIndex();
        return DISP_E_TYPEMISMATCH;
    }
    return result;
}

void CMsdevApplication::AllowCookie(long cookie)
{
    m_addIns[cookie];
}

void CMsdevApplication::ForgetCookie(long cookie)
{
    const auto found = m_addIns.find(cookie);
    if (found != m_addIns.end())
    {
        if (found->second.Commands != nullptr)
            found->second.Commands->Release();
        m_addIns.erase(found);
    }
    for (auto command = m_commands.begin(); command != m_commands.end();)
    {
        if (command->Cookie != cookie)
        {
            ++command;
            continue;
        }
        for (auto button = m_buttons.begin(); button != m_buttons.end();)
            button = *button == command->Name ? m_buttons.erase(button) : button + 1;
        command = m_commands.erase(command);
    }
}

IDispatch* CMsdevApplication::GetCommandDispatch(long cookie) const
{
    const auto found = m_addIns.find(cookie);
    if (found == m_addIns.end() || found->second.Commands == nullptr)
        return nullptr;
    found->second.Commands->AddRef();
    return found->second.Commands;
}

const CMsdevApplication::Command* CMsdevApplication::FindCommand(const std::string& name) const
{
    for (const Command& command : m_commands)
    {
        if (_stricmp(command.Name.c_str(), name.c_str()) == 0)
            return &command;
    }
    return nullptr;
}

void CMsdevApplication::SetFailure(const std::string& method, HRESULT result, bool refuse)
{
    if (result == S_OK && !refuse)
        m_failures.erase(method);
    else
        m_failures[method] = Failure{result, refuse};
}

bool CMsdevApplication::Fails(const std::string& method, HRESULT& result) const
{
    const auto found = m_failures.find(method);
    if (found == m_failures.end() || found->second.Refuse)
        return false;
    result = found->second.Result;
    m_output.Record("IApplication::" + method + " fails with " + Hex(result));
    return true;
}

HRESULT CMsdevApplication::SetAddInInfo(HINSTANCE instance, IDispatch* commands, long medium, long large, long cookie)
{
    HRESULT result = S_OK;
    if (Fails("SetAddInInfo", result))
        return result;
    const auto found = m_addIns.find(cookie);
    if (found == m_addIns.end())
    {
        m_output.Record("SetAddInInfo refused: unknown cookie " + std::to_string(cookie));
        return E_INVALIDARG;
    }
    if (commands == nullptr)
    {
        m_output.Record("SetAddInInfo refused: no command dispatch");
        return E_INVALIDARG;
    }
    AddInInfo& info = found->second;
    if (info.Commands != nullptr)
        info.Commands->Release();
    commands->AddRef();
    info = AddInInfo{instance, commands, medium, large};
    m_output.Record("add-in info: cookie " + std::to_string(cookie) + ", medium bitmap " + std::to_string(medium) +
                    " (" + DescribeBitmap(instance, medium) + "), large bitmap " + std::to_string(large) + " (" +
                    DescribeBitmap(instance, large) + ")");
    return S_OK;
}

HRESULT CMsdevApplication::AddCommand(const std::string& commandString, const std::string& method, long bitmapOffset,
                                      long cookie, VARIANT_BOOL* added)
{
    *added = VARIANT_FALSE;
    HRESULT result = S_OK;
    if (Fails("AddCommand", result))
        return result;
    const auto info = m_addIns.find(cookie);
    if (info == m_addIns.end() || info->second.Commands == nullptr)
    {
        m_output.Record("AddCommand refused: no add-in info for cookie " + std::to_string(cookie));
        return E_INVALIDARG;
    }
    const auto failure = m_failures.find("AddCommand");
    if (failure != m_failures.end() && failure->second.Refuse)
    {
        m_output.Record("AddCommand refuses \"" + MsdevEscape(commandString) + "\"");
        return S_OK;
    }

    // Command name, button text, status-bar text and tool tip, separated by "\n".
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;)
    {
        const size_t end = commandString.find('\n', start);
        fields.push_back(commandString.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (fields.size() != 4 || fields[0].empty())
    {
        m_output.Record("AddCommand refused: \"" + MsdevEscape(commandString) + "\" is not of four fields");
        return S_OK;
    }
    if (FindCommand(fields[0]) != nullptr)
    {
        m_output.Record("AddCommand refused: command " + fields[0] + " exists");
        return S_OK;
    }
    // The IDE runs the command by this name: the add-in's dispatch must know it.
    std::wstring wideMethod = MsdevWide(method);
    LPOLESTR names[] = {&wideMethod[0]};
    DISPID id = DISPID_UNKNOWN;
    if (wideMethod.empty() ||
        FAILED(info->second.Commands->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
    {
        m_output.Record("AddCommand refused: the command dispatch has no method \"" + method + "\"");
        return S_OK;
    }
    m_commands.push_back(Command{fields[0], fields[1], fields[2], fields[3], method, cookie});
    *added = VARIANT_TRUE;
    m_output.Record("command added: " + fields[0] + ", button text \"" + fields[1] + "\", status bar \"" + fields[2] +
                    "\", tool tip \"" + fields[3] + "\", method " + method + ", glyph " + std::to_string(bitmapOffset));
    return S_OK;
}

HRESULT CMsdevApplication::AddCommandBarButton(long buttonType, const std::string& command, long cookie)
{
    HRESULT result = S_OK;
    if (Fails("AddCommandBarButton", result))
        return result;
    const Command* found = FindCommand(command);
    if (found == nullptr || found->Cookie != cookie)
    {
        m_output.Record("AddCommandBarButton refused: no command " + command + " of cookie " + std::to_string(cookie));
        return E_INVALIDARG;
    }
    if (buttonType != kGlyphButton)
    {
        m_output.Record("AddCommandBarButton refused: button type " + std::to_string(buttonType));
        return E_INVALIDARG;
    }
    m_buttons.push_back(found->Name);
    m_output.Record("toolbar button added: " + found->Name + " (glyph button)");
    return S_OK;
}

HRESULT CMsdevApplication::PrintToOutputWindow(const std::string& text)
{
    HRESULT result = S_OK;
    if (Fails("PrintToOutputWindow", result))
        return result;
    m_output.PrintLine(text);
    return S_OK;
}

HRESULT CMsdevApplication::EnableModeless(bool enable)
{
    HRESULT result = S_OK;
    if (Fails("EnableModeless", result))
        return result;
    if (!enable)
        ++m_modelessDisabled;
    else if (m_modelessDisabled > 0)
        --m_modelessDisabled;
    m_output.Record(enable ? "modeless windows enabled" : "modeless windows disabled");
    return S_OK;
}

std::string CMsdevApplication::DescribeBitmap(HINSTANCE instance, long id) const
{
    HBITMAP bitmap =
        static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap == nullptr)
        return "missing";
    BITMAP described = {};
    GetObjectA(bitmap, sizeof(described), &described);
    DeleteObject(bitmap);
    return std::to_string(described.bmWidth) + "x" + std::to_string(described.bmHeight) + ", " +
           std::to_string(described.bmBitsPixel) + " bits";
}
