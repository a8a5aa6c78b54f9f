#include "ModalDialog.h"

#include "AddInModule.h"

INT_PTR CModalDialog::DoModal(HWND owner)
{
    const INT_PTR result = DialogBoxParamA(GetAddInModule(), MAKEINTRESOURCEA(m_templateId), owner,
                                           &CModalDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    m_window = nullptr;
    return result == -1 ? IDCANCEL : result;
}

INT_PTR CALLBACK CModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
    {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        reinterpret_cast<CModalDialog*>(lParam)->m_window = window;
    }
    CModalDialog* self = reinterpret_cast<CModalDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    INT_PTR result = 0;
    if (!self->OnMessage(message, wParam, lParam, result))
        return FALSE;
    // WM_INITDIALOG answers whether the dialog manager sets the focus itself.
    if (message == WM_INITDIALOG)
        return result;
    SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
    return TRUE;
}

void CModalDialog::CentreOverOwner()
{
    RECT workArea;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    RECT dialog;
    GetWindowRect(m_window, &dialog);
    const HWND owner = GetWindow(m_window, GW_OWNER);
    RECT centre = workArea;
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner))
        GetWindowRect(owner, &centre);
    const LONG width = dialog.right - dialog.left;
    const LONG height = dialog.bottom - dialog.top;
    LONG left = (centre.left + centre.right - width) / 2;
    LONG top = (centre.top + centre.bottom - height) / 2;
    if (left + width > workArea.right)
        left = workArea.right - width;
    if (top + height > workArea.bottom)
        top = workArea.bottom - height;
    if (left < workArea.left)
        left = workArea.left;
    if (top < workArea.top)
        top = workArea.top;
    SetWindowPos(m_window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string CModalDialog::GetItemText(int id) const
{
    const HWND control = GetDlgItem(m_window, id);
    if (control == nullptr)
        return std::string();
    const size_t size = static_cast<size_t>(GetWindowTextLengthA(control)) + 1;
    std::string text(size, '\0');
    const int copied = GetWindowTextA(control, &text[0], static_cast<int>(size));
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

void CModalDialog::FocusControl(int id)
{
    const HWND control = GetDlgItem(m_window, id);
    if (control != nullptr)
        SendMessageA(m_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

int CModalDialog::ShowMessage(const char* text, UINT buttons) const
{
    return MessageBoxA(m_window, text, "Quillmar", buttons);
}
