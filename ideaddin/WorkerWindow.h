#pragma once
#include <windows.h>

#include <string>
#include <vector>

class CIdeAddIn;

// Asks the worker window to add the add-in's toolbar button; wParam and lParam 0.
constexpr UINT WM_ADDTOOLBAR = WM_USER + 1;

// A hidden top-level window on the IDE's GUI thread that runs work there when
// asked by a posted message: adding the toolbar button (WM_ADDTOOLBAR), and
// printing the text that CCallGuiThread posts from any thread
// (WM_OUTPUTSTRING), line by line in the IDE's output window. While it exists
// it is CCallGuiThread's target.
class CWorkerWindow
{
public:
    explicit CWorkerWindow(CIdeAddIn* addIn) : m_addIn(addIn) {}
    ~CWorkerWindow();
    CWorkerWindow(const CWorkerWindow&) = delete;
    CWorkerWindow& operator=(const CWorkerWindow&) = delete;

    // Creates the window, registering its class the first time; false (error
    // traced) when it cannot be created.
    bool Create();
    // Destroys the window, if there is one; false when DestroyWindow failed.
    bool Destroy();
    HWND GetHandle() const { return m_window; }
    // True while the handle names a live window.
    bool Exists() const { return m_window != nullptr && IsWindow(m_window); }

    // Posts WM_ADDTOOLBAR to the window.
    bool RequestAddToolbar();

    // The lines of an output text: split at "\n", empty lines dropped, a last
    // line without "\n" kept. The output window takes at most kMaxLine
    // characters a line: a longer line comes in pieces of that length, and
    // the lines after it follow.
    static const size_t kMaxLine = 1023;
    static std::vector<std::string> SplitOutputLines(const std::string& text);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCreate(HWND window);
    LRESULT OnDestroy(HWND window);
    LRESULT OnAddToolbar();
    LRESULT OnOutputString(WPARAM wParam);

    HWND m_window = nullptr;
    CIdeAddIn* m_addIn;
};
