#include "HttpSettings.h"

#include "HttpText.h"
#include "IniFile.h"
#include "ScopedRegKey.h"

namespace
{

const char kSection[] = "Http";
const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const DWORD kMaxValueLength = 4096;

DWORD ReadPositive(CIniFile& ini, const char* key, DWORD defaultValue, bool zeroAllowed = false)
{
    const int value = ini.GetInt(kSection, key, static_cast<int>(defaultValue));
    return value > 0 || (zeroAllowed && value == 0) ? static_cast<DWORD>(value) : defaultValue;
}

std::string ReadRegistryString(HKEY key, const char* name)
{
    char buffer[kMaxValueLength + 1] = {};
    DWORD type = 0;
    DWORD size = kMaxValueLength;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    buffer[size < kMaxValueLength ? size : kMaxValueLength] = '\0';
    return buffer;
}

} // namespace

HttpOptions CHttpSettings::Read(const std::string& iniPath)
{
    const HttpOptions defaults;
    HttpOptions options;
    CIniFile ini(iniPath.c_str());
    options.timeoutMs = ReadPositive(ini, "Timeout", defaults.timeoutMs);
    options.offlineSeconds = ReadPositive(ini, "OfflineSeconds", defaults.offlineSeconds, true);
    options.lowSpeedBytes = ReadPositive(ini, "LowSpeedBytes", defaults.lowSpeedBytes);
    options.lowSpeedSeconds = ReadPositive(ini, "LowSpeedSeconds", defaults.lowSpeedSeconds);

    const std::string proxy = CHttpText::TrimBlanks(ini.GetString(kSection, "Proxy", "", kMaxValueLength));
    std::string why;
    if (CHttpText::LowerCase(proxy) == "direct")
        return options;
    if (proxy.empty())
        ReadSystemProxy(options);
    else if (!options.proxy.ParseSingle(proxy, why))
        options.proxyError = "[Http] Proxy in symsrv.ini: " + why;
    return options;
}

void CHttpSettings::ReadSystemProxy(HttpOptions& options)
{
    CScopedRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kInternetSettings, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return;
    DWORD enabled = 0;
    DWORD type = 0;
    DWORD size = sizeof(enabled);
    if (RegQueryValueExA(key.Get(), "ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enabled), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || enabled == 0)
        return;
    const std::string server = CHttpText::TrimBlanks(ReadRegistryString(key.Get(), "ProxyServer"));
    if (server.empty())
        return;
    std::string why;
    if (!options.proxy.ParseWinInet(server, ReadRegistryString(key.Get(), "ProxyOverride"), why))
        options.proxyError = "the system's proxy setting: " + why;
}
