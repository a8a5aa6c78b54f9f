#include "CallGuiThread.h"

#include <cstring>
#include <mutex>
#include <new>

#include "CriticalSection.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

CCriticalSection g_lock;
HWND g_targetWindow = nullptr;

ULONG_PTR WindowValue(HWND window)
{
    return reinterpret_cast<ULONG_PTR>(window);
}

} // namespace

void CCallGuiThread::SetTargetWindow(HWND window)
{
    CTraceScope scope("CCallGuiThread::SetTargetWindow()\n", 0);
    TraceMessage(TRACE_INFO, 0, "TargetWnd: %Ix\n", WindowValue(window));
    std::lock_guard<CCriticalSection> lock(g_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    TraceMessage(TRACE_INFO, 0, "Old TargetWnd: %Ix\n", WindowValue(g_targetWindow));
    g_targetWindow = window;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CCallGuiThread::OutputString(const std::string& text)
{
    CTraceScope scope("CCallGuiThread::OutputString()\n", 0);
    TraceMessage(TRACE_INFO, 0, "Out: %s\n", text.c_str());
    if (text.empty())
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Empty string.\n");
        return;
    }
    std::lock_guard<CCriticalSection> lock(g_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    TraceMessage(TRACE_INFO, 0, "Wnd: %Ix\n", WindowValue(g_targetWindow));
    if (g_targetWindow == nullptr)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Target window is null.\n");
        return;
    }
    if (!IsWindow(g_targetWindow))
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Target window does not exist.\n");
        return;
    }
    char* buffer = new (std::nothrow) char[text.size() + 1];
    if (buffer == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Memory allocation failed.\n");
        return;
    }
    memcpy(buffer, text.c_str(), text.size() + 1);
    TraceMessage(TRACE_INFO, 0, "pStr: %p\n", static_cast<void*>(buffer));
    if (PostMessageA(g_targetWindow, WM_OUTPUTSTRING, reinterpret_cast<WPARAM>(buffer), 0))
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
        return;
    }
    TraceMessage(TRACE_ERROR, 0, "PostMessage() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
    delete[] buffer;
}

std::string CCallGuiThread::TakeOutputString(WPARAM wParam)
{
    char* buffer = reinterpret_cast<char*>(wParam);
    if (buffer == nullptr)
        return std::string();
    std::string text(buffer);
    delete[] buffer;
    return text;
}

size_t CCallGuiThread::DiscardQueuedOutput(HWND window)
{
    size_t count = 0;
    MSG message;
    while (PeekMessageA(&message, window, WM_OUTPUTSTRING, WM_OUTPUTSTRING, PM_REMOVE))
    {
        delete[] reinterpret_cast<char*>(message.wParam);
        ++count;
    }
    return count;
}
