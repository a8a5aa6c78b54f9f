#pragma once
#include <windows.h>

// Owns one kernel handle and closes it when it goes; null and
// INVALID_HANDLE_VALUE both mean "no handle".
class CScopedHandle
{
public:
    CScopedHandle() = default;
    explicit CScopedHandle(HANDLE handle) : m_handle(handle) {}
    ~CScopedHandle() { Close(); }
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;

    HANDLE Get() const { return m_handle; }
    bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    // Gives up ownership without closing.
    HANDLE Release()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    // Closes the handle held and takes ownership of another.
    void Reset(HANDLE handle)
    {
        Close();
        m_handle = handle;
    }
    // Closes the handle now; false (last error set) when CloseHandle failed.
    bool Close()
    {
        if (!IsValid())
        {
            m_handle = nullptr;
            return true;
        }
        const BOOL closed = CloseHandle(m_handle);
        m_handle = nullptr;
        return closed != FALSE;
    }

private:
    HANDLE m_handle = nullptr;
};
