#include "ManualResetEvent.h"

CManualResetEvent::CManualResetEvent() : m_handle(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_error(0)
{
    if (!IsValid())
    {
        m_error = GetLastError();
        m_handle = nullptr;
    }
}

CManualResetEvent::~CManualResetEvent()
{
    Close();
}

bool CManualResetEvent::Set()
{
    if (!IsValid())
    {
        m_error = ERROR_INVALID_HANDLE;
        return false;
    }
    if (!SetEvent(m_handle))
    {
        m_error = GetLastError();
        return false;
    }
    return true;
}

bool CManualResetEvent::Reset()
{
    if (!IsValid())
    {
        m_error = ERROR_INVALID_HANDLE;
        return false;
    }
    if (!ResetEvent(m_handle))
    {
        m_error = GetLastError();
        return false;
    }
    return true;
}

void CManualResetEvent::Close()
{
    if (IsValid() && !CloseHandle(m_handle))
        m_error = GetLastError();
    m_handle = nullptr;
}
