#include "HttpStoreFixture.h"

// Remembered misses of HTTP stores: a file the samples server does not have
// is not asked for again until MissSeconds have passed, in any process.
class HttpStoreMissTest : public HttpStoreFixture
{
protected:
    std::string SamplesChain(const std::string& path) const { return Chain(Url("samples", path)); }

    // Requests the samples server logged so far under a path prefix.
    static size_t Requests(const std::string& prefix)
    {
        return LinesStartingWith(SplitLines(ServerLog("samples")), "GET " + prefix).size();
    }

    // A store that has nothing: every file is a miss there.
    static std::string MissingEntry() { return "/nostore/"; }
    IMAGEHLP_MODULE64 LoadMissing(const std::string& image = "rsds.exe")
    {
        return Load(Image(image), SamplesChain("/nostore"), kExact);
    }
};

TEST_F(HttpStoreMissTest, RemembersNotFoundOfEachSymbolKindAcrossSessions)
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
TEST_F(HttpStoreMissTest, DISABLED_ChildLoadsMissingFileRepeatedly)
{
    char shared[MAX_PATH] = {};
    ASSERT_NE(0u, GetEnvironmentVariableA("QX3_SHARED_DOWNSTREAM", shared, sizeof(shared)));
    for (int load = 0; load < 20; ++load)
    {
        m_lines.clear();
        const IMAGEHLP_MODULE64 module =
            Load(Image("rsds.exe"), "srv*" + std::string(shared) + "*" + Url("samples", "/nostore"), kExact);
        ASSERT_EQ(SymNone, module.SymType);
        ASSERT_TRUE(HasLine(" - file not found")) << load;
    }
}

TEST_F(HttpStoreMissTest, TwoProcessesShareTheirMisses)
{
    const std::string shared = m_work->File("shared");
    ASSERT_TRUE(SetEnvironmentVariableA("QX3_SHARED_DOWNSTREAM", shared.c_str()));
    const size_t before = Requests(MissingEntry());
    std::vector<HANDLE> children;
    for (int child = 0; child < 2; ++child)
    {
        const HANDLE process =
            StartProgram("\"" + ExeDirectory() +
                         "qx3dbghelp_test.exe\" --gtest_also_run_disabled_tests "
                         "--gtest_filter=HttpStoreMissTest.DISABLED_ChildLoadsMissingFileRepeatedly");
        ASSERT_NE(nullptr, process);
        children.push_back(process);
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

TEST_F(HttpStoreMissTest, MissSecondsZeroAsksEveryTime)
{
    WriteSymsrvIni("[Http]\r\nMissSeconds=0\r\n");
    NewSession();
    const size_t before = Requests(MissingEntry());
    LoadMissing();
    LoadMissing();
    EXPECT_EQ(before + 6, Requests(MissingEntry()));
    EXPECT_TRUE(ListFiles(Downstream()).empty()) << "a miss was recorded";
}

TEST_F(HttpStoreMissTest, AsksAgainOnceMissSecondsHavePassed)
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

TEST_F(HttpStoreMissTest, MissInOneStoreLeavesOtherStoresAsked)
{
    LoadMissing();
    m_lines.clear();
    const IMAGEHLP_MODULE64 module =
        Load(Image("rsds.exe"), SamplesChain("/nostore") + "*" + Url("samples", "/store"), kExact);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_TRUE(HasLine("not asked again yet"));
    EXPECT_STREQ((Downstream() + "\\" + Manifest("rsds.exe", "store_pdb")).c_str(), module.LoadedPdbName);
}
