#include "ErrorReport.h"

#include <mutex>

#include "CriticalSection.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

CCriticalSection g_lock;
std::string g_message;
DWORD g_code = 0;

} // namespace

void CErrorReport::SetErrorInfo(const std::string& message, DWORD code)
{
    CTraceScope scope("CErrorReport::SetErrorInfo()\n", 0);
    TraceMessage(TRACE_INFO, 0, "Message: %s\n", message.c_str());
    TraceMessage(TRACE_INFO, 0, "Code: %u\n", static_cast<unsigned>(code));
    std::lock_guard<CCriticalSection> lock(g_lock);
    g_message = message;
    g_code = code;
}

void CErrorReport::GetErrorInfo(std::string& message, DWORD& code)
{
    CTraceScope scope("CErrorReport::GetErrorInfo()\n", 0);
    {
        std::lock_guard<CCriticalSection> lock(g_lock);
        message = g_message;
        code = g_code;
    }
    TraceMessage(TRACE_INFO, 0, "Message: %s\n", message.c_str());
    TraceMessage(TRACE_INFO, 0, "Code: %u\n", static_cast<unsigned>(code));
}

void CErrorReport::ClearErrorInfo()
{
    CTraceScope scope("CErrorReport::ClearErrorInfo()\n", 0);
    SetErrorInfo(std::string(), 0);
}
