#pragma once
#include <windows.h>

// Owns one open registry key and closes it when it goes. It never holds a
// predefined root (HKEY_CLASSES_ROOT and the like): those are passed around
// as plain HKEY values and are not closed.
class CScopedRegKey
{
public:
    CScopedRegKey() = default;
    explicit CScopedRegKey(HKEY key) : m_key(key) {}
    ~CScopedRegKey() { Close(); }
    CScopedRegKey(const CScopedRegKey&) = delete;
    CScopedRegKey& operator=(const CScopedRegKey&) = delete;

    HKEY Get() const { return m_key; }
    bool IsValid() const { return m_key != nullptr; }
    // Gives up ownership without closing.
    HKEY Release();
    // Closes the key now; the platform's result (ERROR_SUCCESS when none was held).
    LONG Close();

    // Opens parent\subKey, creating it when missing; closes any key held
    // before. disposition, when given, receives REG_CREATED_NEW_KEY or
    // REG_OPENED_EXISTING_KEY. Returns the platform's result.
    LONG Create(HKEY parent, const char* subKey, REGSAM access, DWORD* disposition = nullptr);
    // Opens an existing parent\subKey; closes any key held before.
    LONG Open(HKEY parent, const char* subKey, REGSAM access);

private:
    HKEY m_key = nullptr;
};
