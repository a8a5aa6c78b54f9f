#include "LoadedModule.h"

bool CLoadedModule::Load(LPCSTR name)
{
    HMODULE module = LoadLibraryA(name);
    if (module == nullptr)
        return false;
    m_module = module;
    ++m_loads;
    return true;
}

bool CLoadedModule::Unload()
{
    if (m_loads == 0)
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    FreeLibrary(m_module);
    if (--m_loads == 0)
        m_module = nullptr;
    return true;
}
