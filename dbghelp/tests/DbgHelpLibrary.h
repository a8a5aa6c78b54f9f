#pragma once
#include <windows.h>
#include <dbghelp.h>

#include <string>

// The built dbghelp.dll, copied into a directory of the test's own (where the
// test may put a symsrv.ini beside it) and loaded from there by full path,
// with its exports resolved by name. Unloaded when the object dies.
class CDbgHelpLibrary
{
public:
    explicit CDbgHelpLibrary(const std::string& directory);
    ~CDbgHelpLibrary();
    CDbgHelpLibrary(const CDbgHelpLibrary&) = delete;
    CDbgHelpLibrary& operator=(const CDbgHelpLibrary&) = delete;

    // True when the copy is loaded and every export was found.
    bool IsReady() const { return m_ready; }
    HMODULE Module() const { return m_module; }
    const std::string& Path() const { return m_path; }
    const std::string& Directory() const { return m_directory; }

    decltype(&::SymInitialize) Initialize = nullptr;
    decltype(&::SymCleanup) Cleanup = nullptr;
    decltype(&::SymGetOptions) GetOptions = nullptr;
    decltype(&::SymSetOptions) SetOptions = nullptr;
    decltype(&::SymRegisterCallback64) RegisterCallback64 = nullptr;
    decltype(&::SymSetSearchPath) SetSearchPath = nullptr;
    decltype(&::SymLoadModule64) LoadModule64 = nullptr;
    decltype(&::SymGetModuleInfo64) GetModuleInfo64 = nullptr;
    decltype(&::SymUnloadModule64) UnloadModule64 = nullptr;
    decltype(&::MakeSureDirectoryPathExists) MakeSureDirectoryPathExists = nullptr;
    decltype(&::SymFindFileInPath) FindFileInPath = nullptr;

private:
    template <typename Function>
    void Resolve(Function& target, const char* name);

    std::string m_directory;
    std::string m_path;
    HMODULE m_module = nullptr;
    bool m_ready = false;
};
