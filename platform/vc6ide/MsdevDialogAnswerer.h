#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "MsdevOutput.h"
#include "ScopedHandle.h"

// Answers the dialogs and message boxes that a command of an add-in shows on
// the IDE's GUI thread, from a thread of its own, the way a user would: for
// each step in order it waits for the enabled dialog of this process with the
// step's caption, records its focused control (and a message box's text),
// then does the step's actions on it. A step whose dialog does not come, or a
// dialog left over when the steps are done, is recorded and closed, so that
// the command always returns.
class CMsdevDialogAnswerer
{
public:
    struct Action
    {
        enum Kind
        {
            SetText, // Id, Text
            Check,   // Id, Value 0 or 1
            Radio,   // Id: checked, the other radio buttons of its group cleared
            Click,   // Id: the button's command
            KeyDown, // Value: the virtual key, to the dialog itself
            Close,   // WM_CLOSE
            Read,    // Id: the control's text (and check state) recorded
            Picture, // Text: the dialog as it is drawn, written as a 24-bit BMP file
        };
        Kind What;
        int Id = 0;
        int Value = 0;
        std::string Text;
    };
    struct Step
    {
        std::string Caption;
        std::vector<Action> Actions;
    };

    CMsdevDialogAnswerer(CMsdevOutput& output, DWORD stepTimeoutMs);
    ~CMsdevDialogAnswerer();
    CMsdevDialogAnswerer(const CMsdevDialogAnswerer&) = delete;
    CMsdevDialogAnswerer& operator=(const CMsdevDialogAnswerer&) = delete;

    // Starts answering the steps; false when the thread cannot start.
    bool Start(const std::vector<Step>& steps);
    // Called once the command has returned: waits for the thread and tells
    // whether every step was answered and no dialog was left over.
    bool Finish();

private:
    static unsigned __stdcall ThreadMain(void* answerer);
    void Run();
    // The enabled, visible dialog of this process with the caption, other
    // than the one excluded; null when there is none.
    HWND FindDialog(const std::string& caption, HWND excluded) const;
    // Any enabled, visible dialog of this process: the innermost modal one.
    HWND FindAnyDialog() const;
    // Waits for a dialog of the caption until the time-out or the command's end.
    HWND WaitForDialog(const std::string& caption, HWND excluded);
    void RecordDialog(HWND dialog, const std::string& caption);
    bool Perform(HWND dialog, const Action& action);
    // Has the dialog's thread handle a message, and returns once the handler
    // is done or has opened a modal box or ended the dialog.
    bool Deliver(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    static void CALLBACK Delivered(HWND window, UINT message, ULONG_PTR answerer, LRESULT result);
    // Closes every dialog of this process, innermost first.
    void CloseAll();
    bool CommandEnded() const;

    CMsdevOutput& m_output;
    DWORD m_stepTimeoutMs;
    std::vector<Step> m_steps;
    CScopedHandle m_thread;
    CScopedHandle m_commandEnded;
    bool m_succeeded = true;
    // Messages handed over by Deliver, and those whose handlers are done.
    LONG m_sent = 0;
    LONG m_delivered = 0;
};
