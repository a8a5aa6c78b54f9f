// The application engine with its settings in a directory of the test's own
// and the registered qx3fetch behind its symbol handler. Debug events reach
// WFDOHandler directly here, as the hook library would pass them.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AddInDirectory.h"
#include "AppEngine.h"
#include "ErrorReport.h"
#include "IniFile.h"
#include "OutputWindow.h"
#include "PathSplit.h"
#include "ScopedHandle.h"
#include "SymbolServerFixture.h"
#include "TestSupport.h"

namespace
{

using Lines = std::vector<std::string>;

std::string SplitDirectory(const std::string& path)
{
    const PathParts parts = SplitPath(path);
    return parts.drive + parts.dir;
}

Lines SectionKeys(const std::string& file, const char* section)
{
    Lines keys;
    CIniFile(file.c_str()).GetSectionKeys(section, keys);
    return keys;
}

class AppEngineTest : public SymbolServerFixture
{
protected:
    void SetUp() override
    {
        SymbolServerFixture::SetUp();
        ASSERT_TRUE(m_addIn.IsReady());
        SetEnvironmentVariableA("_NT_SYMBOL_PATH", nullptr);
        CErrorReport::ClearErrorInfo();
    }
    void TearDown() override
    {
        Engine().Close();
        SetEnvironmentVariableA("_NT_SYMBOL_PATH", nullptr);
    }

    static CAppEngine& Engine() { return CAppEngine::GetInstance(); }
    static AppConfiguration Config()
    {
        AppConfiguration config;
        EXPECT_TRUE(Engine().GetConfiguration(config));
        return config;
    }
    // Settings that fetch from the sample store into the test's destination.
    AppConfiguration Fetching()
    {
        AppConfiguration config = Config();
        config.UseNtSymPath = false;
        config.SymPath = StorePath();
        config.DestDir = Dest();
        return config;
    }
    // One debug event whose file handle (when asked for) is a sample image,
    // and what it showed.
    size_t Event(DWORD code, const std::string& image, HANDLE fileHandle = nullptr)
    {
        CScopedHandle file(image.empty() ? nullptr : OpenImage(image));
        DEBUG_EVENT event = {};
        event.dwDebugEventCode = code;
        event.dwProcessId = GetCurrentProcessId();
        event.u.CreateProcessInfo.hFile = file.IsValid() ? file.Get() : fileHandle;
        EXPECT_TRUE(WFDOHandler(&event, 10));
        const size_t before = m_window.Texts().size();
        m_window.PumpPending();
        return m_window.Texts().size() - before;
    }
    bool Copied(const std::string& relative) const { return FileExists(Dest() + "\\" + relative); }
    std::string UserIni(const char* key) const
    {
        return CIniFile(UserIniFile().c_str()).GetString("Settings", key, "<missing>", 0);
    }

    CAddInDirectory m_addIn;
    COutputWindow m_window;
};

TEST_F(AppEngineTest, ConfigurationBeforeInitIsRefusedAndTheFirstStartSavesTheDefaultsInANewUserIni)
{
    AppConfiguration before;
    before.SymPath = "C:\\never";
    EXPECT_FALSE(Engine().GetConfiguration(before));
    Engine().SetConfiguration(before);
    EXPECT_FALSE(FileExists(UserIniFile()));
    ASSERT_TRUE(Engine().Init());
    EXPECT_TRUE(Engine().Init());

    const AppConfiguration config = Config();
    EXPECT_TRUE(config.Enabled);
    EXPECT_TRUE(config.ReportProgress);
    EXPECT_TRUE(config.UseNtSymPath);
    EXPECT_EQ("", config.SymPath);
    EXPECT_EQ(WindowsSymbolsDir(), config.DestDir);
    EXPECT_TRUE(config.ExclusionList.empty());

    ASSERT_TRUE(FileExists(UserIniFile()));
    EXPECT_EQ(Lines({"Enabled", "ReportProgress", "UseNtSymPath", "SymPath", "VCSymDir"}),
              SectionKeys(UserIniFile(), "Settings"));
    EXPECT_EQ("1", UserIni("Enabled"));
    EXPECT_EQ("1", UserIni("ReportProgress"));
    EXPECT_EQ("1", UserIni("UseNtSymPath"));
    EXPECT_EQ("", UserIni("SymPath"));
    EXPECT_EQ(WindowsSymbolsDir(), UserIni("VCSymDir"));
}

TEST_F(AppEngineTest, AddInIniValuesAreCarriedOverOnceAndAnEmptyDestinationFallsBackToTheWindowsSymbolsDirectory)
{
    ASSERT_TRUE(WriteFileBytes(m_addIn.File("qx3.ini"),
                               "[Settings]\r\nEnabled=0\r\nReportProgress=7\r\n"
                               "UseNtSymPath=0\r\nSymPath=C:\\shipped\r\nVCSymDir=C:\\vc\r\n"));
    ASSERT_TRUE(Engine().Init());
    AppConfiguration config = Config();
    EXPECT_FALSE(config.Enabled);
    EXPECT_TRUE(config.ReportProgress);
    EXPECT_FALSE(config.UseNtSymPath);
    EXPECT_EQ("C:\\shipped", config.SymPath);
    EXPECT_EQ("C:\\vc", config.DestDir);
    EXPECT_EQ("C:\\shipped", UserIni("SymPath"));
    EXPECT_EQ("1", UserIni("ReportProgress"));

    // From now on the user INI alone counts.
    ASSERT_TRUE(WriteFileBytes(m_addIn.File("qx3.ini"), "[Settings]\r\nSymPath=C:\\changed\r\n"));
    Engine().Close();
    ASSERT_TRUE(Engine().Init());
    config = Config();
    EXPECT_EQ("C:\\shipped", config.SymPath);
    EXPECT_FALSE(config.Enabled);

    ASSERT_TRUE(WriteFileBytes(UserIniFile(), "[Settings]\r\nVCSymDir=\r\nSymPath=C:\\mine\r\n"));
    Engine().Close();
    ASSERT_TRUE(Engine().Init());
    EXPECT_EQ(WindowsSymbolsDir(), Config().DestDir);
    EXPECT_EQ("C:\\mine", Config().SymPath);
}

TEST_F(AppEngineTest, LongPathsAreReadWholeAndSavedWhole)
{
    const std::string symPath = "srv*C:\\cache*http://127.0.0.1/" + std::string(5000, 's');
    const std::string destDir = "C:\\" + std::string(5000, 'd');
    ASSERT_TRUE(WriteFileBytes(m_addIn.File("qx3.ini"), "[Settings]\r\nUseNtSymPath=0\r\nSymPath=" + symPath +
                                                           "\r\nVCSymDir=" + destDir + "\r\n"));
    ASSERT_TRUE(Engine().Init());
    EXPECT_EQ(symPath, Config().SymPath);
    EXPECT_EQ(destDir, Config().DestDir);
    Engine().SetConfiguration(Config());
    EXPECT_EQ(symPath, UserIni("SymPath"));
    EXPECT_EQ(destDir, UserIni("VCSymDir"));
}

TEST_F(AppEngineTest, SymbolPathVariableIsReadAtEachConfiguration)
{
    ASSERT_TRUE(Engine().Init());
    AppConfiguration config = Fetching();
    config.UseNtSymPath = true;
    config.SymPath = "C:\\unused";
    SetEnvironmentVariableA("_NT_SYMBOL_PATH", StorePath().c_str());
    Engine().SetConfiguration(config);
    EXPECT_EQ(1u, Event(LOAD_DLL_DEBUG_EVENT, "nb10.dll"));
    EXPECT_TRUE(Copied("dll\\nb10.pdb"));

    // Unset, it leaves the handler without a symbol path.
    SetEnvironmentVariableA("_NT_SYMBOL_PATH", nullptr);
    Engine().SetConfiguration(config);
    EXPECT_EQ(0u, Event(LOAD_DLL_DEBUG_EVENT, "dbgcv.dll"));
    EXPECT_FALSE(Copied("dll\\dbgcv.dbg"));

    config.UseNtSymPath = false;
    config.SymPath = StorePath();
    Engine().SetConfiguration(config);
    EXPECT_EQ(1u, Event(LOAD_DLL_DEBUG_EVENT, "dbgcv.dll"));
    EXPECT_TRUE(Copied("dll\\dbgcv.dbg"));
}

TEST_F(AppEngineTest, OnlyNewImagesWithAFileHandleMakeRequests)
{
    ASSERT_TRUE(Engine().Init());
    Engine().SetConfiguration(Fetching());
    for (DWORD code : {EXCEPTION_DEBUG_EVENT, CREATE_THREAD_DEBUG_EVENT, EXIT_THREAD_DEBUG_EVENT,
                       EXIT_PROCESS_DEBUG_EVENT, UNLOAD_DLL_DEBUG_EVENT, OUTPUT_DEBUG_STRING_EVENT, RIP_EVENT})
        EXPECT_EQ(0u, Event(code, "nb10.dll")) << code;
    EXPECT_EQ(0u, Event(LOAD_DLL_DEBUG_EVENT, "", nullptr));
    EXPECT_EQ(0u, Event(LOAD_DLL_DEBUG_EVENT, "", INVALID_HANDLE_VALUE));
    EXPECT_TRUE(WFDOHandler(nullptr, 0));
    EXPECT_FALSE(Copied("dll\\nb10.pdb"));

    EXPECT_EQ(1u, Event(CREATE_PROCESS_DEBUG_EVENT, "rsds.exe"));
    EXPECT_EQ(1u, Event(LOAD_DLL_DEBUG_EVENT, "nb10.dll"));
    EXPECT_TRUE(Copied("exe\\rsds.pdb"));
    EXPECT_TRUE(Copied("dll\\nb10.pdb"));
}

// A new program starts the server's prefetch; the images its session asked
// for are remembered beside the user's settings once the add-in lets go of
// the server. [Settings] Prefetch=0 turns all of it off.
TEST_F(AppEngineTest, PrefetchRemembersTheSessionsImagesUnlessTurnedOff)
{
    const std::string history = SplitDirectory(UserIniFile()) + "qx3loaded.txt";
    for (const bool on : {false, true})
    {
        SCOPED_TRACE(on);
        DeleteFileA(history.c_str());
        ASSERT_TRUE(WriteFileBytes(UserIniFile(), on ? "[Settings]\r\n" : "[Settings]\r\nPrefetch=0\r\n"));
        ASSERT_TRUE(Engine().Init());
        EXPECT_EQ(on, Config().Prefetch);
        Engine().SetConfiguration(Fetching());
        EXPECT_EQ(1u, Event(CREATE_PROCESS_DEBUG_EVENT, "rsds.exe"));
        EXPECT_EQ(1u, Event(LOAD_DLL_DEBUG_EVENT, "nb10.dll"));
        EXPECT_TRUE(Copied("dll\\nb10.pdb"));
        Engine().Close();
        EXPECT_EQ(on, FileExists(history));
        if (on)
        {
            EXPECT_NE(std::string::npos, ReadFileBytes(history).find("nb10.dll"));
        }
    }
}

TEST_F(AppEngineTest, ExclusionListRoundTripsThroughSymsrvIni)
{
    const std::string symsrv = m_addIn.File("symsrv.ini");
    ASSERT_TRUE(WriteFileBytes(symsrv, "[Http]\r\nTimeout=1234\r\n[Exclusions]\r\na.pdb\r\nb.dbg=1\r\n=skipped\r\n"
                                       "c*.pdb\r\n"));
    ASSERT_TRUE(Engine().Init());
    EXPECT_EQ(Lines({"a.pdb", "b.dbg", "c*.pdb"}), Config().ExclusionList);
    // The first start wrote the list back in its plain form.
    EXPECT_EQ(std::string::npos, ReadFileBytes(symsrv).find("b.dbg="));

    AppConfiguration config = Config();
    config.ExclusionList = {"x.pdb", "", "y.dbg"};
    Engine().SetConfiguration(config);
    EXPECT_EQ(Lines({"x.pdb", "y.dbg"}), SectionKeys(symsrv, "Exclusions"));
    Engine().Close();
    ASSERT_TRUE(Engine().Init());
    EXPECT_EQ(Lines({"x.pdb", "y.dbg"}), Config().ExclusionList);

    config.ExclusionList.clear();
    Engine().SetConfiguration(config);
    EXPECT_EQ(std::string::npos, ReadFileBytes(symsrv).find("[Exclusions]"));
    EXPECT_EQ(1234, CIniFile(symsrv.c_str()).GetInt("Http", "Timeout", 0));
}

// A directory where a file is to be written makes the write fail (file
// attributes would not: the tests may run with the rights to ignore them).
TEST_F(AppEngineTest, FailedSavesRecordTheirMessageAndCodeAndTheSettingsStillApply)
{
    ASSERT_TRUE(Engine().Init());
    ASSERT_TRUE(DeleteFileA(UserIniFile().c_str()));
    ASSERT_TRUE(CreateDirectoryA(UserIniFile().c_str(), nullptr));
    AppConfiguration config = Config();
    config.Enabled = false;
    config.ExclusionList = {"kept.pdb"};
    Engine().SetConfiguration(config);
    std::string message;
    DWORD code = 0;
    CErrorReport::GetErrorInfo(message, code);
    EXPECT_EQ("Cannot save settings in .INI file.", message);
    EXPECT_NE(0u, code);
    EXPECT_FALSE(Config().Enabled);
    // The list is not written when the settings could not be.
    EXPECT_TRUE(SectionKeys(m_addIn.File("symsrv.ini"), "Exclusions").empty());
    RemoveDirectoryA(UserIniFile().c_str());

    CErrorReport::ClearErrorInfo();
    ASSERT_TRUE(CreateDirectoryA(m_addIn.File("symsrv.ini").c_str(), nullptr));
    Engine().SetConfiguration(config);
    CErrorReport::GetErrorInfo(message, code);
    RemoveDirectoryA(m_addIn.File("symsrv.ini").c_str());
    EXPECT_EQ("Cannot save exclusion list in symsrv.ini file.", message);
    EXPECT_NE(0u, code);
    EXPECT_EQ(Lines({"kept.pdb"}), Config().ExclusionList);
}

TEST_F(AppEngineTest, ToolbarFlagLivesInTheUserIni)
{
    EXPECT_FALSE(CAppEngine::IsToolbarAdded());
    CAppEngine::SetToolbarAdded(true);
    EXPECT_TRUE(CAppEngine::IsToolbarAdded());
    EXPECT_EQ(1, CIniFile(UserIniFile().c_str()).GetInt("Status", "ToolbarAdded", 0));
    CAppEngine::SetToolbarAdded(false);
    EXPECT_FALSE(CAppEngine::IsToolbarAdded());
}

} // namespace
