#include "DbgHelpLibrary.h"

#include "TestSupport.h"

CDbgHelpLibrary::CDbgHelpLibrary(const std::string& directory)
    : m_directory(directory), m_path(directory + "\\dbghelp.dll")
{
    if (!CopyFileA((ExeDirectory() + "dbghelp.dll").c_str(), m_path.c_str(), FALSE))
        return;
    m_module = LoadLibraryA(m_path.c_str());
    if (m_module == nullptr)
        return;
    m_ready = true;
    Resolve(Initialize, "SymInitialize");
    Resolve(Cleanup, "SymCleanup");
    Resolve(FindFileInPath, "SymFindFileInPath");
    Resolve(GetOptions, "SymGetOptions");
    Resolve(SetOptions, "SymSetOptions");
    Resolve(RegisterCallback64, "SymRegisterCallback64");
    Resolve(SetSearchPath, "SymSetSearchPath");
    Resolve(LoadModule64, "SymLoadModule64");
    Resolve(GetModuleInfo64, "SymGetModuleInfo64");
    Resolve(UnloadModule64, "SymUnloadModule64");
    Resolve(MakeSureDirectoryPathExists, "MakeSureDirectoryPathExists");
}

CDbgHelpLibrary::~CDbgHelpLibrary()
{
    if (m_module != nullptr)
        FreeLibrary(m_module);
}

template <typename Function>
void CDbgHelpLibrary::Resolve(Function& target, const char* name)
{
    target = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    if (target == nullptr)
        m_ready = false;
}
