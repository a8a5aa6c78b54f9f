#include "SymbolLibraryFixture.h"

#include "HttpServers.h"

namespace
{
const DWORD kExact = SYMOPT_DEBUG | SYMOPT_EXACT_SYMBOLS;

size_t CountOf(const std::string& text, const std::string& fragment)
{
    size_t count = 0;
    for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1))
        ++count;
    return count;
}
} // namespace

// Compressed entries, file.ptr, damaged files and remembered misses of HTTP
// stores: the "samples" server of tests/http-servers.sh serves the generated
// samples directory, whose store forms storecases.py writes.
class HttpStoreFormsTest : public SymbolLibraryFixture
{
protected:
    void SetUp() override
    {
        SymbolLibraryFixture::SetUp();
        ASSERT_NE(0u, HttpServerPort("samples")) << "no server ports: run this test through ctest";
    }

    std::string Chain(const std::string& path) const
    {
        return "srv*" + Downstream() + "*" + HttpServerUrl("samples", path);
    }

    // Requests the samples server logged so far under a path prefix.
    static size_t Requests(const std::string& prefix) { return CountOf(HttpServerLog("samples"), "GET " + prefix); }

    // A store that has nothing: every file is a miss there.
    static std::string MissingEntry() { return "/nostore/"; }
    IMAGEHLP_MODULE64 LoadMissing(const std::string& image = "rsds.exe")
    {
        return Load(Image(image), Chain("/nostore"), kExact);
    }
};

TEST_F(HttpStoreFormsTest, ExpandsCompressedEntryOfEachSymbolKind)
{
    for (const std::string& image : SeparateSymbolImages())
    {
        SCOPED_TRACE(image);
        const IMAGEHLP_MODULE64 module = Load(Image(image), Chain("/compressed/store"), kExact);
        EXPECT_EQ(SymTypeOf(image), module.SymType);
        EXPECT_TRUE(HasLine(" expanded to "));
        ExpectDownstreamHoldsExactly(image, true);
        m_lines.clear();
    }
}

TEST_F(HttpStoreFormsTest, FollowsPointerOfEachSymbolKind)
{
    for (const std::string& image : SeparateSymbolImages())
    {
        SCOPED_TRACE(image);
        const IMAGEHLP_MODULE64 module = Load(Image(image), Chain("/pointer/path/store"), kExact);
        EXPECT_EQ(SymTypeOf(image), module.SymType);
        ExpectDownstreamHoldsExactly(image, true);
    }
}

TEST_F(HttpStoreFormsTest, PointerMessageEndsTheSearchInThatStoreOnly)
{
    const IMAGEHLP_MODULE64 module =
        Load(Image("dbgcv.dll"), Chain("/pointer/message/store") + "*" + HttpServerUrl("samples", "/store"), kExact);
    EXPECT_TRUE(HasLine("/file.ptr - the store says: This file was withdrawn from the sample store.\n"));
    EXPECT_EQ(SymCv, module.SymType) << "the next store was not asked";
    ExpectDownstreamHoldsExactly("dbgcv.dll");
}

TEST_F(HttpStoreFormsTest, PointerToMissingFileIsAMissThatKeepsNothing)
{
    DWORD64 base = 0;
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), Chain("/pointer/missing/store"), kExact, &base);
    EXPECT_NE(0u, base);
    EXPECT_EQ(SymNone, module.SymType);
    EXPECT_TRUE(HasLine(" - file not found (named by http://"));
    EXPECT_TRUE(ListFiles(Downstream()).empty());
}

TEST_F(HttpStoreFormsTest, RefusesDamagedCabinetsAndKeepsNothing)
{
    for (const char* name : {"corrupt", "truncated", "othername", "undecodable", "wrongsize"})
    {
        SCOPED_TRACE(name);
        const IMAGEHLP_MODULE64 module =
            Load(Image("nb10.dll"), Chain(std::string("/cabinet/") + name + "/store"), kExact);
        EXPECT_EQ(SymNone, module.SymType);
        EXPECT_TRUE(HasLine("/nb10.pd_ - refused: "));
        EXPECT_TRUE(ListFiles(Downstream()).empty()) << "a download or expansion was left behind";
        m_lines.clear();
    }
}

TEST_F(HttpStoreFormsTest, RefusesDamagedPdbsAndKeepsNothing)
{
    for (const DamagedPdb& c : DamagedPdbs())
    {
        SCOPED_TRACE(c.name);
        const IMAGEHLP_MODULE64 module =
            Load(Image(c.image), Chain(std::string("/damaged/") + c.name + "/store"), kExact);
        EXPECT_EQ(SymNone, module.SymType);
        EXPECT_STREQ("", module.LoadedPdbName);
        EXPECT_TRUE(HasLine(std::string(" - unreadable or corrupt: ") + c.reason));
        EXPECT_TRUE(ListFiles(Downstream()).empty()) << "the damaged file was kept downstream";
        m_lines.clear();
    }
}

TEST_F(HttpStoreFormsTest, RemembersNotFoundOfEachSymbolKindAcrossSessions)
{
    const size_t before = Requests(MissingEntry());
    for (const std::string& image : SeparateSymbolImages())
        LoadMissing(image);
    // The file, its compressed form and file.ptr; a DBG naming a PDB is the
    // one file asked for dbgpdb.dll.
    EXPECT_EQ(before + 3 * SeparateSymbolImages().size(), Requests(MissingEntry()));
    NewSession();
    for (const std::string& image : SeparateSymbolImages())
    {
        SCOPED_TRACE(image);
        m_lines.clear();
        EXPECT_EQ(SymNone, LoadMissing(image).SymType);
        EXPECT_TRUE(HasLine(" - file not found 0 s ago; not asked again yet\n"));
    }
    EXPECT_EQ(before + 3 * SeparateSymbolImages().size(), Requests(MissingEntry())) << "asked again";
}

// Run only as a child of the test below: loads a missing file again and
// again through the downstream store QX3_SHARED_DOWNSTREAM names.
TEST_F(HttpStoreFormsTest, DISABLED_ChildLoadsMissingFileRepeatedly)
{
    char shared[MAX_PATH] = {};
    ASSERT_NE(0u, GetEnvironmentVariableA("QX3_SHARED_DOWNSTREAM", shared, sizeof(shared)));
    for (int load = 0; load < 20; ++load)
    {
        m_lines.clear();
        const IMAGEHLP_MODULE64 module =
            Load(Image("rsds.exe"), "srv*" + std::string(shared) + "*" + HttpServerUrl("samples", "/nostore"), kExact);
        ASSERT_EQ(SymNone, module.SymType);
        ASSERT_TRUE(HasLine(" - file not found")) << load;
    }
}

TEST_F(HttpStoreFormsTest, TwoProcessesShareTheirMisses)
{
    const std::string shared = m_work->File("shared");
    ASSERT_TRUE(SetEnvironmentVariableA("QX3_SHARED_DOWNSTREAM", shared.c_str()));
    const size_t before = Requests(MissingEntry());
    std::vector<HANDLE> children;
    for (int child = 0; child < 2; ++child)
    {
        std::string command = "\"" + ExeDirectory() +
                              "qx3dbghelp_test.exe\" --gtest_also_run_disabled_tests "
                              "--gtest_filter=HttpStoreFormsTest.DISABLED_ChildLoadsMissingFileRepeatedly";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(
            CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
        CloseHandle(info.hThread);
        children.push_back(info.hProcess);
    }
    SetEnvironmentVariableA("QX3_SHARED_DOWNSTREAM", nullptr);
    for (HANDLE child : children)
    {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child, 120000));
        DWORD code = 1;
        EXPECT_TRUE(GetExitCodeProcess(child, &code));
        EXPECT_EQ(0u, code) << "a child's loads failed";
        CloseHandle(child);
    }
    // Forty loads: each process asks at most once before a record exists.
    const size_t asked = Requests(MissingEntry()) - before;
    EXPECT_GE(asked, 3u);
    EXPECT_LE(asked, 6u);
    const std::vector<std::string> records = ListFiles(shared);
    ASSERT_EQ(1u, records.size()) << "one whole record, no temporary file left";
    EXPECT_NE(std::string::npos, records[0].find(".miss"));
}

TEST_F(HttpStoreFormsTest, MissSecondsZeroAsksEveryTime)
{
    WriteSymsrvIni("[Http]\r\nMissSeconds=0\r\n");
    NewSession();
    const size_t before = Requests(MissingEntry());
    LoadMissing();
    LoadMissing();
    EXPECT_EQ(before + 6, Requests(MissingEntry()));
    EXPECT_TRUE(ListFiles(Downstream()).empty()) << "a miss was recorded";
}

TEST_F(HttpStoreFormsTest, AsksAgainOnceMissSecondsHavePassed)
{
    WriteSymsrvIni("[Http]\r\nMissSeconds=60\r\n");
    NewSession();
    LoadMissing();
    // Every record made 61 s older.
    const std::vector<std::string> records = ListFiles(Downstream());
    ASSERT_FALSE(records.empty());
    for (const std::string& record : records)
    {
        HANDLE file = CreateFileA((Downstream() + "\\" + record).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        FILETIME time;
        GetSystemTimeAsFileTime(&time);
        ULARGE_INTEGER value = {{time.dwLowDateTime, time.dwHighDateTime}};
        value.QuadPart -= 61ull * 10000000ull;
        time.dwLowDateTime = value.LowPart;
        time.dwHighDateTime = value.HighPart;
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
        CloseHandle(file);
    }
    const size_t before = Requests(MissingEntry());
    LoadMissing();
    EXPECT_EQ(before + 3, Requests(MissingEntry()));
}

TEST_F(HttpStoreFormsTest, MissInOneStoreLeavesOtherStoresAsked)
{
    LoadMissing();
    m_lines.clear();
    const IMAGEHLP_MODULE64 module =
        Load(Image("rsds.exe"), Chain("/nostore") + "*" + HttpServerUrl("samples", "/store"), kExact);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_TRUE(HasLine("not asked again yet"));
    EXPECT_STREQ((Downstream() + "\\" + Manifest("rsds.exe", "store_pdb")).c_str(), module.LoadedPdbName);
}

TEST_F(HttpStoreFormsTest, FailedServerIsNotRememberedAsMiss)
{
    WriteSymsrvIni("[Http]\r\nTimeout=300\r\nOfflineSeconds=0\r\n");
    NewSession();
    Load(Image("nb10.dll"), "srv*" + Downstream() + "*" + HttpServerUrl("mute"), kExact);
    EXPECT_TRUE(HasLine(" - timed out"));
    EXPECT_TRUE(ListFiles(Downstream()).empty());
}
