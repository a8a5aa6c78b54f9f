#include "QuillmarHost.h"

#include <objbase.h>

#include "AddInDirectory.h"
#include "MsdevAddIns.h"
#include "ScopedRegKey.h"

const char kQuillmarProgId[] = "Quillmar.IdeAddIn";

namespace
{

const char kDirectoriesKey[] =
    "SOFTWARE\\Microsoft\\DevStudio\\6.0\\Build System\\Components\\Platforms\\Win32 (x86)\\Directories";

} // namespace

CQuillmarAddIn& CQuillmarAddIn::Get()
{
    static CQuillmarAddIn addIn;
    return addIn;
}

CQuillmarAddIn::CQuillmarAddIn()
{
    for (const char* name : {"qx3ide.dll", "qx3trap.dll", "help.html"})
    {
        if (!CopyFileA((ExeDirectory() + name).c_str(), m_dir.File(name).c_str(), FALSE))
            return;
    }
    m_module = LoadLibraryA(m_dir.File("qx3ide.dll").c_str());
    m_registered = m_module != nullptr && SUCCEEDED(Register());
}

HRESULT CQuillmarAddIn::CallExport(const char* name)
{
    typedef HRESULT(STDAPICALLTYPE * ExportFunction)();
    const ExportFunction function =
        reinterpret_cast<ExportFunction>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    return function != nullptr ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

HRESULT CQuillmarAddIn::Register()
{
    return CallExport("DllRegisterServer");
}

HRESULT CQuillmarAddIn::Unregister()
{
    return CallExport("DllUnregisterServer");
}

HRESULT CQuillmarAddIn::CanUnloadNow()
{
    return CallExport("DllCanUnloadNow");
}

void CQuillmarAddIn::Reset()
{
    CMsdevAddIns::ClearList();
    CMsdevAddIns::Enable(kQuillmarProgId, true);
    RemoveUserIni();
    DeleteFileA(File("qx3.ini").c_str());
    DeleteFileA(File("symsrv.ini").c_str());
    CopyFileA((ExeDirectory() + "help.html").c_str(), File("help.html").c_str(), FALSE);
    DeletePdbDirs();
    SetEnvironmentVariableA("_NT_SYMBOL_PATH", nullptr);
}

void QuillmarTest::SetUpTestSuite()
{
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
}

void QuillmarTest::TearDownTestSuite()
{
    OleUninitialize();
}

void QuillmarTest::SetUp()
{
    ASSERT_TRUE(AddIn().IsReady());
    AddIn().Reset();
}

bool ReadPdbDirs(std::string& value)
{
    CScopedRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kDirectoriesKey, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), "Pdb Dirs", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::string buffer(size + 1, '\0');
    if (RegQueryValueExA(key.Get(), "Pdb Dirs", nullptr, nullptr, reinterpret_cast<BYTE*>(&buffer[0]), &size) !=
        ERROR_SUCCESS)
        return false;
    value = buffer.c_str();
    return true;
}

bool WritePdbDirs(const std::string& value)
{
    CScopedRegKey key;
    return key.Create(HKEY_CURRENT_USER, kDirectoriesKey, KEY_SET_VALUE) == ERROR_SUCCESS &&
           RegSetValueExA(key.Get(), "Pdb Dirs", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

void DeletePdbDirs()
{
    CScopedRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kDirectoriesKey, KEY_SET_VALUE) == ERROR_SUCCESS)
        RegDeleteValueA(key.Get(), "Pdb Dirs");
}
