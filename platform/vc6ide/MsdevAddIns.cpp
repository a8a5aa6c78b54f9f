#include "MsdevAddIns.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "ScopedRegKey.h"

namespace
{

const char kAddInsKey[] = "Software\\Microsoft\\DevStudio\\6.0\\AddIns";

std::string Hex(HRESULT result)
{
    char text[16];
    snprintf(text, sizeof(text), "%08lx", static_cast<unsigned long>(result));
    return text;
}

} // namespace

CMsdevAddIns::CMsdevAddIns(CMsdevApplication& application, CMsdevOutput& output)
    : m_application(application), m_output(output)
{
}

CMsdevAddIns::~CMsdevAddIns()
{
    DisconnectAll(false);
}

bool CMsdevAddIns::Enable(const std::string& progId, bool enable)
{
    CScopedRegKey key;
    if (key.Create(HKEY_CURRENT_USER, (std::string(kAddInsKey) + "\\" + progId).c_str(), KEY_SET_VALUE) !=
        ERROR_SUCCESS)
        return false;
    const char* value = enable ? "1" : "0";
    return RegSetValueExA(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), 2) == ERROR_SUCCESS;
}

void CMsdevAddIns::ClearList()
{
    SHDeleteKeyA(HKEY_CURRENT_USER, kAddInsKey);
}

std::vector<std::string> CMsdevAddIns::EnabledAddIns() const
{
    std::vector<std::string> enabled;
    CScopedRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kAddInsKey, KEY_READ) != ERROR_SUCCESS)
        return enabled;
    char name[256];
    for (DWORD index = 0;; ++index)
    {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        char value[8] = {};
        LONG size = sizeof(value);
        if (RegQueryValueA(key.Get(), name, value, &size) == ERROR_SUCCESS && strcmp(value, "1") == 0)
            enabled.push_back(name);
    }
    return enabled;
}

bool CMsdevAddIns::IsConnected(const std::string& progId) const
{
    for (const AddIn& addIn : m_connected)
    {
        if (addIn.ProgId == progId)
            return true;
    }
    return false;
}

size_t CMsdevAddIns::ConnectAll(bool firstTime)
{
    size_t connected = 0;
    for (const std::string& progId : EnabledAddIns())
    {
        if (IsConnected(progId))
            continue;
        CLSID clsid;
        HRESULT result = CLSIDFromProgID(MsdevWide(progId).c_str(), &clsid);
        devshl::IDSAddIn* object = nullptr;
        if (SUCCEEDED(result))
            result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, devshl::IID_IDSAddIn,
                                      reinterpret_cast<void**>(&object));
        if (FAILED(result))
        {
            m_output.Record("add-in " + progId + " cannot be created: " + Hex(result));
            continue;
        }
        const long cookie = m_nextCookie++;
        m_application.AllowCookie(cookie);
        VARIANT_BOOL accepted = VARIANT_FALSE;
        result = object->OnConnection(&m_application, firstTime ? VARIANT_TRUE : VARIANT_FALSE, cookie, &accepted);
        if (result != S_OK || accepted == VARIANT_FALSE)
        {
            m_output.Record("add-in " + progId + " did not connect (" + Hex(result) + ")");
            object->Release();
            m_application.ForgetCookie(cookie);
            continue;
        }
        m_connected.push_back(AddIn{progId, cookie, object});
        m_output.Record("add-in " + progId + " connected, cookie " + std::to_string(cookie));
        ++connected;
    }
    return connected;
}

void CMsdevAddIns::DisconnectAll(bool lastTime)
{
    for (const AddIn& addIn : m_connected)
    {
        const HRESULT result = addIn.Object->OnDisconnection(lastTime ? VARIANT_TRUE : VARIANT_FALSE);
        addIn.Object->Release();
        m_application.ForgetCookie(addIn.Cookie);
        m_output.Record("add-in " + addIn.ProgId + " disconnected (" + Hex(result) + ")");
    }
    m_connected.clear();
}

bool CMsdevAddIns::RunCommand(const std::string& name)
{
    const CMsdevApplication::Command* command = m_application.FindCommand(name);
    if (command == nullptr)
    {
        m_output.Record("no command " + name);
        return false;
    }
    IDispatch* dispatch = m_application.GetCommandDispatch(command->Cookie);
    if (dispatch == nullptr)
    {
        m_output.Record("command " + name + " has no dispatch");
        return false;
    }
    std::wstring method = MsdevWide(command->MethodName);
    LPOLESTR names[] = {&method[0]};
    DISPID id = DISPID_UNKNOWN;
    HRESULT result = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(result))
    {
        m_output.Record("running " + name);
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT returned;
        VariantInit(&returned);
        result =
            dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &returned, nullptr, nullptr);
        VariantClear(&returned);
    }
    dispatch->Release();
    m_output.Record("command " + name + " returned " + Hex(result));
    return SUCCEEDED(result);
}
