#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

// Output text posted to the target window: wParam is a NUL-terminated narrow
// string on the heap, owned by the window once the post succeeded; lParam 0.
constexpr UINT WM_OUTPUTSTRING = WM_USER + 2;

// Hands text from any thread to a window on the GUI thread without waiting:
// the text is copied and posted. Output is dropped (and traced) when there is
// no target window or the post fails.
class CCallGuiThread
{
public:
    CCallGuiThread() = delete;

    // Sets the target, or clears it with null.
    static void SetTargetWindow(HWND window);
    static void OutputString(const std::string& text);

    // For the target window's handler: the text a WM_OUTPUTSTRING carried,
    // whose buffer is freed here.
    static std::string TakeOutputString(WPARAM wParam);
    // For the target window as it goes away, on its own thread and after the
    // target has been cleared: frees the buffers of every WM_OUTPUTSTRING
    // still queued for it, which the system would otherwise drop with the
    // window. Returns how many there were.
    static size_t DiscardQueuedOutput(HWND window);
};
