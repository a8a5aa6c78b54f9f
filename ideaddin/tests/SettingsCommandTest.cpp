// The settings command as the user runs it in the stand-in IDE: the settings
// dialog and the dialogs it opens, answered by the host's script.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AddInDirectory.h"
#include "ImportHook.h"
#include "IniFile.h"
#include "MsdevOutput.h"
#include "MsdevScript.h"
#include "QuillmarHost.h"
#include "ScopedRegKey.h"

namespace
{

using Lines = std::vector<std::string>;

const char kSettings[] = "Quillmar Configuration";
const char kNoNtSymbolPath[] =
    "_NT_SYMBOL_PATH environment variable is not set. You should set this environment variable to be able to "
    "download symbols from the symbol server.\nPress Cancel to return to Settings dialog.";
const char kNoSymbolPath[] = "Please specify the symbol path.";
const char kNoDestDir[] =
    "Please specify the Visual C++ symbol directory. You can use Defaults button to set the default values.";
const char kNoPdbDirs[] =
    "It is recommended to specify additional PDB directories. You can use Defaults button to set the default "
    "values.\nPress Cancel to return to Settings dialog.";
const char kNoHelp[] = "Help file does not exist or inaccessible.";

// A step of the script answering a dialog: its caption, then the actions.
std::string Answer(const std::string& caption, const std::string& actions)
{
    return "answer " + CMsdevScript::Quote(caption) + " " + actions;
}

std::string Set(int id, const std::string& text)
{
    return "set " + std::to_string(id) + " " + CMsdevScript::Quote(text);
}

std::string BoxLine(const std::string& text)
{
    return "msdev: message box \"Quillmar\": " + MsdevEscape(text);
}

std::string FocusLine(int id)
{
    return std::string("msdev: dialog \"") + kSettings + "\", focus " + std::to_string(id);
}

std::string ControlLine(int id, const std::string& text, const char* state = nullptr)
{
    std::string line = "msdev: control " + std::to_string(id) + ": \"" + MsdevEscape(text) + "\"";
    if (state != nullptr)
        line += std::string(", ") + state;
    return line;
}

std::string WindowsDir()
{
    char dir[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(dir, MAX_PATH);
    return dir;
}

// Has the shell open .html files with a program that does nothing: the test
// prefix has no browser.
bool RegisterHtmlOpener()
{
    const std::string command = "\"" + WindowsDir() + "\\system32\\cmd.exe\" /c rem \"%1\"";
    CScopedRegKey type;
    CScopedRegKey open;
    return type.Create(HKEY_CLASSES_ROOT, ".html", KEY_SET_VALUE) == ERROR_SUCCESS &&
           RegSetValueExA(type.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("qx3testhtml"), 12) ==
               ERROR_SUCCESS &&
           open.Create(HKEY_CLASSES_ROOT, "qx3testhtml\\shell\\open\\command", KEY_SET_VALUE) == ERROR_SUCCESS &&
           RegSetValueExA(open.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                          static_cast<DWORD>(command.size() + 1)) == ERROR_SUCCESS;
}

std::string UserSetting(const char* key)
{
    return CIniFile(UserIniFile().c_str()).GetString("Settings", key, "<missing>", 0);
}

class SettingsCommandTest : public QuillmarTest
{
protected:
    // Connects the add-in, runs the settings command answering the steps,
    // and gives the host's lines; whether every step was answered goes to
    // answered.
    Lines RunSettings(const Lines& steps, bool& answered)
    {
        Lines script = {"connect"};
        script.insert(script.end(), steps.begin(), steps.end());
        script.push_back("run QuillmarSettings");
        script.push_back("disconnect");
        CQuillmarHost host;
        answered = host.Run(script);
        return host.Lines();
    }
    Lines RunSettings(const Lines& steps)
    {
        bool answered = false;
        const Lines lines = RunSettings(steps, answered);
        EXPECT_TRUE(answered);
        return lines;
    }
};

TEST_F(SettingsCommandTest, SavedSettingsShowNoMessageAndModelessWindowsComeBackAndServerOffTakesAnyFields)
{
    Lines lines =
        RunSettings({Answer(kSettings, "radio 203 " + Set(206, "srv*Z:\\cache*http://127.0.0.1") + " " +
                                           Set(208, "Z:\\dest") + " " + Set(213, "Z:\\dest\\dll") + " click 1")});
    EXPECT_TRUE(LinesStartingWith(lines, "msdev: message box").empty());
    EXPECT_LT(IndexOfLine(lines, "msdev: modeless windows disabled"), IndexOfLine(lines, FocusLine(201)));
    EXPECT_LT(IndexOfLine(lines, FocusLine(201)), IndexOfLine(lines, "msdev: modeless windows enabled"));
    EXPECT_EQ("0", UserSetting("UseNtSymPath"));
    EXPECT_EQ("srv*Z:\\cache*http://127.0.0.1", UserSetting("SymPath"));
    EXPECT_EQ("Z:\\dest", UserSetting("VCSymDir"));

    // With the symbol server off, OK takes any fields.
    lines = RunSettings({Answer(kSettings, "check 201 0 radio 203 " + Set(206, "") + " " + Set(208, "") + " " +
                                               Set(213, "") + " click 1")});
    EXPECT_TRUE(LinesStartingWith(lines, "msdev: message box").empty());
    EXPECT_EQ("0", UserSetting("Enabled"));
    EXPECT_EQ("", UserSetting("VCSymDir"));
}

TEST_F(SettingsCommandTest, FailedSaveShowsOneMessageBoxWithTheRecordedErrorAndTheSystemText)
{
    CQuillmarHost host;
    ASSERT_TRUE(host.Run({"connect"}));
    // A directory where the user INI is to be written makes the save fail.
    ASSERT_TRUE(DeleteFileA(UserIniFile().c_str()));
    ASSERT_TRUE(CreateDirectoryA(UserIniFile().c_str(), nullptr));
    const bool answered = host.Run({Answer(kSettings, "check 201 0 click 1"), Answer("Quillmar", "click 1"),
                                    "run QuillmarSettings", "disconnect"});
    RemoveDirectoryA(UserIniFile().c_str());
    EXPECT_TRUE(answered);
    const Lines boxes = LinesStartingWith(host.Lines(), "msdev: message box");
    ASSERT_EQ(1u, boxes.size());
    const std::string expected = BoxLine("Cannot save settings in .INI file.\n\n");
    EXPECT_EQ(expected, boxes[0].substr(0, expected.size()));
    EXPECT_GT(boxes[0].size(), expected.size());
}

TEST_F(SettingsCommandTest, MissingNtSymbolPathAsksThenCancelKeepsTheDialogOpenAndOkGoesOnToTheDestinationCheck)
{
    Lines lines = RunSettings(
        {Answer(kSettings, "radio 202 " + Set(208, "Z:\\dest") + " " + Set(213, "Z:\\dest\\dll") + " click 1"),
         Answer("Quillmar", "click 2"), Answer(kSettings, "click 2")});
    EXPECT_EQ(Lines{BoxLine(kNoNtSymbolPath)}, LinesStartingWith(lines, "msdev: message box"));
    EXPECT_EQ(2u, LinesStartingWith(lines, std::string("msdev: dialog \"") + kSettings).size());
    EXPECT_NE("Z:\\dest", UserSetting("VCSymDir"));

    lines = RunSettings({Answer(kSettings, "radio 202 " + Set(208, "") + " " + Set(213, "Z:\\d") + " click 1"),
                         Answer("Quillmar", "click 1"), Answer("Quillmar", "click 1"), Answer(kSettings, "click 2")});
    EXPECT_EQ((Lines{BoxLine(kNoNtSymbolPath), BoxLine(kNoDestDir)}), LinesStartingWith(lines, "msdev: message box"));
    EXPECT_LT(IndexOfLine(lines, BoxLine(kNoDestDir)), IndexOfLine(lines, FocusLine(208)));
}

TEST_F(SettingsCommandTest, MissingSymbolPathKeepsTheDialogWithTheFocusOnItAndPdbDirsAreSavedAtOnce)
{
    const Lines lines =
        RunSettings({Answer(kSettings, "radio 203 " + Set(206, "") + " " + Set(213, "Z:\\p1;Z:\\p2") + " click 1"),
                     Answer("Quillmar", "click 1"), Answer(kSettings, "click 2")});
    EXPECT_EQ(Lines{BoxLine(kNoSymbolPath)}, LinesStartingWith(lines, "msdev: message box"));
    EXPECT_LT(IndexOfLine(lines, BoxLine(kNoSymbolPath)), IndexOfLine(lines, FocusLine(206)));
    // Written by OK although the dialog was then cancelled.
    std::string pdbDirs;
    ASSERT_TRUE(ReadPdbDirs(pdbDirs));
    EXPECT_EQ("Z:\\p1;Z:\\p2", pdbDirs);
}

TEST_F(SettingsCommandTest, MissingPdbDirsAskAndCancelPutsTheFocusOnThem)
{
    SetEnvironmentVariableA("_NT_SYMBOL_PATH", "srv*Z:\\cache*http://127.0.0.1");
    const Lines lines =
        RunSettings({Answer(kSettings, "radio 202 " + Set(208, "Z:\\dest") + " " + Set(213, "") + " click 1"),
                     Answer("Quillmar", "click 2"), Answer(kSettings, "click 1"), Answer("Quillmar", "click 1")});
    EXPECT_EQ((Lines{BoxLine(kNoPdbDirs), BoxLine(kNoPdbDirs)}), LinesStartingWith(lines, "msdev: message box"));
    EXPECT_LT(IndexOfLine(lines, BoxLine(kNoPdbDirs)), IndexOfLine(lines, FocusLine(213)));
    // OK in the second box accepts the settings.
    EXPECT_EQ("Z:\\dest", UserSetting("VCSymDir"));
    EXPECT_EQ("1", UserSetting("UseNtSymPath"));
}

TEST_F(SettingsCommandTest, DialogShowsTheSettingsAndTheEnvironment)
{
    ASSERT_TRUE(WriteFileBytes(AddIn().File("qx3.ini"), "[Settings]\r\nEnabled=1\r\nReportProgress=0\r\n"
                                                        "UseNtSymPath=0\r\nSymPath=Z:\\syms\r\nVCSymDir=Z:\\dest\r\n"));
    ASSERT_TRUE(WritePdbDirs("Z:\\dest\\exe"));
    SetEnvironmentVariableA("_NT_SYMBOL_PATH", "srv*Z:\\nt*http://127.0.0.1");
    const Lines lines = RunSettings({Answer(kSettings, "read 201 read 216 read 202 read 203 read 204 read 206 "
                                                       "read 208 read 213 click 2")});
    EXPECT_TRUE(ContainsLine(lines, ControlLine(201, "&Enable symbol server", "checked")));
    EXPECT_TRUE(ContainsLine(lines, ControlLine(216, "&Report progress", "not checked")));
    EXPECT_TRUE(ContainsLine(lines, ControlLine(202, "U&se _NT_SYMBOL_PATH", "not checked")));
    EXPECT_TRUE(ContainsLine(lines, ControlLine(203, "Use &this path:", "checked")));
    EXPECT_TRUE(ContainsLine(lines, ControlLine(204, "srv*Z:\\nt*http://127.0.0.1")));
    EXPECT_TRUE(ContainsLine(lines, ControlLine(206, "Z:\\syms")));
    EXPECT_TRUE(ContainsLine(lines, ControlLine(208, "Z:\\dest")));
    EXPECT_TRUE(ContainsLine(lines, ControlLine(213, "Z:\\dest\\exe")));
}

TEST_F(SettingsCommandTest, LongPathsAndPdbDirsAreShownWholeAndKept)
{
    const std::string symPath = "srv*Z:\\cache*http://127.0.0.1/" + std::string(5000, 's');
    const std::string destDir = "Z:\\" + std::string(5000, 'd');
    ASSERT_TRUE(WriteFileBytes(AddIn().File("qx3.ini"), "[Settings]\r\nUseNtSymPath=0\r\nSymPath=" + symPath +
                                                            "\r\nVCSymDir=" + destDir + "\r\n"));
    std::string longList;
    for (int i = 0; longList.size() < 6000; ++i)
        longList += "Z:\\symbols\\directory" + std::to_string(i) + ";";
    ASSERT_TRUE(WritePdbDirs(longList));
    const Lines lines = RunSettings({Answer(kSettings, "read 206 read 208 read 213 check 201 0 click 1")});
    EXPECT_TRUE(ContainsLine(lines, ControlLine(206, symPath)));
    EXPECT_TRUE(ContainsLine(lines, ControlLine(208, destDir)));
    EXPECT_TRUE(ContainsLine(lines, ControlLine(213, longList)));
    EXPECT_EQ(symPath, UserSetting("SymPath"));
    EXPECT_EQ(destDir, UserSetting("VCSymDir"));
    std::string pdbDirs;
    ASSERT_TRUE(ReadPdbDirs(pdbDirs));
    EXPECT_EQ(longList, pdbDirs);
}

// The add-in's reads of "Pdb Dirs" fail as for a value it may not read.
CImportHook* g_registryQuery = nullptr;
LONG WINAPI RefusingPdbDirsQuery(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (name != nullptr && lstrcmpiA(name, "Pdb Dirs") == 0)
        return ERROR_ACCESS_DENIED;
    return reinterpret_cast<decltype(&RegQueryValueExA)>(g_registryQuery->GetSavedAddress())(key, name, reserved,
                                                                                             type, data, size);
}

TEST_F(SettingsCommandTest, PdbDirsAreWrittenOnlyWhenReadOrChanged)
{
    // A missing value stays missing when the field is left empty.
    RunSettings({Answer(kSettings, "check 201 0 click 1")});
    std::string pdbDirs;
    EXPECT_FALSE(ReadPdbDirs(pdbDirs));

    // One that cannot be read shows as empty and is kept.
    ASSERT_TRUE(WritePdbDirs("Z:\\kept"));
    {
        CImportHook refusing(AddIn().Module(), "advapi32.dll", "RegQueryValueExA",
                             reinterpret_cast<void*>(&RefusingPdbDirsQuery));
        ASSERT_TRUE(refusing.IsInstalled()) << refusing.GetError();
        g_registryQuery = &refusing;
        const Lines lines = RunSettings({Answer(kSettings, "read 213 check 201 0 click 1")});
        EXPECT_TRUE(ContainsLine(lines, ControlLine(213, "")));
    }
    ASSERT_TRUE(ReadPdbDirs(pdbDirs));
    EXPECT_EQ("Z:\\kept", pdbDirs);
}

TEST_F(SettingsCommandTest, DefaultsFillTheSymbolDirectories)
{
    const std::string base = WindowsSymbolsDir();
    const Lines lines =
        RunSettings({Answer(kSettings, Set(208, "") + " " + Set(213, "") + " click 209 read 208 read 213 click 2")});
    EXPECT_TRUE(ContainsLine(lines, ControlLine(208, base)));
    EXPECT_TRUE(ContainsLine(lines, ControlLine(213, base + "\\exe;" + base + "\\dll;" + base + "\\ocx")));
}

TEST_F(SettingsCommandTest, ExclusionListRoundTripsThroughItsEditor)
{
    ASSERT_TRUE(WriteFileBytes(AddIn().File("symsrv.ini"), "[Exclusions]\r\na.pdb\r\nb.dll\r\n"));
    const std::string longName(1100, 'n');
    const Lines lines = RunSettings(
        {Answer(kSettings, "click 210"),
         Answer("Exclusions", "read 214 " + Set(214, "x.dll\r\n\r\ny*.pdb\r\n" + longName + "\r\nx.dll") + " click 1"),
         Answer(kSettings, "click 210"), Answer("Exclusions", Set(214, "dropped.dll") + " click 2"),
         Answer(kSettings, "check 201 0 click 1")});
    EXPECT_TRUE(ContainsLine(lines, ControlLine(214, "a.pdb\r\nb.dll\r\n")));
    std::vector<std::string> keys;
    ASSERT_TRUE(CIniFile(AddIn().File("symsrv.ini").c_str()).GetSectionKeys("Exclusions", keys));
    // Empty lines dropped, a long line cut to 1024 characters, duplicates kept.
    EXPECT_EQ((Lines{"x.dll", "y*.pdb", longName.substr(0, 1024), "x.dll"}), keys);
}

TEST_F(SettingsCommandTest, ExclusionWithAnEqualsSignIsRefusedAndTheEditorStaysOpen)
{
    const std::string refusal = std::string("An excluded file name cannot contain \"=\". Please correct this line:\n") +
                                "b.dll=1";
    const Lines lines = RunSettings({Answer(kSettings, "click 210"),
                                     Answer("Exclusions", Set(214, "a.pdb\r\nb.dll=1\r\n") + " click 1"),
                                     Answer("Quillmar", "click 1"),
                                     Answer("Exclusions", Set(214, "a.pdb\r\nb.dll\r\n") + " click 1"),
                                     Answer(kSettings, "check 201 0 click 1")});
    EXPECT_EQ(Lines{BoxLine(refusal)}, LinesStartingWith(lines, "msdev: message box"));
    std::vector<std::string> keys;
    ASSERT_TRUE(CIniFile(AddIn().File("symsrv.ini").c_str()).GetSectionKeys("Exclusions", keys));
    EXPECT_EQ((Lines{"a.pdb", "b.dll"}), keys);
}

TEST_F(SettingsCommandTest, HelpOpensTheHelpFileOrSaysItIsMissing)
{
    ASSERT_TRUE(RegisterHtmlOpener());
    Lines lines =
        RunSettings({Answer(kSettings, "click 211"), Answer(kSettings, "key F1"), Answer(kSettings, "click 2")});
    EXPECT_TRUE(LinesStartingWith(lines, "msdev: message box").empty());

    ASSERT_TRUE(DeleteFileA(AddIn().File("help.html").c_str()));
    lines = RunSettings({Answer(kSettings, "click 211"), Answer("Quillmar", "click 1"), Answer(kSettings, "key F1"),
                         Answer("Quillmar", "click 1"), Answer(kSettings, "click 2")});
    EXPECT_EQ((Lines{BoxLine(kNoHelp), BoxLine(kNoHelp)}), LinesStartingWith(lines, "msdev: message box"));
}

TEST_F(SettingsCommandTest, AboutBoxOpensFromTheSettingsDialog)
{
    const Lines lines = RunSettings(
        {Answer(kSettings, "click 212"), Answer("About Quillmar", "click 1"), Answer(kSettings, "click 2")});
    EXPECT_TRUE(ContainsLine(lines, "msdev: dialog \"About Quillmar\", focus 1"));
}

} // namespace
