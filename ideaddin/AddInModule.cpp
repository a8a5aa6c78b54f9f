#include "AddInModule.h"

#include <atomic>

namespace
{

std::atomic<HMODULE> g_namedModule{nullptr};

HMODULE ModuleOfThisCode()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&g_namedModule), &module))
        return nullptr;
    return module;
}

} // namespace

HMODULE GetAddInModule()
{
    const HMODULE named = g_namedModule.load();
    return named != nullptr ? named : ModuleOfThisCode();
}

void SetAddInModule(HMODULE module)
{
    g_namedModule.store(module);
}
