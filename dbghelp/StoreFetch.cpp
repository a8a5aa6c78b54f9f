#include "StoreFetch.h"

#include <windows.h>

#include <vector>

#include "CabinetExpander.h"
#include "FilePath.h"
#include "HttpClient.h"
#include "MappedFile.h"
#include "MissCache.h"
#include "PointerFile.h"
#include "TempFile.h"

namespace
{
const char kSymsrv[] = "SYMSRV:  ";
const char kPointerName[] = "file.ptr";

std::string JoinUrl(const std::string& base, const std::string& part)
{
    if (!base.empty() && base.back() == '/')
        return base + part;
    return base + "/" + part;
}

std::string Decimal(unsigned long long value)
{
    return std::to_string(value);
}

std::string FileSizeText(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return "?";
    return Decimal((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// A cabinet of a file within the bound is at most this large: each data
// block of up to 32 KB costs at most 15 bytes of framing, plus the headers.
uint64_t MaxCabinetBytes(uint64_t maxFileBytes)
{
    return maxFileBytes + maxFileBytes / 2048 + 65536;
}

std::string WhyUnreadable(DWORD error, const char* tooLarge)
{
    switch (error)
    {
    case ERROR_FILE_TOO_LARGE:
        return tooLarge;
    case ERROR_HANDLE_EOF:
        return "it is empty";
    default:
        return "it cannot be read (error " + Decimal(error) + ")";
    }
}
} // namespace

CStoreFetch::CStoreFetch(const Settings& settings, const std::string& fileName, const std::string& storeKey,
                         const Check& check)
    : m_settings(settings), m_fileName(fileName), m_storeKey(storeKey), m_check(check)
{
}

void CStoreFetch::Emit(const std::string& line)
{
    if (m_settings.diagnostic)
        m_settings.diagnostic(line);
}

std::string CStoreFetch::CompressedName(const std::string& fileName)
{
    if (fileName.empty() || fileName.back() == '_')
        return std::string();
    return fileName.substr(0, fileName.size() - 1) + "_";
}

std::string CStoreFetch::Entry(const std::string& store, const std::string& leaf) const
{
    return CFilePath::Join(CFilePath::Join(CFilePath::Join(store, m_fileName), m_storeKey), leaf);
}

std::string CStoreFetch::FromLocal(const std::string& store, const std::string& downstream)
{
    const std::string plain = CFilePath::Full(Entry(store, m_fileName));
    const std::string directory = CFilePath::Directory(plain);
    if (CFilePath::FileExists(plain))
    {
        // Checked where it lies, so that no mismatched file lands downstream.
        if (!m_check(plain, plain))
            return std::string();
        return Place(plain, downstream);
    }
    const std::string compressed = CompressedName(m_fileName);
    if (!compressed.empty() && CFilePath::FileExists(directory + compressed))
        return Expand(directory + compressed, directory + compressed, downstream);
    if (CFilePath::FileExists(directory + kPointerName))
        return FollowPointer(directory + kPointerName, directory + kPointerName, downstream);
    Emit(kSymsrv + plain + " - file not found\n");
    return std::string();
}

std::string CStoreFetch::Place(const std::string& source, const std::string& downstream)
{
    if (downstream.empty())
        return source;
    const std::string target = Entry(downstream, m_fileName);
    DWORD error = 0;
    CTempFile copy;
    if (!CFilePath::EnsureDirectory(target, error) || !copy.Create(target) || !copy.CopyFrom(source) || !copy.Commit())
    {
        Emit(kSymsrv + target + " - copy failed, using " + source + "\n");
        return source;
    }
    Emit(kSymsrv + source + " copied to " + target + " (" + FileSizeText(target) + " bytes)\n");
    return target;
}

std::string CStoreFetch::Expand(const std::string& cabinet, const std::string& shown, const std::string& downstream)
{
    const std::string target = Entry(downstream.empty() ? m_settings.defaultStore : downstream, m_fileName);
    CMappedFile source;
    if (!source.OpenByName(cabinet, MaxCabinetBytes(m_settings.maxFileBytes)))
    {
        Emit(kSymsrv + shown +
             " - refused: " + WhyUnreadable(source.GetError(), "it is larger than MaxFileBytes allows") + "\n");
        return std::string();
    }
    DWORD error = 0;
    CTempFile file;
    if (!CFilePath::EnsureDirectory(target, error) || !file.Create(target))
    {
        Emit(kSymsrv + target + " - cannot be written (error " + Decimal(error != 0 ? error : file.GetError()) + ")\n");
        return std::string();
    }
    std::string why;
    if (!CCabinetExpander::Expand(source.Data(), source.Size(), m_fileName, m_settings.maxFileBytes, file, why))
    {
        Emit(kSymsrv + shown + " - refused: " + why + "\n");
        return std::string();
    }
    source.Close();
    Emit(kSymsrv + shown + " expanded to " + target + " (" + FileSizeText(file.Path()) + " bytes)\n");
    return Keep(file, target);
}

std::string CStoreFetch::Keep(CTempFile& file, const std::string& target)
{
    if (!m_check(file.Path(), target))
        return std::string();
    if (file.Commit())
        return target;
    // Another process may be placing the same file at this instant.
    const DWORD error = file.GetError();
    if (CFilePath::FileExists(target) && m_check(target, target))
        return target;
    Emit(kSymsrv + target + " - cannot be written (error " + Decimal(error) + ")\n");
    return std::string();
}

std::string CStoreFetch::FollowPointer(const std::string& pointer, const std::string& shown,
                                       const std::string& downstream)
{
    CPointerFile parsed;
    {
        CMappedFile file;
        if (!file.OpenByName(pointer, CPointerFile::kMaxSize))
        {
            Emit(kSymsrv + shown +
                 " - refused: " + WhyUnreadable(file.GetError(), "it is longer than any real pointer") + "\n");
            return std::string();
        }
        if (!parsed.Parse(file.Data(), file.Size()))
        {
            Emit(kSymsrv + shown + " - refused: " + parsed.GetError() + "\n");
            return std::string();
        }
    }
    if (parsed.GetKind() == CPointerFile::Message)
    {
        Emit(kSymsrv + shown + " - the store says: " + parsed.GetText() + "\n");
        return std::string();
    }
    const std::string& path = parsed.GetText();
    std::string why;
    if (!CFilePath::IsPlainAbsolutePath(path, why))
    {
        Emit(kSymsrv + shown + " - refused: the pointer names " + why + "\n");
        return std::string();
    }
    if (!CFilePath::FileExists(path))
    {
        Emit(kSymsrv + path + " - file not found (named by " + shown + ")\n");
        return std::string();
    }
    if (!m_check(path, path))
        return std::string();
    return Place(path, downstream);
}

std::string CStoreFetch::FromHttp(const std::string& store, const std::string& downstream)
{
    const std::string base = JoinUrl(JoinUrl(store, m_fileName), m_storeKey);
    const std::string url = JoinUrl(base, m_fileName);
    if (m_settings.http == nullptr || downstream.empty())
    {
        Emit(kSymsrv + url + " - no downstream store to download into\n");
        return std::string();
    }
    const CMissCache misses(downstream, m_settings.missSeconds);
    DWORD age = 0;
    if (misses.IsRemembered(url, age))
    {
        Emit(kSymsrv + url + " - file not found " + Decimal(age) + " s ago; not asked again yet\n");
        return std::string();
    }
    const std::string target = Entry(downstream, m_fileName);
    DWORD error = 0;
    if (!CFilePath::EnsureDirectory(target, error))
    {
        Emit(kSymsrv + target + " - cannot create the directory\n");
        return std::string();
    }

    // Each form is downloaded under a temporary name of its own beside the
    // target (the download replaces the empty file made for it). All forms
    // are asked at once; the first found, in the order above, is used.
    const HttpDiag relay = [this](const std::string& line)
    { Emit(line.compare(0, 8, "SYMSRV: ") == 0 ? line : kSymsrv + line); };
    const std::string compressed = CompressedName(m_fileName);
    CTempFile files[3];
    std::vector<CHttpClient::Probe> probes;
    for (const std::string& leaf : {m_fileName, compressed, std::string(kPointerName)})
    {
        if (leaf.empty())
            continue;
        CTempFile& into = files[probes.size()];
        if (!into.Create(target) || !into.Close())
        {
            Emit(kSymsrv + target + " - cannot be written (error " + Decimal(into.GetError()) + ")\n");
            return std::string();
        }
        CHttpClient::Probe probe;
        probe.url = leaf == m_fileName ? url : JoinUrl(base, leaf);
        probe.targetPath = into.Path();
        probes.push_back(probe);
    }

    size_t answered = 0;
    const HttpResult outcome = m_settings.http->DownloadFirst(probes, relay, answered);
    if (answered == probes.size())
    {
        misses.Remember(url);
        Emit(kSymsrv + url + " - file not found\n");
        return std::string();
    }
    const std::string& from = probes[answered].url;
    switch (outcome)
    {
    case HttpResult::Ok:
        break;
    case HttpResult::Offline:
        Emit(kSymsrv + from + " - server skipped (offline)\n");
        return std::string();
    case HttpResult::TimedOut:
        Emit(kSymsrv + from + " - timed out\n");
        return std::string();
    case HttpResult::Unreachable:
        Emit(kSymsrv + from + " - server unreachable\n");
        return std::string();
    default:
        Emit(kSymsrv + from + " - download failed\n");
        return std::string();
    }
    if (answered == 0)
    {
        Emit(kSymsrv + url + " downloaded to " + target + " (" + Decimal(probes[0].bytes) + " bytes)\n");
        return Keep(files[0], target);
    }
    if (from == probes.back().url)
        return FollowPointer(files[answered].Path(), from, downstream);
    return Expand(files[answered].Path(), from, downstream);
}
