#include "SystemProxySetting.h"

#include <windows.h>
#include <shlwapi.h>

namespace
{
const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

bool SetString(HKEY key, const char* name, const std::string& value)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}
} // namespace

CSystemProxySetting::CSystemProxySetting(const std::string& server, const std::string& bypass)
    : m_path("Software\\QuillmarProxyTest-" + std::to_string(GetCurrentProcessId()))
{
    SHDeleteKeyA(HKEY_CURRENT_USER, m_path.c_str());
    CScopedRegKey settings;
    const DWORD enabled = 1;
    m_active = m_scratch.Create(HKEY_CURRENT_USER, m_path.c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS &&
               settings.Create(m_scratch.Get(), kInternetSettings, KEY_ALL_ACCESS) == ERROR_SUCCESS &&
               RegSetValueExA(settings.Get(), "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enabled),
                              sizeof(enabled)) == ERROR_SUCCESS &&
               SetString(settings.Get(), "ProxyServer", server) && SetString(settings.Get(), "ProxyOverride", bypass) &&
               RegOverridePredefKey(HKEY_CURRENT_USER, m_scratch.Get()) == ERROR_SUCCESS;
}

CSystemProxySetting::~CSystemProxySetting()
{
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    m_scratch.Close();
    SHDeleteKeyA(HKEY_CURRENT_USER, m_path.c_str());
}
