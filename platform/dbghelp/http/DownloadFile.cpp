#include "DownloadFile.h"

#include <cstdio>

namespace
{
constexpr size_t kMaxWrite = 64 * 1024;
constexpr DWORD kRenameAttempts = 5;

volatile LONG g_fileCounter = 0;
} // namespace

CDownloadFile::~CDownloadFile()
{
    Discard();
}

bool CDownloadFile::Create(const std::string& target)
{
    char suffix[64];
    snprintf(suffix, sizeof(suffix), ".tmp-%lu-%lu-%ld", GetCurrentProcessId(), GetCurrentThreadId(),
             InterlockedIncrement(&g_fileCounter));
    m_path = target + suffix;
    // CREATE_NEW: a leftover of the same name is refused, not reused.
    m_handle = CreateFileA(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_error = GetLastError();
    return m_handle != INVALID_HANDLE_VALUE;
}

bool CDownloadFile::Write(const char* data, size_t size)
{
    while (size > 0)
    {
        DWORD written = 0;
        const DWORD part = static_cast<DWORD>(size < kMaxWrite ? size : kMaxWrite);
        if (!WriteFile(m_handle, data, part, &written, nullptr) || written != part)
        {
            m_error = GetLastError();
            return false;
        }
        data += part;
        size -= part;
    }
    return true;
}

bool CDownloadFile::Commit(const std::string& target)
{
    const BOOL flushed = FlushFileBuffers(m_handle);
    if (!flushed)
        m_error = GetLastError();
    CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    if (!flushed)
        return false;
    // Another thread may be moving its download of the same file into place
    // at this instant, or a reader may hold the old file open for a moment:
    // both refuse the rename with access denied or a sharing violation. A few
    // short retries (150 ms at most) ride that out.
    for (DWORD attempt = 1;; ++attempt)
    {
        if (MoveFileExA(m_path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            break;
        m_error = GetLastError();
        if ((m_error != ERROR_ACCESS_DENIED && m_error != ERROR_SHARING_VIOLATION) || attempt == kRenameAttempts)
            return false;
        Sleep(10 * attempt);
    }
    m_path.clear();
    return true;
}

void CDownloadFile::Discard()
{
    if (m_handle != INVALID_HANDLE_VALUE)
        CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    if (!m_path.empty())
        DeleteFileA(m_path.c_str());
    m_path.clear();
}
