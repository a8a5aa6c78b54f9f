#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MsdevHost.h"
#include "ScopedRegKey.h"
#include "TestSupport.h"

namespace
{

const char kFakeProgId[] = "Msdev.FakeAddIn";
const char kFakeClsid[] = "{6D3C2F0A-3E0B-4A47-9B7E-1F2B1C5A7E01}";

bool SetDefault(HKEY root, const std::string& path, const std::string& value)
{
    CScopedRegKey key;
    return key.Create(root, path.c_str(), KEY_SET_VALUE) == ERROR_SUCCESS &&
           RegSetValueExA(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

// One stand-in IDE on this thread, whose dialog steps wait 2 s at most.
struct Host : CMsdevHost
{
    Host() { Script().SetDialogTimeout(2000); }
};

class MsdevTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        const std::string classKey = std::string("CLSID\\") + kFakeClsid;
        ASSERT_TRUE(SetDefault(HKEY_CLASSES_ROOT, std::string(kFakeProgId) + "\\CLSID", kFakeClsid));
        ASSERT_TRUE(SetDefault(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", ExeDirectory() + "fake_addin.dll"));
        CScopedRegKey server;
        ASSERT_EQ(ERROR_SUCCESS,
                  server.Open(HKEY_CLASSES_ROOT, (classKey + "\\InprocServer32").c_str(), KEY_SET_VALUE));
        RegSetValueExA(server.Get(), "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Apartment"), 10);
    }
    static void TearDownTestSuite() { OleUninitialize(); }

    void SetUp() override
    {
        CMsdevAddIns::ClearList();
        ASSERT_TRUE(CMsdevAddIns::Enable(kFakeProgId, true));
    }
};

TEST(MsdevScriptTest, SplitsQuotedWordsWithEscapesAndKeepsBackslashesOfPlainWords)
{
    std::vector<std::string> words;
    ASSERT_TRUE(CMsdevScript::Split("set 206 \"a b\\r\\n\\\"c\\\"\\\\\" C:\\new\\tmp", words));
    ASSERT_EQ(4u, words.size());
    EXPECT_EQ("a b\r\n\"c\"\\", words[2]);
    EXPECT_EQ("C:\\new\\tmp", words[3]);
    EXPECT_FALSE(CMsdevScript::Split("echo \"open", words));

    const std::string text = "line \"one\"\r\nC:\\tab\there";
    ASSERT_TRUE(CMsdevScript::Split("echo " + CMsdevScript::Quote(text), words));
    EXPECT_EQ(text, words[1]);
}

TEST_F(MsdevTest, ConnectsEnabledAddInWithItsCommandAndButton)
{
    Host host;
    EXPECT_TRUE(host.Run({"connect"}));
    const std::vector<std::string> lines = host.Lines();
    EXPECT_TRUE(ContainsLine(lines, "msdev: add-in Msdev.FakeAddIn connected, cookie 1"));
    EXPECT_TRUE(ContainsLine(lines,
                             "msdev: command added: FakeCommand, button text \"Fake\", status bar \"Fake status\", "
                             "tool tip \"Fake tip\", method Run, glyph 0"));
    EXPECT_TRUE(ContainsLine(lines, "msdev: toolbar button added: FakeCommand (glyph button)"));
    EXPECT_TRUE(ContainsLine(lines, "fake connected"));
    EXPECT_EQ(1, host.Application().GetRefCount());

    EXPECT_TRUE(host.Run({"disconnect lasttime"}));
    EXPECT_TRUE(ContainsLine(host.Lines(), "fake disconnected for good"));
    EXPECT_EQ(0, host.Application().GetRefCount());
    EXPECT_EQ(nullptr, host.Application().FindCommand("FakeCommand"));
}

TEST_F(MsdevTest, CreatesNoDisabledAddIn)
{
    ASSERT_TRUE(CMsdevAddIns::Enable(kFakeProgId, false));
    Host host;
    EXPECT_TRUE(host.Run({"connect"}));
    EXPECT_EQ(0u, host.AddIns().ConnectedCount());
}

TEST_F(MsdevTest, AddInThatCannotAddItsCommandIsLetGo)
{
    Host host;
    EXPECT_TRUE(host.Run({"fail AddCommand refuse", "connect"}));
    EXPECT_TRUE(ContainsLine(host.Lines(), "msdev: add-in Msdev.FakeAddIn did not connect (00000000)"));
    EXPECT_EQ(0u, host.AddIns().ConnectedCount());
    EXPECT_EQ(0, host.Application().GetRefCount());
}

TEST_F(MsdevTest, InjectedFailureIsReturnedToTheAddIn)
{
    Host host;
    EXPECT_TRUE(host.Run({"fail SetAddInInfo 0x80004005", "connect"}));
    const std::vector<std::string> lines = host.Lines();
    EXPECT_TRUE(ContainsLine(lines, "msdev: IApplication::SetAddInInfo fails with 80004005"));
    EXPECT_EQ(0u, host.AddIns().ConnectedCount());
}

TEST_F(MsdevTest, RunsCommandByNameAndAnswersItsMessageBox)
{
    Host host;
    EXPECT_TRUE(host.Run({"connect", "answer Fake click 2", "run FakeCommand", "disconnect"}));
    const std::vector<std::string> lines = host.Lines();
    EXPECT_TRUE(ContainsLine(lines, "msdev: message box \"Fake\": Fake question?"));
    EXPECT_LT(IndexOfLine(lines, "msdev: message box \"Fake\": Fake question?"), IndexOfLine(lines, "fake answer 2"));
    EXPECT_TRUE(ContainsLine(lines, "msdev: command FakeCommand returned 00000000"));
}

TEST_F(MsdevTest, UnansweredDialogIsClosedAndFailsTheLine)
{
    Host host;
    EXPECT_FALSE(host.Run({"connect", "run FakeCommand"}));
    const std::vector<std::string> lines = host.Lines();
    EXPECT_TRUE(ContainsLine(lines, "msdev: unexpected dialog \"Fake\""));
    EXPECT_TRUE(ContainsLine(lines, "msdev: command FakeCommand returned 00000000"));
}

TEST_F(MsdevTest, StepWhoseDialogNeverComesFailsAtOnceWhenTheCommandEnds)
{
    Host host;
    EXPECT_FALSE(host.Run({"connect", "answer Fake click 1", "answer Other click 1", "run FakeCommand"}));
    EXPECT_TRUE(ContainsLine(host.Lines(), "msdev: no dialog \"Other\" to answer"));
    EXPECT_FALSE(host.Run({"run NoSuchCommand"}));
    EXPECT_TRUE(ContainsLine(host.Lines(), "msdev: no command NoSuchCommand"));
}

TEST_F(MsdevTest, ApplicationObjectChecksNamesAndArguments)
{
    CMsdevOutput output;
    CMsdevApplication application(output);
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Quit")};
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, application.GetIDsOfNames(IID_NULL, unknown, 1, 0, &id));

    LPOLESTR print[] = {const_cast<LPOLESTR>(L"printtooutputwindow")};
    ASSERT_EQ(S_OK, application.GetIDsOfNames(IID_NULL, print, 1, 0, &id));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT,
              application.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    VARIANT number;
    number.vt = VT_DISPATCH;
    number.pdispVal = nullptr;
    DISPPARAMS wrong = {&number, nullptr, 1, 0};
    UINT argError = 99;
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              application.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &wrong, nullptr, nullptr, &argError));
    EXPECT_EQ(0u, argError);
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"a line");
    DISPPARAMS one = {&text, nullptr, 1, 0};
    EXPECT_EQ(S_OK, application.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr));
    VariantClear(&text);
    EXPECT_TRUE(ContainsLine(output.Lines(), "a line"));
}

TEST_F(MsdevTest, DebugsAProgramAndTellsForEachImageWhetherItFoundSymbols)
{
    // Images the debuggee of this build's width can load, each with its
    // symbol file beside it: a PDB 2.00 counts, a PDB 7.00 never does.
    constexpr bool kWide = sizeof(void*) == 8;
    const std::string found = kWide ? "" : "nb10.dll";
    const std::string refused = kWide ? "rsds64.exe" : "rsds.exe";
    const std::string plain = kWide ? "exports64.dll" : "exports.dll";
    ASSERT_TRUE(CMsdevAddIns::Enable(kFakeProgId, false));
    CTempDir dir;
    std::string arguments;
    for (const std::string& image : {found, refused})
    {
        if (image.empty())
            continue;
        const std::string pdb = image.substr(0, image.find('.')) + ".pdb";
        ASSERT_TRUE(CopyFileA(SampleImage(image).c_str(), dir.File(image).c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((SampleSymbolsDir() + "\\" + pdb).c_str(), dir.File(pdb).c_str(), FALSE));
        arguments += " " + dir.File(image);
    }
    Host host;
    EXPECT_TRUE(host.Run({"debug \"" + ExeDirectory() + "vc6_debuggee.exe\"" + arguments + " " + SampleImage(plain)}));
    const std::vector<std::string> lines = host.Lines();
    if (!found.empty())
    {
        EXPECT_TRUE(ContainsLine(lines, "Loaded symbols for '" + dir.File(found) + "'"));
    }
    EXPECT_TRUE(ContainsLine(lines, "Loaded '" + dir.File(refused) + "', no matching symbolic information found."));
    EXPECT_TRUE(ContainsLine(lines, "Loaded '" + SampleImage(plain) + "', no matching symbolic information found."));
    const std::string ended = "msdev: debugging ended: exit code " + std::to_string(kWide ? 2 : 3) + ", " +
                              std::to_string(LinesStartingWith(lines, "Loaded ").size()) + " images, ";
    EXPECT_EQ(1u, LinesStartingWith(lines, ended).size());
}

TEST_F(MsdevTest, ProgramRunsLinesFromItsCommandLineIntoItsLog)
{
    CTempDir dir;
    const std::string log = dir.File("msdev.log");
    EXPECT_EQ(0, RunProgram("msdev.exe",
                            "/log \"" + log +
                                "\" /c connect /c \"answer Fake click 1\" /c \"run FakeCommand\" /c \"disconnect\"",
                            60000));
    const std::string text = ReadFileBytes(log);
    EXPECT_NE(std::string::npos, text.find("fake answer 1\r\n"));
    EXPECT_NE(std::string::npos, text.find("msdev: done\r\n"));
}

} // namespace
