#include "AboutDialog.h"

#include "TraceScope.h"

bool CAboutDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    switch (message)
    {
    case WM_INITDIALOG:
    {
        CTraceScope scope("CAboutDialog::OnInitDialog\n", 0);
        CentreOverOwner();
        result = TRUE;
        return true;
    }
    case WM_CLOSE:
    {
        CTraceScope scope("CAboutDialog::OnClose\n", 0);
        End(IDCANCEL);
        return true;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
        {
            CTraceScope scope("CAboutDialog::OnOK\n", 0);
            End(IDOK);
            return true;
        }
        if (LOWORD(wParam) == IDCANCEL)
        {
            CTraceScope scope("CAboutDialog::OnCancel\n", 0);
            End(IDCANCEL);
            return true;
        }
        return false;
    default:
        return false;
    }
}
