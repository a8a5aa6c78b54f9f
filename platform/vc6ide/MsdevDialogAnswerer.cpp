#include "MsdevDialogAnswerer.h"

#include <process.h>

#include <cstring>
#include <vector>

namespace
{

// The static control that holds a message box's text.
const int kMessageBoxTextId = 0xFFFF;
// How often a wait for a dialog looks again.
const DWORD kPollMs = 10;
// How long one cross-thread message to the dialog may take.
const UINT kSendTimeoutMs = 5000;

struct DialogSearch
{
    const std::string* Caption;
    HWND Excluded;
    HWND Found;
};

std::string WindowText(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &length))
        return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_NORMAL,
                             kSendTimeoutMs, &copied))
        return std::string();
    text.resize(strlen(text.c_str()));
    return text;
}

bool IsDialogOfThisProcess(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != GetCurrentProcessId() || !IsWindowVisible(window))
        return false;
    char className[16] = {};
    GetClassNameA(window, className, sizeof(className));
    return strcmp(className, "#32770") == 0;
}

BOOL CALLBACK FindDialogProc(HWND window, LPARAM parameter)
{
    DialogSearch& search = *reinterpret_cast<DialogSearch*>(parameter);
    // A dialog that shows another modal one is disabled until that one ends.
    if (window == search.Excluded || !IsDialogOfThisProcess(window) || !IsWindowEnabled(window))
        return TRUE;
    if (search.Caption != nullptr)
    {
        char caption[256] = {};
        GetWindowTextA(window, caption, sizeof(caption));
        if (*search.Caption != caption)
            return TRUE;
    }
    search.Found = window;
    return FALSE;
}

bool IsButton(HWND control)
{
    char className[16] = {};
    GetClassNameA(control, className, sizeof(className));
    return _stricmp(className, "Button") == 0;
}

BOOL CALLBACK CheckMessageBoxChild(HWND child, LPARAM isBox)
{
    char className[16] = {};
    GetClassNameA(child, className, sizeof(className));
    const LONG type = GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK;
    if (_stricmp(className, "Static") == 0 ||
        (_stricmp(className, "Button") == 0 && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)))
        return TRUE;
    *reinterpret_cast<bool*>(isBox) = false;
    return FALSE;
}

// A message box: static texts and push buttons only, its text in the static
// control 0xFFFF. (A dialog built like one counts too.)
HWND MessageBoxText(HWND dialog)
{
    const HWND text = GetDlgItem(dialog, kMessageBoxTextId);
    char className[16] = {};
    if (text == nullptr || !GetClassNameA(text, className, sizeof(className)) || _stricmp(className, "Static") != 0)
        return nullptr;
    bool isBox = true;
    EnumChildWindows(dialog, CheckMessageBoxChild, reinterpret_cast<LPARAM>(&isBox));
    return isBox ? text : nullptr;
}

bool IsAutoRadio(HWND control)
{
    return IsButton(control) && (GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}

// The 24-bit pixels of a rectangle of the screen, bottom-up rows padded to
// four bytes, as a BMP file holds them; false when the copy fails.
bool CopyFromScreen(const RECT& rect, std::vector<BYTE>& pixels)
{
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return false;
    const HDC screen = GetDC(nullptr);
    if (screen == nullptr)
        return false;
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (memory != nullptr && bitmap != nullptr)
    {
        const HGDIOBJ old = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
        GdiFlush();
        if (copied)
        {
            const BYTE* first = static_cast<const BYTE*>(bits);
            pixels.assign(first, first + ((static_cast<size_t>(width) * 3 + 3) & ~size_t(3)) * height);
        }
        SelectObject(memory, old);
    }
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    if (memory != nullptr)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return copied;
}

bool WriteBitmapFile(const std::string& path, const RECT& rect, const std::vector<BYTE>& pixels)
{
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = rect.right - rect.left;
    header.biHeight = rect.bottom - rect.top;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    CScopedHandle out(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD done = 0;
    return out.IsValid() && WriteFile(out.Get(), &file, sizeof(file), &done, nullptr) &&
           WriteFile(out.Get(), &header, sizeof(header), &done, nullptr) &&
           WriteFile(out.Get(), pixels.data(), static_cast<DWORD>(pixels.size()), &done, nullptr);
}

// Writes the window as the screen shows it, frame and caption included, as a
// 24-bit BMP file. The screen is the display's copy of the window, and under
// Wine's X11 driver the display receives what a window painted only when a
// thread of the process next waits for messages: a copy taken right after
// the dialog painted could show it as it was before, or not yet shown at all,
// and the display may refuse a copy while the window is being mapped. So the
// picture is taken once two copies in a row, each after every painting so far
// was handed to the display, came out the same; until then, or until the
// time-out, it copies again.
bool WritePicture(HWND window, const std::string& path, DWORD timeoutMs)
{
    // As the user sees it: the active window, its caption drawn active.
    // Without a window manager the display may not hand the activation
    // over, so the frame is told to draw itself active.
    SendMessageTimeoutA(window, WM_NCACTIVATE, TRUE, 0, SMTO_NORMAL, kSendTimeoutMs, nullptr);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const DWORD start = GetTickCount();
    RECT previousRect = {};
    std::vector<BYTE> previous;
    std::vector<BYTE> current;
    for (;;)
    {
        // The dialog's thread has handled everything sent before (its
        // painting included) once it answers; this thread's wait then hands
        // the process's painting to the display, on the connection that the
        // copy below reads from.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &ignored);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
        RECT rect = {};
        current.clear();
        if (GetWindowRect(window, &rect) && CopyFromScreen(rect, current) && !previous.empty() &&
            EqualRect(&rect, &previousRect) && current == previous)
            return WriteBitmapFile(path, rect, current);
        previousRect = rect;
        previous.swap(current);
        if (!IsWindow(window) || GetTickCount() - start >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    }
}

} // namespace

CMsdevDialogAnswerer::CMsdevDialogAnswerer(CMsdevOutput& output, DWORD stepTimeoutMs)
    : m_output(output), m_stepTimeoutMs(stepTimeoutMs)
{
}

CMsdevDialogAnswerer::~CMsdevDialogAnswerer()
{
    Finish();
}

bool CMsdevDialogAnswerer::Start(const std::vector<Step>& steps)
{
    m_steps = steps;
    m_succeeded = true;
    m_commandEnded.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!m_commandEnded.IsValid())
        return false;
    m_thread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ThreadMain, this, 0, nullptr)));
    return m_thread.IsValid();
}

bool CMsdevDialogAnswerer::Finish()
{
    if (!m_thread.IsValid())
        return m_succeeded;
    SetEvent(m_commandEnded.Get());
    WaitForSingleObject(m_thread.Get(), INFINITE);
    m_thread.Close();
    m_commandEnded.Close();
    return m_succeeded;
}

unsigned __stdcall CMsdevDialogAnswerer::ThreadMain(void* answerer)
{
    static_cast<CMsdevDialogAnswerer*>(answerer)->Run();
    return 0;
}

bool CMsdevDialogAnswerer::CommandEnded() const
{
    return WaitForSingleObject(m_commandEnded.Get(), 0) == WAIT_OBJECT_0;
}

void CMsdevDialogAnswerer::Run()
{
    HWND excluded = nullptr;
    for (const Step& step : m_steps)
    {
        const HWND dialog = WaitForDialog(step.Caption, excluded);
        if (dialog == nullptr)
        {
            m_output.Record("no dialog \"" + step.Caption + "\" to answer");
            m_succeeded = false;
            CloseAll();
            return;
        }
        RecordDialog(dialog, step.Caption);
        excluded = nullptr;
        for (const Action& action : step.Actions)
        {
            if (!Perform(dialog, action))
            {
                m_succeeded = false;
                CloseAll();
                return;
            }
            // Once asked to close, the dialog may linger a moment: the next
            // step must not take it for a new one.
            const bool closes = action.What == Action::Close ||
                                (action.What == Action::Click && (action.Id == IDOK || action.Id == IDCANCEL));
            if (closes)
                excluded = dialog;
        }
    }
    // Every step is done: whatever dialog is still shown was not expected.
    const DWORD start = GetTickCount();
    while (!CommandEnded())
    {
        const HWND dialog = FindDialog(std::string(), excluded);
        if (dialog != nullptr && GetTickCount() - start >= m_stepTimeoutMs)
        {
            char caption[256] = {};
            GetWindowTextA(dialog, caption, sizeof(caption));
            m_output.Record(std::string("unexpected dialog \"") + caption + "\"");
            RecordDialog(dialog, caption);
            m_succeeded = false;
            CloseAll();
            return;
        }
        WaitForSingleObject(m_commandEnded.Get(), kPollMs);
    }
}

HWND CMsdevDialogAnswerer::FindDialog(const std::string& caption, HWND excluded) const
{
    DialogSearch search = {caption.empty() ? nullptr : &caption, excluded, nullptr};
    EnumWindows(FindDialogProc, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND CMsdevDialogAnswerer::FindAnyDialog() const
{
    return FindDialog(std::string(), nullptr);
}

HWND CMsdevDialogAnswerer::WaitForDialog(const std::string& caption, HWND excluded)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        const bool timedOut = GetTickCount() - start >= m_stepTimeoutMs;
        // A dialog asked to close enables its owner and hides itself, then
        // leaves its modal loop, and only then is destroyed. The dialog below
        // waits until it is gone: that loop takes in whatever the thread is
        // posted, so a command that ended the dialog below meanwhile could
        // lose the wake-up its own loop needs, which is dropped with the
        // closing dialog, and that loop would wait for ever (seen under
        // Wine's X11 driver).
        const bool closing = excluded != nullptr && IsWindow(excluded) && !IsWindowVisible(excluded);
        const HWND dialog = closing && !timedOut ? nullptr : FindDialog(caption, excluded);
        if (dialog != nullptr)
        {
            // Let the dialog's thread finish what it is doing (such as moving
            // the focus after a message box) before it is looked at.
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &ignored);
            if (IsWindow(dialog) && IsWindowEnabled(dialog) && IsWindowVisible(dialog))
                return dialog;
            continue;
        }
        if (CommandEnded() || timedOut)
            return nullptr;
        WaitForSingleObject(m_commandEnded.Get(), kPollMs);
    }
}

void CMsdevDialogAnswerer::RecordDialog(HWND dialog, const std::string& caption)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    std::string focus = "none";
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus != nullptr &&
        GetParent(info.hwndFocus) == dialog)
        focus = std::to_string(GetDlgCtrlID(info.hwndFocus));
    m_output.Record("dialog \"" + caption + "\", focus " + focus);
    const HWND text = MessageBoxText(dialog);
    if (text != nullptr)
        m_output.Record("message box \"" + caption + "\": " + MsdevEscape(WindowText(text)));
}

bool CMsdevDialogAnswerer::Perform(HWND dialog, const Action& action)
{
    HWND control = nullptr;
    if (action.What != Action::KeyDown && action.What != Action::Close && action.What != Action::Picture)
    {
        control = GetDlgItem(dialog, action.Id);
        if (control == nullptr)
        {
            m_output.Record("dialog has no control " + std::to_string(action.Id));
            return false;
        }
    }
    DWORD_PTR ignored = 0;
    switch (action.What)
    {
    case Action::SetText:
        return SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(action.Text.c_str()), SMTO_NORMAL,
                                   kSendTimeoutMs, &ignored) != 0;
    case Action::Check:
        return SendMessageTimeoutA(control, BM_SETCHECK, action.Value ? BST_CHECKED : BST_UNCHECKED, 0, SMTO_NORMAL,
                                   kSendTimeoutMs, &ignored) != 0;
    case Action::Radio:
    {
        // The group runs from the last control with WS_GROUP up to the next one.
        HWND first = control;
        while (!(GetWindowLongA(first, GWL_STYLE) & WS_GROUP))
        {
            const HWND previous = GetWindow(first, GW_HWNDPREV);
            if (previous == nullptr)
                break;
            first = previous;
        }
        for (HWND member = first; member != nullptr; member = GetWindow(member, GW_HWNDNEXT))
        {
            if (member != first && (GetWindowLongA(member, GWL_STYLE) & WS_GROUP))
                break;
            if (IsAutoRadio(member))
                SendMessageTimeoutA(member, BM_SETCHECK, member == control ? BST_CHECKED : BST_UNCHECKED, 0,
                                    SMTO_NORMAL, kSendTimeoutMs, &ignored);
        }
        return true;
    }
    case Action::Click:
        return Deliver(dialog, WM_COMMAND, MAKEWPARAM(action.Id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    case Action::KeyDown:
        return Deliver(dialog, WM_KEYDOWN, static_cast<WPARAM>(action.Value), 1);
    case Action::Close:
        return Deliver(dialog, WM_CLOSE, 0, 0);
    case Action::Picture:
        if (!WritePicture(dialog, action.Text, m_stepTimeoutMs))
        {
            m_output.Record("no picture of the dialog in " + action.Text);
            return false;
        }
        m_output.Record("picture of the dialog in " + action.Text);
        return true;
    case Action::Read:
    {
        std::string record = "control " + std::to_string(action.Id) + ": \"" + MsdevEscape(WindowText(control)) + "\"";
        if (IsButton(control))
        {
            DWORD_PTR state = 0;
            SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &state);
            const LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
            if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX || type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON)
                record += state == BST_CHECKED ? ", checked" : ", not checked";
        }
        m_output.Record(record);
        return true;
    }
    }
    return false;
}

void CALLBACK CMsdevDialogAnswerer::Delivered(HWND, UINT, ULONG_PTR answerer, LRESULT)
{
    ++reinterpret_cast<CMsdevDialogAnswerer*>(answerer)->m_delivered;
}

bool CMsdevDialogAnswerer::Deliver(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Sent without waiting: the handler may open a modal box that this thread
    // answers next. Its end is reported to this thread by the callback.
    ++m_sent;
    if (!SendMessageCallbackA(dialog, message, wParam, lParam, &CMsdevDialogAnswerer::Delivered,
                              reinterpret_cast<ULONG_PTR>(this)))
    {
        --m_sent;
        return false;
    }
    // Wait until the handler is done, or until it has opened a modal box
    // (which disables the dialog) or ended the dialog.
    const DWORD start = GetTickCount();
    for (;;)
    {
        MSG pending;
        while (PeekMessageA(&pending, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&pending);
        if (m_delivered == m_sent || !IsWindow(dialog) || !IsWindowVisible(dialog) || !IsWindowEnabled(dialog))
            return true;
        if (GetTickCount() - start >= m_stepTimeoutMs)
            return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    }
}

void CMsdevDialogAnswerer::CloseAll()
{
    // Each close lets the dialog below come back; a bound keeps a dialog
    // that refuses to close from holding this thread forever.
    for (int attempt = 0; attempt < 50; ++attempt)
    {
        const HWND dialog = FindAnyDialog();
        if (dialog == nullptr)
            return;
        char caption[256] = {};
        GetWindowTextA(dialog, caption, sizeof(caption));
        m_output.Record(std::string("closing dialog \"") + caption + "\"");
        const HWND text = MessageBoxText(dialog);
        if (text != nullptr)
            m_output.Record(std::string("message box \"") + caption + "\": " + MsdevEscape(WindowText(text)));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        WaitForSingleObject(m_commandEnded.Get(), 100);
    }
}
