#pragma once
#include <windows.h>

// Owns one unnamed manual-reset event, created non-signalled, and keeps the
// error code of its own last failed operation.
class CManualResetEvent
{
public:
    CManualResetEvent();
    ~CManualResetEvent();
    CManualResetEvent(const CManualResetEvent&) = delete;
    CManualResetEvent& operator=(const CManualResetEvent&) = delete;

    // False, with the error recorded, when the event is missing (error 6) or
    // the platform call failed.
    bool Set();
    bool Reset();
    void Close();

    // Null when creation failed.
    HANDLE GetHandle() const { return m_handle; }
    DWORD GetError() const { return m_error; }

private:
    bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }

    HANDLE m_handle;
    DWORD m_error;
};
