#include "ConfigLocation.h"

#include <shlobj.h>

#include <vector>

#include "AddInModule.h"
#include "ModulePath.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

constexpr DWORD kValueChars = 1040;
constexpr DWORD kAppDataChars = 520;

void AppendBackslash(std::string& path)
{
    if (!path.empty() && path.back() != '\\')
        path += '\\';
}

bool IsExistingFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

bool GetWindowsDir(std::string& dir)
{
    CTraceScope scope("GetWindowsDir()\n", 0);
    char buffer[kValueChars + 1] = {};
    if (GetWindowsDirectoryA(buffer, kValueChars) == 0)
    {
        TraceMessage(TRACE_ERROR, 0, "GetWindowsDirectory() failed. Error: %u\n",
                     static_cast<unsigned>(GetLastError()));
        return false;
    }
    buffer[kValueChars] = '\0';
    dir = buffer;
    if (dir.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Empty string.\n");
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "WinDir: %s\n", dir.c_str());
    return true;
}

void GetEnvVar(const std::string& name, std::string& value)
{
    CTraceScope scope("GetEnvVar()\n", 0);
    value.clear();
    if (name.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Empty name.\n");
        return;
    }
    char buffer[kValueChars + 1] = {};
    const DWORD length = GetEnvironmentVariableA(name.c_str(), buffer, kValueChars + 1);
    if (length == 0)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Variable not found.\n");
        return;
    }
    if (length <= kValueChars)
    {
        value = buffer;
    }
    else
    {
        // A longer value (a long symbol path) is read whole rather than cut:
        // the call has told the size it needs, terminator included.
        std::vector<char> large(length);
        const DWORD copied = GetEnvironmentVariableA(name.c_str(), large.data(), length);
        if (copied == 0 || copied >= length)
        {
            TraceMessage(TRACE_ERROR, 0, "%s", "Variable not found.\n");
            return;
        }
        value.assign(large.data(), copied);
    }
    TraceMessage(TRACE_INFO, 0, "Value: %s\n", value.c_str());
}

HRESULT SHGetFolderPathHelper(HWND hWndOwner, int nFolder, HANDLE hToken, DWORD dwFlags, LPSTR pszPath)
{
    CTraceScope scope("SHGetFolderPathHelper()\n", 0);
    typedef HRESULT(WINAPI * SHGetFolderPathAFunc)(HWND, int, HANDLE, DWORD, LPSTR);
    HMODULE shell = LoadLibraryA("shell32.dll");
    if (shell == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "LoadLibrary() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return E_FAIL;
    }
    const SHGetFolderPathAFunc function =
        reinterpret_cast<SHGetFolderPathAFunc>(reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathA")));
    if (function == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "GetProcAddress() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        FreeLibrary(shell);
        return E_NOTIMPL;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Calling SHGetFolderPath()...\n");
    const HRESULT result = function(hWndOwner, nFolder, hToken, dwFlags, pszPath);
    TraceMessage(TRACE_INFO, 0, "RetValue: %x\n", static_cast<unsigned>(result));
    if (!FreeLibrary(shell))
        TraceMessage(TRACE_ERROR, 0, "FreeLibrary() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
    return result;
}

void GetAppIniFile(std::string& fileName)
{
    CTraceScope scope("GetAppIniFile()\n", 0);
    GetModulePathPart(fileName, MODULE_PATH_DRIVE | MODULE_PATH_DIR, GetAddInModule());
    AppendBackslash(fileName);
    fileName += "qx3.ini";
    TraceMessage(TRACE_INFO, 0, "FileName: %s\n", fileName.c_str());
}

void GetIniFileName(std::string& fileName, bool ReadOnly)
{
    CTraceScope scope("GetIniFileName()\n", 0);
    TraceMessage(TRACE_INFO, 0, "ReadOnly: %s\n", ReadOnly ? "true" : "false");
    char appData[kAppDataChars + 1] = {};
    const HRESULT result =
        SHGetFolderPathHelper(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, appData);
    TraceMessage(TRACE_INFO, 0, "SHGetFolderPath returned %x\n", static_cast<unsigned>(result));
    appData[kAppDataChars] = '\0';
    if (result != S_OK || appData[0] == '\0')
    {
        GetAppIniFile(fileName);
        return;
    }
    std::string ourDir = appData;
    AppendBackslash(ourDir);
    ourDir += "Quillmar";
    const std::string userIniFile = ourDir + "\\qx3user.ini";
    if (!IsExistingFile(userIniFile))
    {
        TraceMessage(TRACE_INFO, 0, "%s", "User INI file does not exist.\n");
        if (ReadOnly)
        {
            GetAppIniFile(fileName);
            return;
        }
        // One level: the application-data directory itself exists already.
        if (!CreateDirectoryA(ourDir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        {
            TraceMessage(TRACE_ERROR, 0, "CreateDirectory() failed. Error: %u\n",
                         static_cast<unsigned>(GetLastError()));
            GetAppIniFile(fileName);
            return;
        }
    }
    fileName = userIniFile;
    TraceMessage(TRACE_INFO, 0, "FileName: %s\n", fileName.c_str());
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}
