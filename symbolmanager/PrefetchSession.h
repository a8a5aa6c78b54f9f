#pragma once
#include <windows.h>

#include <string>

#include "ScopedHandle.h"
#include "SymbolPrefetch.h"

// A symbol library session of its own for prefetching: its own handle, so
// that nothing it does (settings, diagnostics) reaches the symbol engine's
// session and the log of an image's request, and SymCleanup ends whatever
// it still holds (connections) when it goes.
class CPrefetchSession
{
public:
    CPrefetchSession();
    ~CPrefetchSession();
    CPrefetchSession(const CPrefetchSession&) = delete;
    CPrefetchSession& operator=(const CPrefetchSession&) = delete;

    bool IsOpen() const { return m_open; }
    // SymFindFileInPath along symbolPath: the file lands in its downstream store.
    bool Fetch(const std::string& symbolPath, const CSymbolPrefetch::Target& target);

private:
    CScopedHandle m_handle;
    bool m_open = false;
};
