#include "AddInModule.h"

#include <atomic>

// The linker's symbol for the start of the image that holds this code.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace
{

std::atomic<HMODULE> g_namedModule{nullptr};

} // namespace

HMODULE GetAddInModule()
{
    const HMODULE named = g_namedModule.load();
    return named != nullptr ? named : reinterpret_cast<HMODULE>(&__ImageBase);
}

void SetAddInModule(HMODULE module)
{
    g_namedModule.store(module);
}
