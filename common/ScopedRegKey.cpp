#include "ScopedRegKey.h"

HKEY CScopedRegKey::Release()
{
    HKEY key = m_key;
    m_key = nullptr;
    return key;
}

LONG CScopedRegKey::Close()
{
    if (m_key == nullptr)
        return ERROR_SUCCESS;
    const LONG result = RegCloseKey(m_key);
    m_key = nullptr;
    return result;
}

LONG CScopedRegKey::Create(HKEY parent, const char* subKey, REGSAM access, DWORD* disposition)
{
    Close();
    DWORD ignored = 0;
    HKEY key = nullptr;
    const LONG result = RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                                        disposition != nullptr ? disposition : &ignored);
    if (result == ERROR_SUCCESS)
        m_key = key;
    return result;
}

LONG CScopedRegKey::Open(HKEY parent, const char* subKey, REGSAM access)
{
    Close();
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExA(parent, subKey, 0, access, &key);
    if (result == ERROR_SUCCESS)
        m_key = key;
    return result;
}
