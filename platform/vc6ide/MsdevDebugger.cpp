#include "MsdevDebugger.h"

#include <memory>

#include "ModulePath.h"

namespace
{

const char kWindowClass[] = "MsdevDebuggerOutput";
// A debugger line: wParam is a std::string on the heap, owned by the window.
const UINT WM_DEBUGGEROUTPUT = WM_APP + 1;
// How long the debugger waits for each event.
const DWORD kEventWaitMs = 10;

} // namespace

CMsdevDebugger::CMsdevDebugger(CMsdevOutput& output) : m_output(output)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = &CMsdevDebugger::WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);
    m_window =
        CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), this);
}

CMsdevDebugger::~CMsdevDebugger()
{
    if (m_packageLoaded)
        m_package.SetOutput(nullptr, nullptr);
    if (m_window != nullptr)
    {
        PumpMessages();
        DestroyWindow(m_window);
    }
}

bool CMsdevDebugger::LoadPackage()
{
    std::string dir;
    GetModulePathPart(dir, MODULE_PATH_DRIVE | MODULE_PATH_DIR, nullptr);
    const std::string path = dir + "DEVDBG.PKG";
    m_packageLoaded = m_package.Load(path);
    if (!m_packageLoaded)
    {
        m_output.Record("DEVDBG.PKG not loaded: no debugger");
        return false;
    }
    // The IDE keeps its package until it ends: an add-in may have hooked it.
    HMODULE pinned = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, path.c_str(), &pinned);
    m_package.SetOutput(&CMsdevDebugger::OnDebuggerOutput, this);
    return true;
}

bool CMsdevDebugger::Debug(const std::string& commandLine)
{
    if (!m_packageLoaded)
    {
        m_output.Record("no debugger");
        return false;
    }
    if (!m_debuggerLoaded)
    {
        if (!m_package.LoadDebugger())
        {
            m_output.Record("the debugger cannot be loaded: error " + std::to_string(GetLastError()));
            return false;
        }
        m_debuggerLoaded = true;
    }
    if (!m_package.StartDebug(commandLine, kEventWaitMs))
    {
        m_output.Record("cannot debug " + commandLine + ": error " + std::to_string(GetLastError()));
        return false;
    }
    m_output.Record("debugging " + commandLine);
    const DWORD start = GetTickCount();
    DEBUG_SESSION_RESULT result = {};
    while (!m_package.WaitDebugEnd(0, result))
    {
        PumpMessages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kEventWaitMs, QS_ALLINPUT);
    }
    PumpMessages();
    const DWORD elapsed = GetTickCount() - start;
    m_output.Record(
        "debugging ended: exit code " + std::to_string(result.exitCode) + ", " +
        std::to_string(result.eventsByCode[CREATE_PROCESS_DEBUG_EVENT] + result.eventsByCode[LOAD_DLL_DEBUG_EVENT]) +
        " images, " + std::to_string(elapsed) + " ms");
    return result.error == 0;
}

void WINAPI CMsdevDebugger::OnDebuggerOutput(void* debugger, LPCSTR line)
{
    const HWND window = static_cast<CMsdevDebugger*>(debugger)->m_window;
    std::unique_ptr<std::string> text(new std::string(line != nullptr ? line : ""));
    if (PostMessageA(window, WM_DEBUGGEROUTPUT, reinterpret_cast<WPARAM>(text.get()), 0))
        text.release();
}

LRESULT CALLBACK CMsdevDebugger::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (message == WM_DEBUGGEROUTPUT)
    {
        std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(wParam));
        CMsdevDebugger* self = reinterpret_cast<CMsdevDebugger*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr)
            self->m_output.PrintLine(*text);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void CMsdevDebugger::PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
