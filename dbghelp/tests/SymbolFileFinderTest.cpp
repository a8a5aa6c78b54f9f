#include "KeepAliveServer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "HttpStoreFixture.h"

// SymFindFileInPath: one symbol file, named and identified by the caller,
// fetched along a store chain into the downstream store.
class SymbolFileFinderTest : public HttpStoreFixture
{
protected:
    static GUID GuidOf(const std::string& image)
    {
        GUID guid = {};
        unsigned d[11] = {};
        const std::string text = Manifest(image, "pdb_guid");
        EXPECT_EQ(11, sscanf(text.c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &d[0], &d[1], &d[2], &d[3],
                             &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]))
            << text;
        guid.Data1 = d[0];
        guid.Data2 = static_cast<unsigned short>(d[1]);
        guid.Data3 = static_cast<unsigned short>(d[2]);
        for (int i = 0; i < 8; ++i)
            guid.Data4[i] = static_cast<unsigned char>(d[3 + i]);
        return guid;
    }
    static DWORD Number(const std::string& image, const char* key)
    {
        return static_cast<DWORD>(ManifestNumber(image, key));
    }
    // How often the samples server was asked for path.
    static size_t Requests(const std::string& path)
    {
        size_t count = 0;
        for (const std::string& line : SplitLines(ServerLog("samples")))
            count += line.compare(0, path.size() + 5, "GET " + path + " ") == 0 ? 1 : 0;
        return count;
    }
    std::string InDownstream(const std::string& storePath) const { return Downstream() + "\\" + storePath; }

    char m_found[MAX_PATH] = {};
};

TEST_F(SymbolFileFinderTest, FetchesByGuidBySignatureAndByImageIdentity)
{
    Lib().SetOptions(kExact);
    GUID guid = GuidOf("rsds.exe");
    ASSERT_TRUE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), "rsds.pdb", &guid, Number("rsds.exe", "pdb_age"),
                                     0, SSRVOPT_GUIDPTR, m_found, nullptr, nullptr));
    EXPECT_STRCASEEQ(InDownstream(Manifest("rsds.exe", "store_pdb")).c_str(), m_found);

    const DWORD signature = Number("nb10.dll", "pdb_sig");
    ASSERT_TRUE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), "nb10.pdb",
                                     reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(signature)),
                                     Number("nb10.dll", "pdb_age"), 0, SSRVOPT_DWORD, m_found, nullptr, nullptr));
    EXPECT_STRCASEEQ(InDownstream(Manifest("nb10.dll", "store_pdb")).c_str(), m_found);

    DWORD stamp = Number("dbgcv.dll", "timestamp");
    ASSERT_TRUE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), "dbgcv.dbg", &stamp,
                                     Number("dbgcv.dll", "size_of_image"), 0, SSRVOPT_DWORDPTR, m_found, nullptr,
                                     nullptr));
    EXPECT_STRCASEEQ(InDownstream(Manifest("dbgcv.dll", "store_dbg")).c_str(), m_found);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(m_found));
    // The session's callback hears nothing of these searches.
    EXPECT_TRUE(m_lines.empty()) << AllLines();
}

TEST_F(SymbolFileFinderTest, LeavesNothingDownstreamForAnotherIdentity)
{
    GUID guid = GuidOf("rsds.exe");
    SetLastError(0);
    EXPECT_FALSE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), "rsds.pdb", &guid,
                                      Number("rsds.exe", "pdb_age") + 1, 0, SSRVOPT_GUIDPTR, m_found, nullptr,
                                      nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(InDownstream(Manifest("rsds.exe", "store_pdb")).c_str()));
}

namespace
{
BOOL CALLBACK RefuseEveryFile(PCSTR, PVOID context)
{
    ++*static_cast<int*>(context);
    return TRUE;
}
} // namespace

// A prefetch asks no server for a file the user excluded.
TEST_F(SymbolFileFinderTest, AsksNoServerForAnExcludedFile)
{
    UseSymsrvIni("[Exclusions]\r\nrsds.pdb\r\n");
    GUID guid = GuidOf("rsds.exe");
    std::string storePdb = Manifest("rsds.exe", "store_pdb");
    for (char& c : storePdb)
        c = c == '\\' ? '/' : c;
    const size_t before = Requests("/store/" + storePdb);
    EXPECT_FALSE(Lib().FindFileInPath(Process(), Chain(Url("samples", "/store")).c_str(), "rsds.pdb", &guid,
                                      Number("rsds.exe", "pdb_age"), 0, SSRVOPT_GUIDPTR, m_found, nullptr, nullptr));
    EXPECT_EQ(before, Requests("/store/" + storePdb));
}

// The callback sees each matching file and, answering TRUE, has the search go on.
TEST_F(SymbolFileFinderTest, CallbackMayRefuseAMatch)
{
    GUID guid = GuidOf("rsds.exe");
    int calls = 0;
    EXPECT_FALSE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), "rsds.pdb", &guid,
                                      Number("rsds.exe", "pdb_age"), 0, SSRVOPT_GUIDPTR, m_found, RefuseEveryFile, &calls));
    EXPECT_GE(calls, 1);
}

TEST_F(SymbolFileFinderTest, RefusesUnusableArguments)
{
    GUID guid = GuidOf("rsds.exe");
    const struct
    {
        const char* what;
        PCSTR name;
        PVOID id;
        DWORD flags;
    } cases[] = {
        {"a path for a name", "..\\rsds.pdb", &guid, SSRVOPT_GUIDPTR},
        {"no name", nullptr, &guid, SSRVOPT_GUIDPTR},
        {"a GUID without its pointer", "rsds.pdb", nullptr, SSRVOPT_GUIDPTR},
        {"a GUID for a DBG file", "dbgcv.dbg", &guid, SSRVOPT_GUIDPTR},
    };
    for (const auto& c : cases)
    {
        SetLastError(0);
        EXPECT_FALSE(Lib().FindFileInPath(Process(), Chain(Store()).c_str(), c.name, c.id, 1, 0, c.flags, m_found,
                                          nullptr, nullptr))
            << c.what;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << c.what;
    }
}

// A file searched for alone and the same file loaded with its image, all
// asked for at once in one session: the server sees one download.
TEST_F(SymbolFileFinderTest, OneDownloadPerKeyWhenSearchesAndLoadsAskAtOnce)
{
    Lib().SetOptions(kExact);
    const std::string path = Chain(Url("samples", "/store"));
    ASSERT_TRUE(Lib().SetSearchPath(Process(), path.c_str()));
    std::string storePdb = Manifest("rsds.exe", "store_pdb");
    for (char& c : storePdb)
        c = c == '\\' ? '/' : c;
    const size_t before = Requests("/store/" + storePdb);

    std::mutex lock;
    std::condition_variable start;
    bool go = false;
    const GUID guid = GuidOf("rsds.exe");
    const DWORD age = Number("rsds.exe", "pdb_age");
    std::vector<int> found(4, 0);
    std::vector<std::thread> askers;
    for (int i = 0; i < 4; ++i)
    {
        askers.emplace_back(
            [&, i]
            {
                {
                    std::unique_lock<std::mutex> held(lock);
                    start.wait(held, [&] { return go; });
                }
                if (i % 2 == 0)
                {
                    GUID id = guid;
                    char file[MAX_PATH] = {};
                    found[i] = Lib().FindFileInPath(Process(), path.c_str(), "rsds.pdb", &id, age, 0,
                                                    SSRVOPT_GUIDPTR, file, nullptr, nullptr);
                    return;
                }
                const DWORD64 base = 0x10000000ull * (i + 1);
                found[i] = Lib().LoadModule64(Process(), nullptr, Image("rsds.exe").c_str(), nullptr, base, 0) == base;
                Lib().UnloadModule64(Process(), base);
            });
    }
    {
        std::lock_guard<std::mutex> held(lock);
        go = true;
    }
    start.notify_all();
    for (std::thread& asker : askers)
        asker.join();
    EXPECT_EQ(std::vector<int>(4, 1), found);
    EXPECT_EQ(before + 1, Requests("/store/" + storePdb)) << ServerLog("samples");
}

// A loopback store with one file, rsds.exe's PDB, whose answer it holds until
// the test releases it (or for 20 s, should a test end without releasing);
// everything else is missing. Network waits are raised above that, so that
// a held download stays in flight in the library too.
class HeldDownloadTest : public SymbolFileFinderTest
{
protected:
    void SetUp() override
    {
        SymbolFileFinderTest::SetUp();
        UseSymsrvIni("[Http]\r\nTimeout=60000\r\n");
    }
    void TearDown() override
    {
        Release();
        SymbolFileFinderTest::TearDown();
    }

    std::string HeldChain() const { return Chain(m_server.Url("/")); }
    bool SearchRsdsPdb(PCSTR path)
    {
        GUID guid = GuidOf("rsds.exe");
        char file[MAX_PATH] = {};
        return Lib().FindFileInPath(Process(), path, "rsds.pdb", &guid, Number("rsds.exe", "pdb_age"), 0,
                                    SSRVOPT_GUIDPTR, file, nullptr, nullptr) != FALSE;
    }
    bool WaitAsked()
    {
        std::unique_lock<std::mutex> hold(m_lock);
        return m_changed.wait_for(hold, std::chrono::seconds(20), [&] { return m_asked > 0; });
    }
    // Asked, and not answered yet.
    bool Holding()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_asked > 0 && !m_answered;
    }
    int Asked()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_asked;
    }
    void Release()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_released = true;
        m_changed.notify_all();
    }

    const std::string m_storePdb = Manifest("rsds.exe", "store_pdb");

private:
    std::string Answer(const std::string& path)
    {
        std::string held = "/" + m_storePdb;
        std::replace(held.begin(), held.end(), '\\', '/');
        if (path != held)
            return CKeepAliveServer::Reply("404 Not Found", "");
        std::unique_lock<std::mutex> hold(m_lock);
        ++m_asked;
        m_changed.notify_all();
        m_changed.wait_for(hold, std::chrono::seconds(20), [&] { return m_released; });
        m_answered = true;
        return CKeepAliveServer::Reply("200 OK", ReadFileBytes(Store() + "\\" + m_storePdb));
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_asked = 0;
    bool m_answered = false;
    bool m_released = false;
    // Last: its threads answer through the members above.
    CKeepAliveServer m_server{[this](const std::string& path) { return Answer(path); }};
};

// While a search (as the prefetch runs) waits for one file, the debugger's
// load of another image and a search for another file complete; the load of
// the held file's own image takes the download in flight.
TEST_F(HeldDownloadTest, OtherFilesCompleteWhileADownloadIsHeldAndItsOwnImageJoinsIt)
{
    const std::string path = HeldChain() + ";" + Chain(Store());
    Lib().SetOptions(kExact);
    ASSERT_TRUE(Lib().SetSearchPath(Process(), path.c_str()));
    BOOL searched = FALSE;
    CJoinedThread search([&] { searched = SearchRsdsPdb(nullptr); });
    ASSERT_TRUE(WaitAsked());
    const DWORD64 base = 0x20000000;
    DWORD64 loaded = 0;
    CJoinedThread load([&] { loaded = Lib().LoadModule64(Process(), nullptr, Image("rsds.exe").c_str(), nullptr, base, 0); });

    EXPECT_EQ(SymTypeOf("nb10.dll"), Load(Image("nb10.dll"), path, kExact).SymType) << AllLines();
    DWORD stamp = Number("dbgcv.dll", "timestamp");
    EXPECT_TRUE(Lib().FindFileInPath(Process(), path.c_str(), "dbgcv.dbg", &stamp,
                                     Number("dbgcv.dll", "size_of_image"), 0, SSRVOPT_DWORDPTR, m_found, nullptr,
                                     nullptr));
    EXPECT_TRUE(Holding());
    Release();
    search.Join();
    load.Join();
    EXPECT_TRUE(searched);
    EXPECT_EQ(base, loaded);
    EXPECT_EQ(1, Asked());
}

// SymCleanup in the middle of a download returns at once, the next session
// works meanwhile, and the download still lands whole, with nothing else.
TEST_F(HeldDownloadTest, SessionEndedMidDownloadReturnsAtOnceAndTheNextSessionWorks)
{
    const std::string path = HeldChain();
    BOOL searched = FALSE;
    CJoinedThread search([&] { searched = SearchRsdsPdb(path.c_str()); });
    ASSERT_TRUE(WaitAsked());
    NewSession();
    EXPECT_EQ(SymTypeOf("nb10.dll"), Load(Image("nb10.dll"), Chain(Store()), kExact).SymType) << AllLines();
    EXPECT_TRUE(Holding());
    Release();
    search.Join();
    EXPECT_TRUE(searched);
    std::vector<std::string> expected = StorePaths("nb10.dll");
    expected.push_back(m_storePdb);
    std::vector<std::string> found = ListFiles(Downstream());
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(expected, found);
    EXPECT_EQ(ReadFileBytes(Store() + "\\" + m_storePdb), ReadFileBytes(Downstream() + "\\" + m_storePdb));
}
