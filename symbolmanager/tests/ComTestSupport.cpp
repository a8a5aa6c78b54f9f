#include "ComTestSupport.h"

#include <tlhelp32.h>

#include <cstdlib>

#include "ScopedRegKey.h"
#include "TestSupport.h"

HRESULT CreateSymbolManager(CScopedComPtr<ISymbolManager>& manager)
{
    return CoCreateInstance(CLSID_SymbolManager, nullptr, CLSCTX_LOCAL_SERVER, IID_ISymbolManager,
                            manager.ReceiveVoid());
}

std::wstring Widen(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> buffer(size > 0 ? size : 1);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer.data(), size);
    return std::wstring(buffer.data());
}

std::string Narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> buffer(size > 0 ? size : 1);
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buffer.data(), size, nullptr, nullptr);
    return std::string(buffer.data());
}

std::vector<DWORD> ServerProcessIds()
{
    std::vector<DWORD> ids;
    CScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid())
        return ids;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
    {
        if (lstrcmpiA(entry.szExeFile, "qx3fetch.exe") == 0)
            ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

HANDLE OpenTheServer(DWORD TimeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        const std::vector<DWORD> ids = ServerProcessIds();
        if (ids.empty())
            return nullptr;
        if (ids.size() == 1)
            return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, ids.front());
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= TimeoutMs)
            return nullptr;
        std::vector<HANDLE> handles;
        for (DWORD id : ids)
        {
            HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
            if (process != nullptr)
                handles.push_back(process);
        }
        if (!handles.empty())
            WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, TimeoutMs - elapsed);
        for (HANDLE process : handles)
            CloseHandle(process);
    }
}

bool WaitForNoServer(DWORD TimeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        const std::vector<DWORD> ids = ServerProcessIds();
        if (ids.empty())
            return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= TimeoutMs)
            return false;
        CScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, ids.front()));
        if (process.IsValid())
            WaitForSingleObject(process.Get(), TimeoutMs - elapsed);
    }
}

bool ClassesKeyExists(const std::string& path)
{
    CScopedRegKey key;
    return key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

namespace
{

void Collect(HKEY key, const std::string& prefix, std::map<std::string, std::string>& values)
{
    values[prefix];
    char name[512];
    BYTE data[2048];
    for (DWORD index = 0;; ++index)
    {
        DWORD nameLength = sizeof(name);
        DWORD dataLength = sizeof(data);
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, nullptr, data, &dataLength) != ERROR_SUCCESS)
            break;
        std::string text(reinterpret_cast<const char*>(data), dataLength);
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        values[prefix + (nameLength == 0 ? "@" : name)] = text;
    }
    for (DWORD index = 0;; ++index)
    {
        DWORD nameLength = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        CScopedRegKey sub;
        if (sub.Open(key, name, KEY_READ) == ERROR_SUCCESS)
            Collect(sub.Get(), prefix + name + "\\", values);
    }
}

} // namespace

std::map<std::string, std::string> ClassesTree(const std::string& path)
{
    std::map<std::string, std::string> values;
    CScopedRegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ) == ERROR_SUCCESS)
        Collect(key.Get(), "", values);
    return values;
}
