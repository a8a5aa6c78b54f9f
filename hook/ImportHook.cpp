#include "ImportHook.h"

CImportHook::CImportHook(HMODULE module, const char* dllName, const char* functionName, void* replacement)
    : m_error(ERROR_SUCCESS), m_saved(nullptr), m_slot(nullptr), m_detached(false)
{
    if (!PatchImportByName(module, dllName, functionName, replacement, &m_saved, &m_slot))
    {
        m_error = GetLastError();
        m_saved = nullptr;
        m_slot = nullptr;
        return;
    }
    if (m_saved != nullptr && m_saved == replacement)
    {
        HMODULE exporter = GetModuleHandleA(dllName);
        m_saved = exporter != nullptr ? reinterpret_cast<void*>(GetProcAddress(exporter, functionName)) : nullptr;
        if (m_saved == nullptr)
        {
            // The slot stays as it was found, leading to the replacement.
            m_error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_PROC_NOT_FOUND;
            m_slot = nullptr;
        }
    }
}

CImportHook::~CImportHook()
{
    if (IsInstalled() && !m_detached && m_slot != nullptr)
        WriteImportSlot(m_slot, m_saved);
}
