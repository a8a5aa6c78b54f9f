#include "FileHandle.h"

CFileHandle::CFileHandle() : m_handle(nullptr)
{
}

CFileHandle::CFileHandle(HANDLE handle) : m_handle(handle)
{
}

CFileHandle::~CFileHandle()
{
    Reset();
}

bool CFileHandle::IsValid() const
{
    return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE;
}

void CFileHandle::Reset(HANDLE handle)
{
    if (IsValid())
        CloseHandle(m_handle);
    m_handle = handle;
}
