#include "AddInDirectory.h"

#include <shlobj.h>

#include "AddInModule.h"

CAddInDirectory::CAddInDirectory()
{
    RemoveUserIni();
    // Any DLL of the build will do as the module; this one has no side effects.
    const std::string copy = m_dir.File("addin.dll");
    if (CopyFileA((ExeDirectory() + "trace_probe.dll").c_str(), copy.c_str(), FALSE))
        m_module = LoadLibraryA(copy.c_str());
    if (m_module != nullptr)
        SetAddInModule(m_module);
}

CAddInDirectory::~CAddInDirectory()
{
    SetAddInModule(nullptr);
    if (m_module != nullptr)
        FreeLibrary(m_module);
    RemoveUserIni();
}

std::string AppDataDir()
{
    char path[MAX_PATH + 1] = {};
    SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::string UserIniDir()
{
    return AppDataDir() + "\\Quillmar";
}

std::string UserIniFile()
{
    return UserIniDir() + "\\qx3user.ini";
}

void RemoveUserIni()
{
    DeleteFileA(UserIniFile().c_str());
    RemoveDirectoryA(UserIniDir().c_str());
}

std::string WindowsSymbolsDir()
{
    char dir[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(dir, MAX_PATH);
    std::string path = dir;
    if (path.back() != '\\')
        path += '\\';
    return path + "symbols";
}
