#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "ModalDialog.h"

// The exclusion list editor (template 204): one file name per line of a
// multi-line edit control. The caller sets the entries before and reads them
// after an OK; empty lines are dropped, other lines kept as typed, and a line
// with an "=" keeps the dialog open.
class CExclusionsDialog : public CModalDialog
{
public:
    CExclusionsDialog() : CModalDialog(204) {}

    void SetEntries(const std::vector<std::string>& entries) { m_entries = entries; }
    const std::vector<std::string>& GetEntries() const { return m_entries; }

    // Each line is read through a buffer of this many characters: a longer
    // line comes back cut to its first kMaxLine characters.
    static const int kMaxLine = 1024;
    // OK refuses a line with an "=", which symsrv.ini would keep only in part:
    // this text and the line are shown, and the dialog stays open.
    static const char kEqualsInEntry[];

private:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    BOOL OnInitDialog();
    void OnClose();
    void OnOK();
    void OnCancel();

    std::vector<std::string> m_entries;
};
