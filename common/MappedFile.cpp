#include "MappedFile.h"

CMappedFile::CMappedFile() : m_size(0), m_error(0)
{
}

CMappedFile::~CMappedFile()
{
    Close();
}

void CMappedFile::Close()
{
    m_view.Unmap();
    m_size = 0;
    m_mapping.Close();
    m_file.Close();
}

bool CMappedFile::OpenByName(const std::string& path, uint64_t maxSize)
{
    Close();
    m_file.Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file.IsValid())
    {
        m_error = GetLastError();
        return false;
    }
    // A directory opens only with backup semantics, so this is a file.
    return Map(m_file.Get(), maxSize);
}

bool CMappedFile::OpenByHandle(HANDLE file, uint64_t maxSize)
{
    Close();
    return Map(file, maxSize);
}

bool CMappedFile::Map(HANDLE file, uint64_t maxSize)
{
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
    {
        m_error = GetLastError();
        Close();
        return false;
    }
    const uint64_t size = (static_cast<uint64_t>(high) << 32) | low;
    if (size == 0 || size > maxSize || size > SIZE_MAX)
    {
        m_error = size == 0 ? ERROR_HANDLE_EOF : ERROR_FILE_TOO_LARGE;
        Close();
        return false;
    }
    m_mapping.Reset(CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!m_mapping.IsValid())
    {
        m_error = GetLastError();
        Close();
        return false;
    }
    m_view.Reset(MapViewOfFile(m_mapping.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!m_view.IsValid())
    {
        m_error = GetLastError();
        Close();
        return false;
    }
    m_size = static_cast<size_t>(size);
    m_error = 0;
    return true;
}
