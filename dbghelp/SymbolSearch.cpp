#include "SymbolSearch.h"

#include <windows.h>

#include "ExclusionList.h"
#include "FilePath.h"
#include "SingleFlight.h"
#include "StoreFetch.h"

namespace
{
const char kDbghelp[] = "DBGHELP: ";
const char kSymsrv[] = "SYMSRV:  ";

// A recorded path is only ever opened for reading, but it still must be a
// plain path: no control characters, no more than the platform can name.
bool IsUsableRecordedPath(const std::string& path)
{
    if (path.empty() || path.size() >= MAX_PATH)
        return false;
    for (unsigned char c : path)
    {
        if (c < 0x20 || c == 0x7F || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
            return false;
    }
    return true;
}
} // namespace

CSymbolSearch::CSymbolSearch(const Settings& settings) : m_settings(settings)
{
}

void CSymbolSearch::Emit(const std::string& line)
{
    if (m_settings.diagnostic)
        m_settings.diagnostic(line);
}

CSymbolSearch::Result CSymbolSearch::Find(const Request& request)
{
    Result result;
    if (!CFilePath::IsSafeFileName(request.fileName))
    {
        Emit(std::string(kDbghelp) + "refused the symbol file name recorded in the image\n");
        return result;
    }
    if (IsUsableRecordedPath(request.recordedPath) && request.recordedPath != request.fileName &&
        TryCandidate(request, request.recordedPath, kDbghelp, result))
        return result;
    if (m_settings.path == nullptr)
        return result;

    std::string cache;
    for (const CSymbolPath::Entry& entry : m_settings.path->GetEntries())
    {
        switch (entry.kind)
        {
        case CSymbolPath::Entry::Directory:
            if (SearchDirectory(request, entry.directory, result))
                return result;
            break;
        case CSymbolPath::Entry::Cache:
            cache = entry.directory.empty() ? m_settings.defaultStore : entry.directory;
            if (TryCandidate(request, CFilePath::Full(StorePath(cache, request)), kSymsrv, result))
                return result;
            break;
        case CSymbolPath::Entry::Server:
            if (SearchServer(request, entry, cache, result))
                return result;
            break;
        }
    }
    return result;
}

bool CSymbolSearch::TryCandidate(const Request& request, const std::string& path, const char* prefix, Result& result)
{
    if (!CFilePath::FileExists(path))
    {
        Emit(prefix + path + " - file not found\n");
        return false;
    }
    return CheckCandidate(request, path, path, prefix, result);
}

bool CSymbolSearch::CheckCandidate(const Request& request, const std::string& path, const std::string& shown,
                                   const char* prefix, Result& result)
{
    const Verdict verdict = request.verify(path);
    switch (verdict.kind)
    {
    case Verdict::Match:
        Emit(prefix + shown + " - OK\n");
        result.matched = shown;
        return true;
    case Verdict::Mismatch:
        Emit(prefix + shown + " - mismatched " + verdict.reason + "\n");
        if (result.mismatched.empty() && prefix == kDbghelp)
            result.mismatched = shown;
        return false;
    case Verdict::Unreadable:
        break;
    }
    Emit(prefix + shown + " - unreadable or corrupt" + (verdict.reason.empty() ? "" : ": " + verdict.reason) + "\n");
    return false;
}

bool CSymbolSearch::SearchDirectory(const Request& request, const std::string& directory, Result& result)
{
    const std::string base = CFilePath::Full(directory);
    if (TryCandidate(request, CFilePath::Join(base, request.fileName), kDbghelp, result))
        return true;
    if (request.imageExtension.empty())
        return false;
    const std::string symbols = CFilePath::Join(CFilePath::Join(base, "symbols"), request.imageExtension);
    if (TryCandidate(request, CFilePath::Join(symbols, request.fileName), kDbghelp, result))
        return true;
    const std::string extension = CFilePath::Join(base, request.imageExtension);
    return TryCandidate(request, CFilePath::Join(extension, request.fileName), kDbghelp, result);
}

std::string CSymbolSearch::StorePath(const std::string& store, const Request& request) const
{
    return CFilePath::Join(CFilePath::Join(CFilePath::Join(store, request.fileName), request.storeKey),
                           request.fileName);
}

bool CSymbolSearch::SearchServer(const Request& request, const CSymbolPath::Entry& entry, const std::string& cache,
                                 Result& result)
{
    if (m_settings.exclusions != nullptr && m_settings.exclusions->IsExcluded(request.fileName))
    {
        Emit(std::string(kSymsrv) + request.fileName + " - excluded by symsrv.ini\n");
        return false;
    }

    std::string downstream;
    if (entry.hasDownstream)
        downstream = entry.downstream.empty() ? m_settings.defaultStore : entry.downstream;
    else if (!cache.empty())
        downstream = cache;
    else if (!entry.upstreams.empty() && CFilePath::IsHttpUrl(entry.upstreams.front()))
        downstream = m_settings.defaultStore;
    if (CFilePath::IsHttpUrl(downstream))
        downstream.clear();
    if (!downstream.empty())
    {
        downstream = CFilePath::Full(downstream);
        if (TryCandidate(request, StorePath(downstream, request), kSymsrv, result))
            return true;
    }

    CStoreFetch::Settings settings;
    settings.http = m_settings.http;
    settings.diagnostic = m_settings.diagnostic;
    settings.maxFileBytes = m_settings.maxFileBytes;
    settings.missSeconds = m_settings.missSeconds;
    settings.defaultStore = m_settings.defaultStore;
    CStoreFetch fetch(settings, request.fileName, request.storeKey,
                      [this, &request](const std::string& path, const std::string& shown)
                      {
                          Result checked;
                          return CheckCandidate(request, path, shown, kSymsrv, checked);
                      });
    const std::string placed = downstream.empty() ? std::string() : StorePath(downstream, request);
    for (const std::string& store : entry.upstreams)
    {
        bool landed = false;
        const CSingleFlight::Work work = [&]
        {
            // Another thread's fetch of the file may have landed since the
            // look above, and ended before this one asked: its file, not a
            // second download.
            if (!placed.empty() && CFilePath::FileExists(placed) && request.verify(placed).kind == Verdict::Match)
            {
                landed = true;
                return placed;
            }
            return CFilePath::IsHttpUrl(store) ? fetch.FromHttp(store, downstream) : fetch.FromLocal(store, downstream);
        };
        bool shared = false;
        std::string found = m_settings.flights == nullptr
                                ? work()
                                : m_settings.flights->Run(store + "|" + downstream + "|" + request.fileName + "|" +
                                                              request.storeKey,
                                                          work, shared);
        // Another thread's file is checked as this request's own.
        Result checked;
        if ((shared || landed) && !found.empty() && !CheckCandidate(request, found, found, kSymsrv, checked))
            found.clear();
        result.matched = found;
        if (!result.matched.empty())
            return true;
    }
    return false;
}
