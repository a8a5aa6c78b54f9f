#pragma once
#include <windows.h>

// Owns a kernel file or mapping handle and closes it once. Both null and
// INVALID_HANDLE_VALUE count as "no handle".
class CFileHandle
{
public:
    CFileHandle();
    explicit CFileHandle(HANDLE handle);
    ~CFileHandle();
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;

    bool IsValid() const;
    HANDLE Get() const { return m_handle; }
    void Reset(HANDLE handle = nullptr);

private:
    HANDLE m_handle;
};
