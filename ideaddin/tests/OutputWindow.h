#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A window on the creating thread that stands in for the add-in's worker
// window: the target of CCallGuiThread while it exists, it collects the texts
// of WM_OUTPUTSTRING and splits them into lines, as the output window shows
// them. On destruction it clears the target and frees what is still queued.
class COutputWindow
{
public:
    COutputWindow();
    ~COutputWindow();
    COutputWindow(const COutputWindow&) = delete;
    COutputWindow& operator=(const COutputWindow&) = delete;

    HWND Handle() const { return m_window; }
    // The texts received so far, one per message, and their lines.
    const std::vector<std::string>& Texts() const { return m_texts; }
    const std::vector<std::string>& Lines() const { return m_lines; }
    // Dispatches this thread's messages until done() holds or timeoutMs has
    // passed; done() is asked again whenever a message comes or, when given,
    // the handle is signalled.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, HANDLE wake = nullptr);
    // Dispatches what is queued now.
    void PumpPending();
    // Called for each text as it arrives.
    std::function<void(const std::string&)> OnText;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    std::vector<std::string> m_texts;
    std::vector<std::string> m_lines;
};
