#pragma once
#include <windows.h>

#include "DebuggerModules.h"

// A debugger module that the module holding this object loads by name and
// unloads again, each load counted. The load goes through the holder's own
// LoadLibraryA import, as the IDE's modules load one another.
class CLoadedModule
{
public:
    CLoadedModule() = default;
    CLoadedModule(const CLoadedModule&) = delete;
    CLoadedModule& operator=(const CLoadedModule&) = delete;

    bool Load(LPCSTR name);
    // Undoes one load; false when nothing is loaded.
    bool Unload();
    HMODULE Get() const { return m_module; }

    // Calls the loaded module's export; FALSE with ERROR_MOD_NOT_FOUND when
    // nothing is loaded, ERROR_PROC_NOT_FOUND when it lacks the export.
    template <typename Proc, typename... Args> BOOL Call(const char* exportName, Args... args) const
    {
        Proc proc = nullptr;
        if (m_module == nullptr || !BindExport(m_module, exportName, proc))
        {
            SetLastError(m_module == nullptr ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND);
            return FALSE;
        }
        return proc(args...);
    }

private:
    HMODULE m_module = nullptr;
    unsigned m_loads = 0;
};
