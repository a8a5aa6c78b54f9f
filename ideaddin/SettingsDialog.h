#pragma once
#include <windows.h>

#include <string>

#include "AppEngine.h"
#include "ModalDialog.h"

// The settings dialog (template 201): the add-in's settings, on a copy that
// the caller sets before and reads after an OK, and the IDE's own list of
// additional PDB directories (registry value "Pdb Dirs"), which OK writes at
// once. OK checks the fields in a fixed order and keeps the dialog open, with
// the focus on the field to fix, until they will do.
class CSettingsDialog : public CModalDialog
{
public:
    CSettingsDialog() : CModalDialog(201) {}

    void SetSettings(const AppConfiguration& config) { m_config = config; }
    const AppConfiguration& GetSettings() const { return m_config; }

    // The IDE's PDB directory list: HKEY_CURRENT_USER\<kPdbDirsKey>, value
    // "Pdb Dirs". GetPdbDirs gives the whole text (empty when it cannot be
    // read) and tells whether it was read.
    static const char kPdbDirsKey[];
    static bool GetPdbDirs(std::string& text);
    static void SetPdbDirs(const std::string& text);

private:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    BOOL OnInitDialog();
    void OnClose();
    bool OnKeyDown(WPARAM key);
    void OnOK();
    void OnCancel();
    void OnHelp();
    void OnAbout();
    void OnDefaultVcSymPath();
    void OnEditExclusions();
    void ShowHelp();

    AppConfiguration m_config;
    // What the PDB directory field showed when the dialog opened, and whether
    // that was the registry's value: a list that could not be read is written
    // back only when the user changed the field.
    std::string m_pdbDirsShown;
    bool m_pdbDirsRead = false;
};
