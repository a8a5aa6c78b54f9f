#include "ExclusionsDialog.h"

#include <cstring>

#include "Trace.h"
#include "TraceScope.h"
#include "resource.h"

const char CExclusionsDialog::kEqualsInEntry[] = "An excluded file name cannot contain \"=\". Please correct this line:\n";

bool CExclusionsDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    switch (message)
    {
    case WM_INITDIALOG:
        result = OnInitDialog();
        return true;
    case WM_CLOSE:
        OnClose();
        return true;
    case WM_COMMAND:
        switch (LOWORD(wParam))
        {
        case IDOK:
            OnOK();
            return true;
        case IDCANCEL:
            OnCancel();
            return true;
        default:
            return false;
        }
    default:
        return false;
    }
}

BOOL CExclusionsDialog::OnInitDialog()
{
    CTraceScope scope("CExclusionsDialog::OnInitDialog\n", 0);
    std::string text;
    for (const std::string& entry : m_entries)
    {
        if (entry.empty())
            continue;
        TraceMessage(TRACE_INFO, 0, "Item: %s\n", entry.c_str());
        text += entry + "\r\n";
    }
    TraceMessage(TRACE_INFO, 0, "Text: %s\n", text.c_str());
    if (!text.empty())
        SetItemText(IDC_EXCLUSION_LIST, text);
    CentreOverOwner();
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return TRUE;
}

void CExclusionsDialog::OnClose()
{
    CTraceScope scope("CExclusionsDialog::OnClose\n", 0);
    End(IDCANCEL);
}

void CExclusionsDialog::OnOK()
{
    CTraceScope scope("CExclusionsDialog::OnOK\n", 0);
    std::vector<std::string> entries;
    const HWND edit = GetDlgItem(Handle(), IDC_EXCLUSION_LIST);
    const int lineCount = static_cast<int>(SendMessageA(edit, EM_GETLINECOUNT, 0, 0));
    TraceMessage(TRACE_INFO, 0, "LineCount: %d\n", lineCount);
    for (int line = 0; line < lineCount; ++line)
    {
        // EM_GETLINE takes the buffer's size in its first 16-bit word.
        char buffer[kMaxLine + 1] = {};
        const WORD size = kMaxLine;
        memcpy(buffer, &size, sizeof(size));
        const int length = static_cast<int>(
            SendMessageA(edit, EM_GETLINE, static_cast<WPARAM>(line), reinterpret_cast<LPARAM>(buffer)));
        TraceMessage(TRACE_INFO, 0, "Line Length: %d\n", length);
        if (length < 1 || length > kMaxLine)
            continue;
        buffer[length] = '\0';
        TraceMessage(TRACE_INFO, 0, "Line: %s\n", buffer);
        // symsrv.ini keeps only what comes before an "=": the entry would be
        // saved cut. The user corrects the line instead.
        if (strchr(buffer, '=') != nullptr)
        {
            TraceMessage(TRACE_INFO, 0, "%s", "Changes are not allowed.\n");
            ShowMessage((std::string(kEqualsInEntry) + buffer).c_str(), MB_OK);
            FocusControl(IDC_EXCLUSION_LIST);
            const LRESULT start = SendMessageA(edit, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
            SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(start), start + length);
            return;
        }
        entries.push_back(buffer);
    }
    m_entries = entries;
    End(IDOK);
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CExclusionsDialog::OnCancel()
{
    CTraceScope scope("CExclusionsDialog::OnCancel\n", 0);
    End(IDCANCEL);
}
