#pragma once
#include <windows.h>
#include <objbase.h>

#include <map>
#include <string>
#include <vector>

#include "ScopedComPtr.h"
#include "ScopedHandle.h"
#include "SymbolManager.h"

// The calling thread's membership of the multithreaded apartment, for the
// life of the object.
class CComApartment
{
public:
    CComApartment() : m_result(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~CComApartment()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
    HRESULT Result() const { return m_result; }

private:
    HRESULT m_result;
};

// Owns a string allocated with the COM task allocator.
class CTaskString
{
public:
    CTaskString() = default;
    ~CTaskString() { CoTaskMemFree(m_text); }
    CTaskString(const CTaskString&) = delete;
    CTaskString& operator=(const CTaskString&) = delete;
    // Frees the current string and hands out the slot for an out-parameter.
    LPWSTR* Receive()
    {
        CoTaskMemFree(m_text);
        m_text = nullptr;
        return &m_text;
    }
    const wchar_t* Get() const { return m_text; }

private:
    LPWSTR m_text = nullptr;
};

// Creates a SymbolManager object in the local server.
HRESULT CreateSymbolManager(CScopedComPtr<ISymbolManager>& manager);

// ANSI code page conversions, as a client of the server does them.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

// Ids of the running qx3fetch.exe processes of this session.
std::vector<DWORD> ServerProcessIds();
// The one running server, opened for waiting (the caller owns the handle).
// While several run (one winding down, a new one serving) it waits, at most
// TimeoutMs, until one is left; null when none or still several run.
HANDLE OpenTheServer(DWORD TimeoutMs);
// Waits, at most TimeoutMs, until no qx3fetch.exe runs.
bool WaitForNoServer(DWORD TimeoutMs);

// Whether HKEY_CLASSES_ROOT\path exists.
bool ClassesKeyExists(const std::string& path);
// Every key and value below HKEY_CLASSES_ROOT\path, by its path relative to
// it: "sub\key\" for a key, "sub\key\@" for its default value and
// "sub\key\name" for a named one, with the value's data (trailing NULs
// dropped); empty when the key is missing.
std::map<std::string, std::string> ClassesTree(const std::string& path);
