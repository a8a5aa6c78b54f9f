#include "SymbolSearch.h"

#include <windows.h>

#include <cstdio>

#include "ExclusionList.h"
#include "FilePath.h"
#include "HttpClient.h"
#include "TempFile.h"

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

std::string JoinUrl(const std::string& base, const std::string& part)
{
    if (!base.empty() && base.back() == '/')
        return base + part;
    return base + "/" + part;
}

std::string FileSizeText(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return "?";
    char text[32];
    snprintf(text, sizeof(text), "%llu",
             (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    return text;
}
}

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
    if (IsUsableRecordedPath(request.recordedPath) && request.recordedPath != request.fileName
        && TryCandidate(request, request.recordedPath, kDbghelp, result))
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

bool CSymbolSearch::TryCandidate(const Request& request, const std::string& path, const char* prefix,
                                 Result& result, bool reportMissing)
{
    if (!CFilePath::FileExists(path))
    {
        if (reportMissing)
            Emit(prefix + path + " - file not found\n");
        return false;
    }
    const Verdict verdict = request.verify(path);
    switch (verdict.kind)
    {
    case Verdict::Match:
        Emit(prefix + path + " - OK\n");
        result.matched = path;
        return true;
    case Verdict::Mismatch:
        Emit(prefix + path + " - mismatched " + verdict.reason + "\n");
        if (result.mismatched.empty() && prefix == kDbghelp)
            result.mismatched = path;
        return false;
    case Verdict::Unreadable:
        break;
    }
    Emit(prefix + path + " - unreadable or corrupt\n");
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

bool CSymbolSearch::SearchServer(const Request& request, const CSymbolPath::Entry& entry,
                                 const std::string& cache, Result& result)
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

    for (const std::string& store : entry.upstreams)
    {
        const bool found = CFilePath::IsHttpUrl(store) ? FetchHttp(request, store, downstream, result)
                                                       : FetchLocal(request, store, downstream, result);
        if (found)
            return true;
    }
    return false;
}

bool CSymbolSearch::FetchLocal(const Request& request, const std::string& store, const std::string& downstream,
                               Result& result)
{
    const std::string source = CFilePath::Full(StorePath(store, request));
    if (!CFilePath::FileExists(source))
    {
        Emit(kSymsrv + source + " - file not found\n");
        return false;
    }
    // Checked where it lies, so that no mismatched file lands downstream.
    Result local;
    if (!TryCandidate(request, source, kSymsrv, local))
        return false;
    if (downstream.empty())
    {
        result.matched = source;
        return true;
    }
    const std::string target = StorePath(downstream, request);
    if (!CopyIntoStore(source, target))
    {
        Emit(kSymsrv + target + " - copy failed, using " + source + "\n");
        result.matched = source;
        return true;
    }
    Emit(kSymsrv + source + " copied to " + target + " (" + FileSizeText(target) + " bytes)\n");
    result.matched = target;
    return true;
}

bool CSymbolSearch::CopyIntoStore(const std::string& source, const std::string& target)
{
    DWORD error = 0;
    if (!CFilePath::EnsureDirectory(target, error))
        return false;
    CTempFile copy;
    if (!copy.Create(target) || !copy.CopyFrom(source))
        return false;
    // A concurrent copy of the same file may have won the rename.
    return copy.Commit() || CFilePath::FileExists(target);
}

bool CSymbolSearch::FetchHttp(const Request& request, const std::string& store, const std::string& downstream,
                              Result& result)
{
    const std::string url
        = JoinUrl(JoinUrl(JoinUrl(store, request.fileName), request.storeKey), request.fileName);
    if (m_settings.http == nullptr || downstream.empty())
    {
        Emit(kSymsrv + url + " - no downstream store to download into\n");
        return false;
    }
    const std::string target = StorePath(downstream, request);
    DWORD error = 0;
    if (!CFilePath::EnsureDirectory(target, error))
    {
        Emit(kSymsrv + target + " - cannot create the directory\n");
        return false;
    }
    unsigned long long bytes = 0;
    const HttpDiag relay = [this](const std::string& line) {
        Emit(line.compare(0, 8, "SYMSRV: ") == 0 ? line : kSymsrv + line);
    };
    const HttpResult outcome = m_settings.http->Download(url, target, relay, &bytes);
    switch (outcome)
    {
    case HttpResult::Ok:
        break;
    case HttpResult::NotFound:
        Emit(kSymsrv + url + " - file not found\n");
        return false;
    case HttpResult::Offline:
        Emit(kSymsrv + url + " - server skipped (offline)\n");
        return false;
    case HttpResult::TimedOut:
        Emit(kSymsrv + url + " - timed out\n");
        return false;
    case HttpResult::Unreachable:
        Emit(kSymsrv + url + " - server unreachable\n");
        return false;
    default:
        Emit(kSymsrv + url + " - download failed\n");
        return false;
    }
    Emit(kSymsrv + url + " downloaded to " + target + " (" + std::to_string(bytes) + " bytes)\n");
    Result downloaded;
    if (TryCandidate(request, target, kSymsrv, downloaded))
    {
        result.matched = target;
        return true;
    }
    // A mismatched or corrupt download must not stay in the store under a key it does not fit.
    DeleteFileA(target.c_str());
    return false;
}
