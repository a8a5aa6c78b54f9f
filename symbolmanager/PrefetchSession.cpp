#include "PrefetchSession.h"

#include <dbghelp.h>

#include "Trace.h"

CPrefetchSession::CPrefetchSession()
{
    // A real handle of this process, unlike the engine's pseudo-handle: the
    // library keys its sessions by handle value.
    HANDLE handle = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &handle, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
    {
        TraceMessage(TRACE_ERROR, 0, "DuplicateHandle() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return;
    }
    m_handle.Reset(handle);
    m_open = SymInitialize(m_handle.Get(), nullptr, FALSE) != FALSE;
    if (!m_open)
        TraceMessage(TRACE_ERROR, 0, "SymInitialize() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
}

CPrefetchSession::~CPrefetchSession()
{
    if (m_open && !SymCleanup(m_handle.Get()))
        TraceMessage(TRACE_ERROR, 0, "SymCleanup() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
}

bool CPrefetchSession::Fetch(const std::string& symbolPath, const CSymbolPrefetch::Target& target)
{
    if (!m_open)
        return false;
    char found[MAX_PATH] = {};
    GUID guid;
    static_assert(sizeof(guid) == 16, "GUID as stored");
    memcpy(&guid, target.guid.data(), sizeof(guid));
    PVOID id = target.byGuid ? static_cast<PVOID>(&guid) : reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(target.value));
    const DWORD flags = target.byGuid ? SSRVOPT_GUIDPTR : SSRVOPT_DWORD;
    return SymFindFileInPath(m_handle.Get(), symbolPath.c_str(), target.fileName.c_str(), id, target.two, 0, flags,
                             found, nullptr, nullptr) != FALSE;
}
