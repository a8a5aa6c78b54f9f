#include "PrefetchSession.h"

#include <dbghelp.h>

#include <cstring>

// The engine's session is keyed by this pseudo-handle (SymInitialize in CSymbolEngine::Init).
CPrefetchSession::CPrefetchSession() : m_process(GetCurrentProcess())
{
}

bool CPrefetchSession::Fetch(const std::string& symbolPath, const CSymbolPrefetch::Target& target) const
{
    char found[MAX_PATH] = {};
    GUID guid;
    static_assert(sizeof(guid) == 16, "GUID as stored");
    memcpy(&guid, target.guid.data(), sizeof(guid));
    PVOID id =
        target.byGuid ? static_cast<PVOID>(&guid) : reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(target.value));
    const DWORD flags = target.byGuid ? SSRVOPT_GUIDPTR : SSRVOPT_DWORD;
    return SymFindFileInPath(m_process, symbolPath.c_str(), target.fileName.c_str(), id, target.two, 0, flags, found,
                             nullptr, nullptr) != FALSE;
}
