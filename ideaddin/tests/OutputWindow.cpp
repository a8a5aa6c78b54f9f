#include "OutputWindow.h"

#include "CallGuiThread.h"

namespace
{

const char kClassName[] = "Qx3TestOutputWindow";

} // namespace

COutputWindow::COutputWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = &COutputWindow::WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);
    m_window =
        CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), this);
    CCallGuiThread::SetTargetWindow(m_window);
}

COutputWindow::~COutputWindow()
{
    if (m_window != nullptr)
        DestroyWindow(m_window);
}

LRESULT CALLBACK COutputWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    COutputWindow* self = reinterpret_cast<COutputWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_OUTPUTSTRING && self != nullptr)
    {
        const std::string text = CCallGuiThread::TakeOutputString(wParam);
        self->m_texts.push_back(text);
        size_t start = 0;
        while (start < text.size())
        {
            size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end + 1;
            self->m_lines.push_back(text.substr(start, end - start));
            start = end;
        }
        if (self->OnText)
            self->OnText(text);
        return 0;
    }
    if (message == WM_DESTROY)
    {
        CCallGuiThread::SetTargetWindow(nullptr);
        CCallGuiThread::DiscardQueuedOutput(window);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void COutputWindow::PumpPending()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool COutputWindow::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, HANDLE wake)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        PumpPending();
        if (done())
            return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(wake != nullptr ? 1 : 0, &wake, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
    }
}
