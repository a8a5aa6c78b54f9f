#include "SettingsDialog.h"

#include <shellapi.h>

#include "AboutDialog.h"
#include "AddInModule.h"
#include "ConfigLocation.h"
#include "ExclusionsDialog.h"
#include "ModulePath.h"
#include "RegistryValue.h"
#include "ScopedHandle.h"
#include "Trace.h"
#include "TraceScope.h"
#include "resource.h"

namespace
{

const char kPdbDirsValue[] = "Pdb Dirs";

const char kNoNtSymbolPath[] =
    "_NT_SYMBOL_PATH environment variable is not set. You should set this environment variable to be able to "
    "download symbols from the symbol server.\nPress Cancel to return to Settings dialog.";
const char kNoSymbolPath[] = "Please specify the symbol path.";
const char kNoDestDir[] =
    "Please specify the Visual C++ symbol directory. You can use Defaults button to set the default values.";
const char kNoPdbDirs[] =
    "It is recommended to specify additional PDB directories. You can use Defaults button to set the default "
    "values.\nPress Cancel to return to Settings dialog.";

bool IsReadable(const std::string& path)
{
    CScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid();
}

} // namespace

const char CSettingsDialog::kPdbDirsKey[] =
    "SOFTWARE\\Microsoft\\DevStudio\\6.0\\Build System\\Components\\Platforms\\Win32 (x86)\\Directories";

bool CSettingsDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    switch (message)
    {
    case WM_INITDIALOG:
        result = OnInitDialog();
        return true;
    case WM_CLOSE:
        OnClose();
        return true;
    case WM_KEYDOWN:
        return OnKeyDown(wParam);
    case WM_COMMAND:
        switch (LOWORD(wParam))
        {
        case IDOK:
            OnOK();
            return true;
        case IDCANCEL:
            OnCancel();
            return true;
        case IDC_HELPBUTTON:
            OnHelp();
            return true;
        case IDC_ABOUT:
            OnAbout();
            return true;
        case IDC_DEFAULTS:
            OnDefaultVcSymPath();
            return true;
        case IDC_EXCLUSIONS:
            OnEditExclusions();
            return true;
        default:
            return false;
        }
    default:
        return false;
    }
}

BOOL CSettingsDialog::OnInitDialog()
{
    CTraceScope scope("CSettingsDialog::OnInitDialog\n", 0);
    SetChecked(IDC_ENABLED, m_config.Enabled);
    SetChecked(IDC_REPORT_PROGRESS, m_config.ReportProgress);
    CheckRadioButton(Handle(), IDC_USE_NTSYMPATH, IDC_USE_SYMPATH,
                     m_config.UseNtSymPath ? IDC_USE_NTSYMPATH : IDC_USE_SYMPATH);
    std::string ntSymbolPath;
    GetEnvVar("_NT_SYMBOL_PATH", ntSymbolPath);
    SetItemText(IDC_NTSYMPATH, ntSymbolPath);
    // Paths and the list are shown and taken whole, however long: no limit
    // on the fields' text.
    for (const int field : {IDC_SYMPATH, IDC_DESTDIR, IDC_PDBDIRS})
        SendDlgItemMessageA(Handle(), field, EM_LIMITTEXT, 0, 0);
    SetItemText(IDC_SYMPATH, m_config.SymPath);
    SetItemText(IDC_DESTDIR, m_config.DestDir);
    m_pdbDirsRead = GetPdbDirs(m_pdbDirsShown);
    SetItemText(IDC_PDBDIRS, m_pdbDirsShown);
    CentreOverOwner();
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return TRUE;
}

void CSettingsDialog::OnClose()
{
    CTraceScope scope("CSettingsDialog::OnClose\n", 0);
    End(IDCANCEL);
}

bool CSettingsDialog::OnKeyDown(WPARAM key)
{
    if (key != VK_F1)
        return false;
    CTraceScope scope("CSettingsDialog::OnKeyDown\n", 0);
    TraceMessage(TRACE_INFO, 0, "%s", "WM_F1 pressed.\n");
    ShowHelp();
    return true;
}

void CSettingsDialog::OnOK()
{
    CTraceScope scope("CSettingsDialog::OnOK\n", 0);
    m_config.Enabled = IsChecked(IDC_ENABLED);
    m_config.ReportProgress = IsChecked(IDC_REPORT_PROGRESS);
    m_config.UseNtSymPath = IsChecked(IDC_USE_NTSYMPATH);
    m_config.SymPath = GetItemText(IDC_SYMPATH);
    m_config.DestDir = GetItemText(IDC_DESTDIR);

    // The IDE's list is saved now, whatever the checks below decide.
    const std::string pdbDirs = GetItemText(IDC_PDBDIRS);
    if (m_pdbDirsRead || pdbDirs != m_pdbDirsShown)
        SetPdbDirs(pdbDirs);
    else
        TraceMessage(TRACE_INFO, 0, "%s", "PdbDirs not read and not changed: left as it is.\n");

    TraceMessage(TRACE_INFO, 0, "Enabled: %s\n", BoolText(m_config.Enabled));
    TraceMessage(TRACE_INFO, 0, "ReportProgress: %s\n", BoolText(m_config.ReportProgress));
    TraceMessage(TRACE_INFO, 0, "UseNtSymPath: %s\n", BoolText(m_config.UseNtSymPath));
    TraceMessage(TRACE_INFO, 0, "SymPath: %s\n", m_config.SymPath.c_str());
    TraceMessage(TRACE_INFO, 0, "DestDir: %s\n", m_config.DestDir.c_str());
    TraceMessage(TRACE_INFO, 0, "PdbDirs: %s\n", pdbDirs.c_str());

    if (m_config.Enabled)
    {
        if (m_config.UseNtSymPath)
        {
            std::string ntSymbolPath;
            GetEnvVar("_NT_SYMBOL_PATH", ntSymbolPath);
            if (ntSymbolPath.empty())
            {
                TraceMessage(TRACE_INFO, 0, "%s", "Warning the user about missing _NT_SYMBOL_PATH...\n");
                if (ShowMessage(kNoNtSymbolPath, MB_OKCANCEL) == IDCANCEL)
                {
                    TraceMessage(TRACE_INFO, 0, "%s", "User cancelled the changes.\n");
                    return;
                }
            }
        }
        else if (m_config.SymPath.empty())
        {
            TraceMessage(TRACE_INFO, 0, "%s", "Warning the user about missing symbol path...\n");
            ShowMessage(kNoSymbolPath, MB_OK);
            FocusControl(IDC_SYMPATH);
            TraceMessage(TRACE_INFO, 0, "%s", "Changes are not allowed.\n");
            return;
        }
        if (m_config.DestDir.empty())
        {
            TraceMessage(TRACE_INFO, 0, "%s", "Warning the user about missing destination directory...\n");
            ShowMessage(kNoDestDir, MB_OK);
            FocusControl(IDC_DESTDIR);
            TraceMessage(TRACE_INFO, 0, "%s", "Changes are not allowed.\n");
            return;
        }
        if (pdbDirs.empty())
        {
            TraceMessage(TRACE_INFO, 0, "%s", "Warning the user about missing PdbDirs...\n");
            if (ShowMessage(kNoPdbDirs, MB_OKCANCEL) == IDCANCEL)
            {
                TraceMessage(TRACE_INFO, 0, "%s", "User cancelled the changes.\n");
                FocusControl(IDC_PDBDIRS);
                return;
            }
        }
    }
    End(IDOK);
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CSettingsDialog::OnCancel()
{
    CTraceScope scope("CSettingsDialog::OnCancel\n", 0);
    End(IDCANCEL);
}

void CSettingsDialog::OnHelp()
{
    CTraceScope scope("CSettingsDialog::OnHelp\n", 0);
    ShowHelp();
}

void CSettingsDialog::OnAbout()
{
    CTraceScope scope("CSettingsDialog::OnAbout\n", 0);
    CAboutDialog about;
    about.DoModal(GetActiveWindow());
}

void CSettingsDialog::OnDefaultVcSymPath()
{
    CTraceScope scope("CSettingsDialog::OnDefaultVcSymPath\n", 0);
    std::string base;
    if (GetWindowsDir(base) && !base.empty())
    {
        if (base.back() != '\\')
            base += '\\';
        base += "symbols";
    }
    else
        base.clear();
    SetItemText(IDC_DESTDIR, base);
    SetItemText(IDC_PDBDIRS, base + "\\exe;" + base + "\\dll;" + base + "\\ocx");
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CSettingsDialog::OnEditExclusions()
{
    CTraceScope scope("CSettingsDialog::OnEditExclusions\n", 0);
    CExclusionsDialog exclusions;
    exclusions.SetEntries(m_config.ExclusionList);
    if (exclusions.DoModal(GetActiveWindow()) == IDOK)
        m_config.ExclusionList = exclusions.GetEntries();
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CSettingsDialog::ShowHelp()
{
    CTraceScope scope("CSettingsDialog::ShowHelp()\n", 0);
    std::string dir;
    GetModulePathPart(dir, MODULE_PATH_DRIVE | MODULE_PATH_DIR, GetAddInModule());
    std::string helpFile = dir;
    if (!dir.empty() && dir.back() != '\\')
        helpFile += '\\';
    helpFile += "help.html";
    if (!IsReadable(helpFile))
    {
        ShowMessage("Help file does not exist or inaccessible.", MB_OK);
        TraceMessage(TRACE_ERROR, 0, "%s", "Help file does not exist.\n");
        return;
    }
    const INT_PTR shown = reinterpret_cast<INT_PTR>(
        ShellExecuteA(Handle(), "open", helpFile.c_str(), nullptr, dir.c_str(), SW_SHOWNORMAL));
    if (shown <= 32)
    {
        ShowMessage("Cannot show help file.", MB_OK);
        TraceMessage(TRACE_ERROR, 0, "ShellExecute() failed. RetValue: %d\n", static_cast<int>(shown));
        return;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

bool CSettingsDialog::GetPdbDirs(std::string& text)
{
    CTraceScope scope("CSettingsDialog::GetPdbDirs()\n", 0);
    text.clear();
    if (!RegValueGet(HKEY_CURRENT_USER, kPdbDirsKey, kPdbDirsValue, text, std::string()))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "RegValueGet() failed.\n");
        text.clear();
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "PdbDirs: %s\n", text.c_str());
    return true;
}

void CSettingsDialog::SetPdbDirs(const std::string& text)
{
    CTraceScope scope("CSettingsDialog::SetPdbDirs()\n", 0);
    TraceMessage(TRACE_INFO, 0, "PdbDirs: %s\n", text.c_str());
    if (!RegValueSet(HKEY_CURRENT_USER, kPdbDirsKey, kPdbDirsValue, text))
        TraceMessage(TRACE_ERROR, 0, "%s", "RegValueSet() failed.\n");
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}
