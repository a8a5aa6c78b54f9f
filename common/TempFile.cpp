#include "TempFile.h"

#include <cstdio>

namespace
{

volatile LONG g_tempFileCounter = 0;

// A rename that meets another writer or a reader of the target is retried
// this often, 10 ms longer each time (150 ms at most).
const DWORD kRenameAttempts = 5;

} // namespace

bool CTempFile::Fail()
{
    m_error = GetLastError();
    return false;
}

bool CTempFile::Create(const std::string& target)
{
    Discard();
    char suffix[64];
    snprintf(suffix, sizeof(suffix), ".%lx-%lx-%lx.tmp", GetCurrentProcessId(), GetCurrentThreadId(),
             static_cast<unsigned long>(InterlockedIncrement(&g_tempFileCounter)));
    const std::string path = target + suffix;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail();
    m_file.Reset(file);
    m_path = path;
    m_target = target;
    m_error = 0;
    return true;
}

bool CTempFile::Write(const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0)
    {
        const DWORD part = static_cast<DWORD>(size < 0x10000000u ? size : 0x10000000u);
        DWORD written = 0;
        if (!WriteFile(m_file.Get(), bytes, part, &written, nullptr))
            return Fail();
        if (written != part)
        {
            m_error = ERROR_WRITE_FAULT;
            return false;
        }
        bytes += part;
        size -= part;
    }
    return true;
}

bool CTempFile::CopyFrom(const std::string& source)
{
    m_file.Close();
    if (m_path.empty())
    {
        m_error = ERROR_INVALID_HANDLE;
        return false;
    }
    return CopyFileA(source.c_str(), m_path.c_str(), FALSE) ? true : Fail();
}

bool CTempFile::Close()
{
    if (m_path.empty())
    {
        m_error = ERROR_INVALID_HANDLE;
        return false;
    }
    if (m_file.IsValid() && !FlushFileBuffers(m_file.Get()))
        return Fail();
    return m_file.Close() ? true : Fail();
}

bool CTempFile::Commit()
{
    if (!Close())
        return false;
    for (DWORD attempt = 1;; ++attempt)
    {
        if (MoveFileExA(m_path.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            break;
        m_error = GetLastError();
        if ((m_error != ERROR_ACCESS_DENIED && m_error != ERROR_SHARING_VIOLATION) || attempt == kRenameAttempts)
            return false;
        Sleep(10 * attempt);
    }
    m_path.clear();
    m_target.clear();
    return true;
}

void CTempFile::Discard()
{
    m_file.Close();
    if (!m_path.empty())
        DeleteFileA(m_path.c_str());
    m_path.clear();
    m_target.clear();
}
