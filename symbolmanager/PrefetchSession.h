#pragma once
#include <windows.h>

#include <string>

#include "SymbolPrefetch.h"

// The prefetch's way into the symbol library: SymFindFileInPath in the
// symbol engine's own library session, so that the prefetch and the images'
// own requests share one session's state (which servers are offline, open
// connections, the download of a key in flight). The library reports nothing
// of such a search to the session's callback, so the log of an image's
// request holds only its own lines. It takes no lock of the engine's, and the
// library searches without holding its own: an image's request waits for a
// prefetch download only when both want the same file.
class CPrefetchSession
{
public:
    CPrefetchSession();

    // The file lands in the downstream store of symbolPath; true when found.
    bool Fetch(const std::string& symbolPath, const CSymbolPrefetch::Target& target) const;

private:
    HANDLE m_process;
};
