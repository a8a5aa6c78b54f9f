#include "WorkerWindow.h"

#include <algorithm>

#include "AddInModule.h"
#include "AppEngine.h"
#include "CallGuiThread.h"
#include "IdeAddIn.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

const char kClassName[] = "Quillmar Worker Window Class";

} // namespace

CWorkerWindow::~CWorkerWindow()
{
    Destroy();
}

bool CWorkerWindow::Create()
{
    const HINSTANCE instance = GetAddInModule();
    WNDCLASSA existing;
    if (!GetClassInfoA(instance, kClassName, &existing))
    {
        WNDCLASSA windowClass = {};
        windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
        windowClass.lpfnWndProc = &CWorkerWindow::WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
        windowClass.lpszClassName = kClassName;
        RegisterClassA(&windowClass);
    }
    // Top-level, never shown: no parent, no title, an empty rectangle.
    m_window = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, instance, this);
    if (m_window == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "CreateWindow() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    return true;
}

bool CWorkerWindow::Destroy()
{
    if (m_window == nullptr)
        return true;
    const HWND window = m_window;
    m_window = nullptr;
    if (!DestroyWindow(window))
    {
        TraceMessage(TRACE_ERROR, 0, "DestroyWindow() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    // A class that a DLL registered outlives the DLL: with the module
    // unloaded and loaded again, its window procedure would be stale.
    UnregisterClassA(kClassName, GetAddInModule());
    return true;
}

bool CWorkerWindow::RequestAddToolbar()
{
    CTraceScope scope("CWorkerWindow::RequestAddToolbar()\n", 0);
    if (m_window == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Window does not exist.\n");
        return false;
    }
    if (!IsWindow(m_window))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Window is not valid.\n");
        return false;
    }
    if (!PostMessageA(m_window, WM_ADDTOOLBAR, 0, 0))
    {
        TraceMessage(TRACE_ERROR, 0, "PostMessage() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

std::vector<std::string> CWorkerWindow::SplitOutputLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        for (size_t piece = start; piece < end; piece += kMaxLine)
            lines.push_back(text.substr(piece, std::min(kMaxLine, end - piece)));
        start = end + 1;
    }
    return lines;
}

LRESULT CALLBACK CWorkerWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    CWorkerWindow* self = reinterpret_cast<CWorkerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr)
    {
        switch (message)
        {
        case WM_CREATE:
            return self->OnCreate(window);
        case WM_DESTROY:
            return self->OnDestroy(window);
        case WM_ADDTOOLBAR:
            return self->OnAddToolbar();
        case WM_OUTPUTSTRING:
            return self->OnOutputString(wParam);
        default:
            break;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CWorkerWindow::OnCreate(HWND window)
{
    CTraceScope scope("CWorkerWindow::OnCreate()\n", 0);
    CCallGuiThread::SetTargetWindow(window);
    return 0;
}

LRESULT CWorkerWindow::OnDestroy(HWND window)
{
    CTraceScope scope("CWorkerWindow::OnDestroy()\n", 0);
    CCallGuiThread::SetTargetWindow(nullptr);
    // Texts already posted die with the window: their buffers are freed here.
    CCallGuiThread::DiscardQueuedOutput(window);
    return 0;
}

LRESULT CWorkerWindow::OnAddToolbar()
{
    CTraceScope scope("CWorkerWindow::OnAddToolbar()\n", 0);
    if (m_addIn == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "AddIn object pointer is null.\n");
        return 0;
    }
    if (!m_addIn->AddToolbarButton())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "CIdeAddIn::AddToolbar() failed.\n");
        return 0;
    }
    CAppEngine::SetToolbarAdded(true);
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return 0;
}

LRESULT CWorkerWindow::OnOutputString(WPARAM wParam)
{
    CTraceScope scope("CWorkerWindow::OnOutputString()\n", 0);
    if (wParam == 0)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "String pointer is null.\n");
        return 0;
    }
    TraceMessage(TRACE_INFO, 0, "pStr: %p\n", reinterpret_cast<void*>(wParam));
    TraceMessage(TRACE_INFO, 0, "%s", "Deleting the string...\n");
    const std::string text = CCallGuiThread::TakeOutputString(wParam);
    if (text.empty())
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Empty string.\n");
        return 0;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Parsing the string...\n");
    const std::vector<std::string> lines = SplitOutputLines(text);
    if (lines.empty())
    {
        TraceMessage(TRACE_INFO, 0, "%s", "No strings.\n");
        return 0;
    }
    TraceMessage(TRACE_INFO, 0, "Strings: %u\n", static_cast<unsigned>(lines.size()));
    if (m_addIn == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "AddIn object pointer is null.\n");
        return 0;
    }
    for (const std::string& line : lines)
    {
        if (!m_addIn->OutputString(line))
            TraceMessage(TRACE_ERROR, 0, "%s", "CIdeAddIn::OutputString() failed.\n");
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return 0;
}
