// The whole path of a debug event: the stand-ins of the debugger's modules
// debug a real program, the real qx3trap hands each event to the engine
// initialised from INI files, the real qx3fetch answers over COM, and the log
// reaches a window of this (the GUI) thread. The add-in's directory is this
// program's own, so qx3trap.dll and symsrv.ini are the ones beside qx3fetch.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AddInDirectory.h"
#include "AppEngine.h"
#include "ComTestSupport.h"
#include "DebuggerPackage.h"
#include "HeldStore.h"
#include "IniFile.h"
#include "OutputWindow.h"
#include "PathSplit.h"
#include "ScopedHandle.h"
#include "SymbolServerFixture.h"
#include "TestSupport.h"

namespace
{

using Lines = std::vector<std::string>;

// Sample images of this build's width, loaded into the debuggee as modules:
// one without symbol files, and a program whose PDB the store holds.
constexpr bool kWide = sizeof(void*) == 8;
const char* const kPlainDll = kWide ? "exports64.dll" : "exports.dll";
const char* const kProgram = kWide ? "rsds64.exe" : "rsds.exe";
const char* const kProgramPdb = kWide ? "exe\\rsds64.pdb" : "exe\\rsds.pdb";

// The image a log is about: the file name of its first line, "QUILLM: File: <path>".
std::string ImageOf(const std::string& text)
{
    const std::string prefix = "QUILLM: File: ";
    if (text.compare(0, prefix.size(), prefix) != 0)
        return std::string();
    const std::string path = text.substr(prefix.size(), text.find('\n') - prefix.size());
    return path.substr(path.find_last_of("\\/") + 1);
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

class DebugSessionTest : public SymbolServerFixture
{
protected:
    static void SetUpTestSuite()
    {
        // As in the IDE, the debugger package is loaded before the add-in
        // starts; the hook library hooks it at once and follows it as it
        // loads the rest of the debugger.
        s_package = new CDebuggerPackage;
        if (!s_package->Load(ExeDirectory() + "DEVDBG.PKG"))
            return;
        RemoveUserIni();
        CreateDirectoryA(UserIniDir().c_str(), nullptr);
        WriteFileBytes(UserIniFile(), "[Settings]\r\nEnabled=1\r\nReportProgress=1\r\nUseNtSymPath=0\r\nSymPath=" +
                                          StorePath() + "\r\nVCSymDir=" + SamplesDir() + "\\unused\r\n");
        AppConfiguration config;
        s_ready = CAppEngine::GetInstance().Init() && CAppEngine::GetInstance().GetConfiguration(config) &&
                  config.SymPath == StorePath() && !config.UseNtSymPath && s_package->LoadDebugger();
    }
    static void TearDownTestSuite()
    {
        CAppEngine::GetInstance().Close();
        delete s_package;
        s_package = nullptr;
        RemoveUserIni();
        DeleteFileA((ExeDirectory() + "symsrv.ini").c_str());
    }
    void SetUp() override
    {
        SymbolServerFixture::SetUp();
        ASSERT_TRUE(s_ready);
        AppConfiguration config = Config();
        config.SymPath = StorePath();
        config.DestDir = Dest();
        config.ExclusionList.clear();
        Engine().SetConfiguration(config);
    }

    static CAppEngine& Engine() { return CAppEngine::GetInstance(); }
    static AppConfiguration Config()
    {
        AppConfiguration config;
        EXPECT_TRUE(Engine().GetConfiguration(config));
        return config;
    }
    // Starts the debuggee with the arguments; the debugger waits waitMs at a
    // time. The debuggee's process, opened for waiting, or null.
    static HANDLE StartDebug(const std::string& arguments, DWORD waitMs = 10)
    {
        const std::string commandLine = Quoted(ExeDirectory() + "vc6_debuggee.exe") + " " + arguments;
        DWORD processId = 0;
        if (!s_package->StartDebug(commandLine, waitMs, &processId))
            return nullptr;
        return OpenProcess(SYNCHRONIZE, FALSE, processId);
    }
    // Runs a whole session, showing the logs as they come; false when it did
    // not end within two minutes.
    bool Debug(const std::string& arguments, DEBUG_SESSION_RESULT& result)
    {
        CScopedHandle debuggee(StartDebug(arguments));
        if (!debuggee.IsValid())
            return false;
        m_window.PumpUntil([&] { return WaitForSingleObject(debuggee.Get(), 0) == WAIT_OBJECT_0; }, 120000,
                           debuggee.Get());
        // The process has gone: the debugger has its last events to see, none of which brings an image.
        const bool ended = s_package->WaitDebugEnd(30000, result);
        m_window.PumpPending();
        return ended;
    }
    // The shown text about an image, or empty.
    std::string TextOf(const std::string& image) const
    {
        for (const std::string& text : m_window.Texts())
        {
            if (ImageOf(text) == image)
                return text;
        }
        return std::string();
    }
    bool Copied(const std::string& relative) const { return FileExists(Dest() + "\\" + relative); }

    COutputWindow m_window;

    static CDebuggerPackage* s_package;
    static bool s_ready;
};

CDebuggerPackage* DebugSessionTest::s_package = nullptr;
bool DebugSessionTest::s_ready = false;

TEST_F(DebugSessionTest, EveryNewImageBecomesOneRequestBeforeTheDebuggerGoesOn)
{
    const Lines dlls = kWide ? Lines{kPlainDll, kProgram} : Lines{"nb10.dll", "dbgcv.dll", kPlainDll, kProgram};
    std::string arguments;
    for (const std::string& dll : dlls)
        arguments += " " + Quoted(SampleImage(dll));
    DEBUG_SESSION_RESULT result = {};
    ASSERT_TRUE(Debug(arguments, result));
    EXPECT_EQ(0u, result.error);

    // One request, and so one log, for each new image and for nothing else.
    const DWORD images = result.eventsByCode[CREATE_PROCESS_DEBUG_EVENT] + result.eventsByCode[LOAD_DLL_DEBUG_EVENT];
    EXPECT_EQ(1u, result.eventsByCode[CREATE_PROCESS_DEBUG_EVENT]);
    EXPECT_GT(result.events, images);
    ASSERT_EQ(images, m_window.Texts().size());
    // In the order of the events. The debugger closes each file handle once
    // the event is handled: a log made later would not have its image.
    EXPECT_EQ("vc6_debuggee.exe", ImageOf(m_window.Texts().front()));
    Lines loaded;
    for (const std::string& text : m_window.Texts())
    {
        EXPECT_NE("", ImageOf(text)) << text;
        for (const std::string& dll : dlls)
        {
            if (EqualNoCase(ImageOf(text), dll))
                loaded.push_back(dll);
        }
    }
    EXPECT_EQ(dlls, loaded);
    EXPECT_TRUE(Copied(kProgramPdb));
    if (!kWide)
    {
        EXPECT_TRUE(Copied("dll\\nb10.pdb"));
        EXPECT_TRUE(Copied("dll\\dbgcv.dbg"));
    }

    // Line by line, in order.
    std::string shown;
    std::string sent;
    for (const std::string& line : m_window.Lines())
    {
        EXPECT_EQ('\n', line.back());
        shown += line;
    }
    for (const std::string& text : m_window.Texts())
        sent += text;
    EXPECT_EQ(sent, shown);
    EXPECT_GT(m_window.Lines().size(), m_window.Texts().size());
}

TEST_F(DebugSessionTest, KilledServerNeitherHangsTheDebuggerNorCostsLaterImagesTheirSymbols)
{
    const std::string first = kPlainDll;
    const std::string second = kProgram;
    const char kGo[] = "Qx3SessionTestGo";
    CScopedHandle go(CreateEventA(nullptr, TRUE, FALSE, kGo));
    DWORD killed = 0;
    // The debuggee waits after the first image until the server is gone.
    m_window.OnText = [&](const std::string& text)
    {
        if (killed == 0 && EqualNoCase(ImageOf(text), first))
        {
            killed = KillTheServer();
            SetEvent(go.Get());
        }
    };
    DEBUG_SESSION_RESULT result = {};
    ASSERT_TRUE(Debug(Quoted(SampleImage(first)) + " -wait " + kGo + " " + Quoted(SampleImage(second)), result));
    ASSERT_NE(0u, killed);
    EXPECT_EQ(2, static_cast<int>(result.exitCode));

    const std::string text = TextOf(second);
    ASSERT_NE("", text) << "no log for the image after the server died";
    EXPECT_TRUE(Copied(kProgramPdb)) << text;
    const std::vector<DWORD> servers = ServerProcessIds();
    ASSERT_EQ(1u, servers.size());
    EXPECT_NE(killed, servers.front());
}

// A copy of the sample nb10.dll whose PDB is named qx3e.pdb, and a store that
// holds that PDB: a name that only this test asks any store for.
class CRenamedSample
{
public:
    CRenamedSample()
    {
        std::string image = ReadFileBytes(SampleImage("nb10.dll"));
        for (size_t at = image.find("nb10.pdb"); at != std::string::npos; at = image.find("nb10.pdb", at))
            image.replace(at, 8, "qx3e.pdb");
        m_ready = WriteFileBytes(m_images.File("qx3e.dll"), image);
        const std::string storePdb = SamplesDir() + "\\store\\nb10.pdb";
        WIN32_FIND_DATAA key;
        HANDLE find = FindFirstFileA((storePdb + "\\*").c_str(), &key);
        while (find != INVALID_HANDLE_VALUE && key.cFileName[0] == '.' && FindNextFileA(find, &key))
        {
        }
        if (find != INVALID_HANDLE_VALUE)
            FindClose(find);
        const std::string keyDir = m_store.File("qx3e.pdb") + "\\" + key.cFileName;
        m_ready =
            m_ready && CreateDirectoryA(m_store.File("qx3e.pdb").c_str(), nullptr) &&
            CreateDirectoryA(keyDir.c_str(), nullptr) &&
            CopyFileA((storePdb + "\\" + key.cFileName + "\\nb10.pdb").c_str(), (keyDir + "\\qx3e.pdb").c_str(), TRUE);
    }
    bool IsReady() const { return m_ready; }
    std::string Image() const { return m_images.File("qx3e.dll"); }
    std::string SymbolPath() const { return "srv*" + m_store.Path(); }

private:
    CTempDir m_images;
    CTempDir m_store;
    bool m_ready = false;
};

TEST_F(DebugSessionTest, SymbolLibraryRefusesToFetchAnExcludedFile)
{
    CRenamedSample sample;
    ASSERT_TRUE(sample.IsReady());
    // The request as the debugger thread would make it for a loaded DLL.
    auto request = [&]
    {
        CScopedHandle file(CreateFileA(sample.Image().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        DEBUG_EVENT event = {};
        event.dwDebugEventCode = LOAD_DLL_DEBUG_EVENT;
        event.u.LoadDll.hFile = file.Get();
        WFDOHandler(&event, 10);
        m_window.PumpPending();
        return m_window.Texts().empty() ? std::string() : m_window.Texts().back();
    };

    AppConfiguration config = Config();
    config.SymPath = sample.SymbolPath();
    config.ExclusionList = {"qx3e.pdb"};
    Engine().SetConfiguration(config);
    EXPECT_EQ(Lines{"qx3e.pdb"}, Config().ExclusionList);
    // A new server reads the new list as it starts.
    ASSERT_NE(0u, KillTheServer());
    std::string log = request();
    EXPECT_NE(std::string::npos, log.find("qx3e.pdb - excluded by symsrv.ini")) << log;
    EXPECT_FALSE(Copied("dll\\qx3e.pdb"));

    config.ExclusionList.clear();
    Engine().SetConfiguration(config);
    ASSERT_NE(0u, KillTheServer());
    log = request();
    EXPECT_EQ(std::string::npos, log.find("excluded")) << log;
    EXPECT_TRUE(Copied("dll\\qx3e.pdb")) << log;
}

// Lock order: the settings thread takes the engine's lock, then the hook
// library's (setting the handler) and the symbol handler's; the debugger
// thread takes the hook library's, then the symbol handler's.
TEST_F(DebugSessionTest, DisconnectionWaitsNeitherForAHeldRequestNorForTheDebuggersWait)
{
    CHeldStore store;
    ASSERT_TRUE(store.IsListening());
    AppConfiguration config = Config();
    config.SymPath = store.SymbolPath(Dest() + "\\cache");
    Engine().SetConfiguration(config);
    // After the image, the debuggee waits (60 s at most) for an event of the
    // test, and the debugger waits for its next event as long.
    const std::string name = "QuillmarDebuggee" + std::to_string(GetCurrentProcessId());
    CScopedHandle proceed(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    CScopedHandle debuggee(StartDebug(Quoted(SampleImage(kProgram)) + " -wait " + name, 60000));
    ASSERT_TRUE(debuggee.IsValid());
    // The debugger thread is in the handler, its request held by the store.
    ASSERT_TRUE(store.WaitArrived(60000));
    Engine().Close();
    EXPECT_TRUE(store.IsHolding());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(debuggee.Get(), 0));
    store.Release();
    SetEvent(proceed.Get());
    DEBUG_SESSION_RESULT result = {};
    EXPECT_TRUE(s_package->WaitDebugEnd(120000, result));
    EXPECT_EQ(0u, result.error);
    ASSERT_TRUE(Engine().Init());
}

TEST_F(DebugSessionTest, SettingsChangesWhileManyImagesLoadNeverDeadlock)
{
    CScopedHandle debuggee(StartDebug("-cycle 500 version.dll"));
    ASSERT_TRUE(debuggee.IsValid());
    AppConfiguration config = Config();
    DEBUG_SESSION_RESULT result = {};
    bool ended = false;
    int changes = 0;
    const DWORD start = GetTickCount();
    while (!(ended = s_package->WaitDebugEnd(0, result)) && GetTickCount() - start < 300000)
    {
        config.ReportProgress = !config.ReportProgress;
        Engine().SetConfiguration(config);
        AppConfiguration read;
        EXPECT_TRUE(Engine().GetConfiguration(read));
        if (++changes % 25 == 0)
        {
            Engine().Close();
            ASSERT_TRUE(Engine().Init());
        }
        m_window.PumpPending();
    }
    ASSERT_TRUE(ended) << "the session did not end";
    EXPECT_EQ(0u, result.error);
    EXPECT_GE(result.events, 1000u);
    EXPECT_EQ(500, static_cast<int>(result.exitCode));
    EXPECT_GT(changes, 25);
    config.ReportProgress = true;
    Engine().SetConfiguration(config);
}

} // namespace
