#include "SymbolLibraryFixture.h"

using SymbolDiagnosticsTest = SymbolLibraryFixture;

TEST_F(SymbolDiagnosticsTest, ReportsEachPathTriedInOrder)
{
    Load(Image("nb10.dll"), m_work->Path() + ";" + Symbols(), kExact);
    const std::vector<std::string> expected = {
        "DBGHELP: " + Manifest("nb10.dll", "pdb_path") + " - file not found\n",
        "DBGHELP: " + m_work->File("nb10.pdb") + " - file not found\n",
        "DBGHELP: " + m_work->File("symbols\\dll\\nb10.pdb") + " - file not found\n",
        "DBGHELP: " + m_work->File("dll\\nb10.pdb") + " - file not found\n",
        "DBGHELP: " + Symbols() + "\\nb10.pdb - OK\n",
        "DBGHELP: nb10 - PDB symbols loaded from " + Symbols() + "\\nb10.pdb\n",
    };
    EXPECT_EQ(expected, m_lines);
}

TEST_F(SymbolDiagnosticsTest, ReportsCopyIntoDownstreamWithItsSize)
{
    Load(Image("nb10.dll"), Chain(Store()), kExact);
    const std::string stored = "\\" + Manifest("nb10.dll", "store_pdb");
    const std::string size = std::to_string(ReadFileBytes(Store() + stored).size());
    EXPECT_TRUE(HasLine("SYMSRV:  " + Downstream() + stored + " - file not found\n"));
    EXPECT_TRUE(
        HasLine("SYMSRV:  " + Store() + stored + " copied to " + Downstream() + stored + " (" + size + " bytes)\n"));
}

TEST_F(SymbolDiagnosticsTest, ReportsWhyMismatchedFileWasRefused)
{
    Load(Image("nb10.dll"), Samples() + "\\mismatch\\age", kExact);
    // The file's age differs from the image's 2.
    const std::string line = "DBGHELP: " + Samples() + "\\mismatch\\age\\nb10.pdb - mismatched age (";
    EXPECT_TRUE(HasLine(line)) << line;
    EXPECT_TRUE(HasLine(", image 2)\n"));
}

TEST_F(SymbolDiagnosticsTest, EndsEveryLineWithOneLineFeedAfterKnownPrefix)
{
    Load(Image("dbgpdb.dll"), Chain(Store()), kExact);
    ASSERT_FALSE(m_lines.empty());
    for (const std::string& line : m_lines)
    {
        EXPECT_TRUE(line.compare(0, 9, "DBGHELP: ") == 0 || line.compare(0, 9, "SYMSRV:  ") == 0) << line;
        EXPECT_EQ(line.size() - 1, line.find('\n')) << line;
    }
}

TEST_F(SymbolDiagnosticsTest, SendsNothingWithoutDebugOption)
{
    Load(Image("nb10.dll"), Symbols(), SYMOPT_EXACT_SYMBOLS);
    EXPECT_TRUE(m_lines.empty());
}

TEST_F(SymbolDiagnosticsTest, CallsBackOnCallingThreadWithProcessAndContext)
{
    struct Seen
    {
        DWORD thread = 0;
        HANDLE process = nullptr;
        ULONG64 context = 0;
        static BOOL CALLBACK Notify(HANDLE process, ULONG action, ULONG64, ULONG64 context)
        {
            auto* seen = reinterpret_cast<Seen*>(static_cast<ULONG_PTR>(context));
            if (action == CBA_DEBUG_INFO)
                seen->thread = GetCurrentThreadId();
            seen->process = process;
            seen->context = context;
            return TRUE;
        }
    } seen;
    const ULONG64 context = reinterpret_cast<ULONG_PTR>(&seen);
    ASSERT_TRUE(Lib().RegisterCallback64(Process(), &Seen::Notify, context));
    Load(Image("nb10.dll"), Symbols(), kExact);
    EXPECT_EQ(GetCurrentThreadId(), seen.thread);
    EXPECT_EQ(Process(), seen.process);
    EXPECT_EQ(context, seen.context);
}

class ExclusionTest : public SymbolLibraryFixture
{
protected:
    // A new session reads symsrv.ini afresh.
    void Restart(const std::string& ini)
    {
        WriteSymsrvIni(ini);
        NewSession();
    }
    IMAGEHLP_MODULE64 LoadThroughStore(const std::string& image) { return Load(Image(image), Chain(Store()), kExact); }
};

// Patterns match file names without regard to case, with wildcards; a
// key=value line's key is the pattern. An excluded file is fetched from no
// store, yet still found in a plain directory.
TEST_F(ExclusionTest, FetchesExcludedFileFromNoStoreOnly)
{
    const struct
    {
        const char* ini;
        const char* image;
        const char* pdb;
    } cases[] = {{"[Exclusions]\r\nnb10.pdb\r\n", "nb10.dll", "nb10.pdb"},
                 {"[Exclusions]\r\nN?10.*\r\n", "nb10.dll", "nb10.pdb"},
                 {"[Exclusions]\r\n*.pdb=1\r\n", "rsds.exe", "rsds.pdb"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.ini);
        Restart(c.ini);
        EXPECT_EQ(SymNone, LoadThroughStore(c.image).SymType);
        EXPECT_TRUE(ListFiles(Downstream()).empty());
        EXPECT_TRUE(HasLine("SYMSRV:  " + std::string(c.pdb) + " - excluded by symsrv.ini\n")) << AllLines();
        EXPECT_EQ(SymPdb, Load(Image(c.image), Symbols(), kExact).SymType);
        m_lines.clear();
    }
}

TEST_F(ExclusionTest, ListChangedDuringASessionCountsFromTheNextLoad)
{
    Restart("[Exclusions]\r\nother*.pdb\r\n");
    EXPECT_EQ(SymPdb, LoadThroughStore("nb10.dll").SymType);

    WriteSymsrvIni("[Exclusions]\r\nnb10.pdb\r\n");
    EXPECT_EQ(SymNone, LoadThroughStore("nb10.dll").SymType);
    EXPECT_TRUE(HasLine("SYMSRV:  nb10.pdb - excluded by symsrv.ini\n"));

    ASSERT_TRUE(DeleteFileA((Lib().Directory() + "\\symsrv.ini").c_str()));
    EXPECT_EQ(SymPdb, LoadThroughStore("nb10.dll").SymType);
}
