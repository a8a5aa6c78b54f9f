#pragma once
#include <windows.h>

#include <string>

// A modal dialog of the add-in, made from one of the add-in module's dialog
// templates. A derived class is its message map: OnMessage handles what the
// dialog handles and leaves the rest to the dialog manager. Helpers give the
// controls' states and texts and the add-in's message boxes.
class CModalDialog
{
public:
    virtual ~CModalDialog() = default;
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // Runs the dialog owned by the window given (none: no owner) and returns
    // the id that ended it; IDCANCEL when it could not be shown.
    INT_PTR DoModal(HWND owner);

protected:
    explicit CModalDialog(UINT templateId) : m_templateId(templateId) {}

    // The dialog's message map: true (and the result) when it handled the message.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) = 0;

    HWND Handle() const { return m_window; }
    void End(INT_PTR result) { EndDialog(m_window, result); }
    // Centres the dialog over its owner, or over the work area when the owner
    // is not a visible, non-minimised window, keeping it inside the work area.
    void CentreOverOwner();

    bool IsChecked(int id) const { return IsDlgButtonChecked(m_window, id) == BST_CHECKED; }
    void SetChecked(int id, bool checked) { CheckDlgButton(m_window, id, checked ? BST_CHECKED : BST_UNCHECKED); }
    // A control's whole text.
    std::string GetItemText(int id) const;
    void SetItemText(int id, const std::string& text) { SetDlgItemTextA(m_window, id, text.c_str()); }
    // Moves the focus to a control the way the dialog manager does.
    void FocusControl(int id);
    // A message box owned by the dialog, captioned "Quillmar".
    int ShowMessage(const char* text, UINT buttons) const;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_window = nullptr;
};
