#include "MissCache.h"

#include <cstdint>
#include <cstdio>

#include "FilePath.h"
#include "ScopedHandle.h"
#include "TempFile.h"

namespace
{
// A record holds one URL; anything longer is not a record of ours.
const DWORD kMaxRecordSize = 4096;
const ULONGLONG kTicksPerSecond = 10000000ull;

// Symbol servers take names without regard to case, so the URL is folded
// (ASCII letters) before it is hashed or compared.
std::string Folded(const std::string& url)
{
    std::string folded = url;
    for (char& c : folded)
    {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

// FNV-1a, 64 bits: spreads the names over the directory; a collision only
// makes two URLs share a record, which the stored URL then tells apart.
uint64_t Hash(const std::string& text)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text)
    {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

ULONGLONG ToTicks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}
} // namespace

CMissCache::CMissCache(const std::string& downstream, DWORD seconds)
    : m_directory(downstream.empty() ? std::string() : Directory(downstream)), m_seconds(seconds)
{
}

std::string CMissCache::Directory(const std::string& downstream)
{
    return CFilePath::Join(downstream, "000misses");
}

std::string CMissCache::RecordPath(const std::string& url) const
{
    char name[32];
    snprintf(name, sizeof(name), "%016llx.miss", static_cast<unsigned long long>(Hash(Folded(url))));
    return CFilePath::Join(m_directory, name);
}

bool CMissCache::IsRemembered(const std::string& url, DWORD& age) const
{
    age = 0;
    if (m_seconds == 0 || m_directory.empty())
        return false;
    // FILE_SHARE_DELETE: a writer may rename its record over this one meanwhile.
    CScopedHandle file(CreateFileA(RecordPath(url).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    FILETIME written = {};
    char text[kMaxRecordSize];
    DWORD size = 0;
    if (!GetFileTime(file.Get(), nullptr, nullptr, &written) ||
        !ReadFile(file.Get(), text, sizeof(text), &size, nullptr) || size == sizeof(text) ||
        Folded(std::string(text, size)) != Folded(url))
        return false;
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    // A record from the future (the clock was turned back) counts by its distance.
    const ULONGLONG recorded = ToTicks(written);
    const ULONGLONG current = ToTicks(now);
    const ULONGLONG elapsed = current >= recorded ? current - recorded : recorded - current;
    if (elapsed >= m_seconds * kTicksPerSecond)
        return false;
    age = static_cast<DWORD>(elapsed / kTicksPerSecond);
    return true;
}

void CMissCache::Remember(const std::string& url) const
{
    if (m_seconds == 0 || m_directory.empty() || url.size() >= kMaxRecordSize)
        return;
    const std::string path = RecordPath(url);
    DWORD error = 0;
    CTempFile record;
    if (CFilePath::EnsureDirectory(path, error) && record.Create(path) && record.Write(url.data(), url.size()))
        record.Commit();
}
