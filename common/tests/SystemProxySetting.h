#pragma once

#include <string>

#include "ScopedRegKey.h"

// The current user's WinINet proxy setting (Internet Settings: ProxyEnable,
// ProxyServer, ProxyOverride) as this process sees it while the object lives:
// HKEY_CURRENT_USER is redirected to a scratch key of the test's own that
// holds only that setting. Nothing of the real setting is touched.
class CSystemProxySetting
{
public:
    CSystemProxySetting(const std::string& server, const std::string& bypass = "");
    ~CSystemProxySetting();
    CSystemProxySetting(const CSystemProxySetting&) = delete;
    CSystemProxySetting& operator=(const CSystemProxySetting&) = delete;

    // False when the setting could not be written or HKCU not redirected.
    bool IsActive() const { return m_active; }

private:
    std::string m_path;
    CScopedRegKey m_scratch;
    bool m_active = false;
};
