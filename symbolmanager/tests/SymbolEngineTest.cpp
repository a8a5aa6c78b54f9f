#include "SymbolEngine.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FileHandleUtils.h"
#include "ImportSwap.h"
#include "PathSplit.h"
#include "ScopedHandle.h"
#include "TestSupport.h"

namespace
{

// Replacements for the library and platform calls that the engine makes,
// for the answers the symbol library here never gives.
CImportSwap* g_swap = nullptr;

// Fills the record's loaded names to the last byte, with no terminator.
BOOL WINAPI UnterminatedModuleInfo(HANDLE Process, DWORD64 Base, PIMAGEHLP_MODULE64 Module)
{
    if (!g_swap->Original<decltype(&SymGetModuleInfo64)>()(Process, Base, Module))
        return FALSE;
    const std::string image = "C:\\" + std::string(sizeof(Module->LoadedImageName) - 7, 'i') + ".dbg";
    const std::string pdb = "C:\\" + std::string(sizeof(Module->LoadedPdbName) - 7, 'p') + ".pdb";
    memcpy(Module->LoadedImageName, image.data(), sizeof(Module->LoadedImageName));
    memcpy(Module->LoadedPdbName, pdb.data(), sizeof(Module->LoadedPdbName));
    memset(&Module->CVSig, 'x', sizeof(Module->CVSig));
    return TRUE;
}

BOOL WINAPI RefusedSearchPath(HANDLE, PCSTR)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

DWORD WINAPI NoMappedFileName(HANDLE, LPVOID, LPSTR, DWORD)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
}

bool IsLibraryLine(const std::string& line)
{
    return line.compare(0, 8, "QUILLM: ") != 0;
}

// The engine's own lines, in order; the library's lines are recognised by
// not starting with "QUILLM: " and must each end in a line end.
std::vector<std::string> EngineLines(const std::vector<std::string>& log)
{
    std::vector<std::string> lines;
    for (const std::string& line : log)
    {
        if (IsLibraryLine(line))
        {
            EXPECT_FALSE(line.empty());
            EXPECT_EQ('\n', line.back()) << line;
        }
        else
        {
            lines.push_back(line);
        }
    }
    return lines;
}

// The log with each run of the library's lines folded into one "<library>".
std::vector<std::string> LogShape(const std::vector<std::string>& log)
{
    std::vector<std::string> shape;
    for (const std::string& line : log)
    {
        if (!IsLibraryLine(line))
            shape.push_back(line);
        else if (shape.empty() || shape.back() != "<library>")
            shape.push_back("<library>");
    }
    return shape;
}

// One engine, initialised as the server does it: diagnostics on, exact
// symbols only.
class SymbolEngineTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_engine = new CSymbolEngine();
        s_engine->AddSymOptions(SYMOPT_DEBUG | SYMOPT_EXACT_SYMBOLS);
        ASSERT_TRUE(s_engine->Init());
    }
    static void TearDownTestSuite()
    {
        s_engine->Close();
        delete s_engine;
        s_engine = nullptr;
    }
    void SetUp() override
    {
        ASSERT_FALSE(SamplesDir().empty()) << "QX3_SAMPLES names the sample directory";
        s_engine->SetSymOptions(s_engine->GetSymOptions() | SYMOPT_DEBUG | SYMOPT_EXACT_SYMBOLS);
    }

    CSymbolEngine& Engine() { return *s_engine; }
    std::string Dest() const { return m_dest.Path(); }

    CTempDir m_dest;
    static CSymbolEngine* s_engine;
};

CSymbolEngine* SymbolEngineTest::s_engine = nullptr;

TEST_F(SymbolEngineTest, MatchingSymbolsInTheDestinationAreNotFetchedAgain)
{
    ASSERT_TRUE(CopyFileA((SampleSymbolsDir() + "\\nb10.pdb").c_str(), (Dest() + "\\nb10.pdb").c_str(), FALSE));
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("nb10.dll"), SampleSymbolsDir(), Dest(), false, found, log));

    EXPECT_TRUE(found);
    EXPECT_EQ((std::vector<std::string>{"QUILLM: File: " + SampleImage("nb10.dll") + "\n", "QUILLM: Checking symbols...\n",
                                        "QUILLM: Symbols are already available.\n"}),
              EngineLines(log));
    EXPECT_EQ((std::vector<std::string>{"nb10.pdb"}), ListFiles(Dest()));
}

TEST_F(SymbolEngineTest, GuidSignedPdbIsWarnedAboutYetCopiedWithTheLibraryLinesInPlace)
{
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("rsds.exe"), SampleSymbolsDir(), Dest(), false, found, log));
    EXPECT_TRUE(found);
    EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\rsds.pdb"), ReadFileBytes(Dest() + "\\rsds.pdb"));

    EXPECT_EQ((std::vector<std::string>{"QUILLM: File: " + SampleImage("rsds.exe") + "\n", "QUILLM: Checking symbols...\n",
                                        "<library>", "QUILLM: Downloading symbols...\n", "<library>",
                                        "QUILLM: Symbol format can be incompatible with Visual C++ 6.0.\n",
                                        "QUILLM: Copying to " + Dest() + "\\rsds.pdb\n"}),
              LogShape(log));
    // The look in the destination speaks of the destination; the load
    // through the symbol path, before the format check, of the file found.
    size_t downloading = 0;
    while (downloading < log.size() && log[downloading] != "QUILLM: Downloading symbols...\n")
        ++downloading;
    bool foundNamed = false;
    for (size_t i = 0; i < log.size(); ++i)
    {
        if (!IsLibraryLine(log[i]))
            continue;
        if (log[i].find(Dest()) != std::string::npos)
        {
            EXPECT_LT(i, downloading) << log[i];
        }
        foundNamed = foundNamed || (i > downloading && log[i].find(SampleSymbolsDir() + "\\rsds.pdb") != std::string::npos);
    }
    EXPECT_TRUE(foundNamed);
}

TEST_F(SymbolEngineTest, CopiesAMatchingNb10PdbWithoutAWarning)
{
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("nb10.dll"), SampleSymbolsDir(), Dest(), false, found, log));

    EXPECT_TRUE(found);
    EXPECT_EQ((std::vector<std::string>{"QUILLM: File: " + SampleImage("nb10.dll") + "\n", "QUILLM: Checking symbols...\n",
                                        "QUILLM: Downloading symbols...\n",
                                        "QUILLM: Copying to " + Dest() + "\\nb10.pdb\n"}),
              EngineLines(log));
    EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\nb10.pdb"), ReadFileBytes(Dest() + "\\nb10.pdb"));
}

TEST_F(SymbolEngineTest, ExportOnlySymbolsAreRejected)
{
    // Without exact symbols the library falls back to the export table.
    Engine().SetSymOptions(SYMOPT_DEBUG);
    CTempDir empty;
    bool found = true;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("exports.dll"), empty.Path(), Dest(), false, found, log));

    EXPECT_FALSE(found);
    EXPECT_EQ((std::vector<std::string>{"QUILLM: File: " + SampleImage("exports.dll") + "\n", "QUILLM: Checking symbols...\n",
                                        "QUILLM: Downloading symbols...\n"}),
              EngineLines(log));
    EXPECT_TRUE(ListFiles(Dest()).empty());
    bool exportsLoaded = false;
    for (const std::string& line : log)
        exportsLoaded = exportsLoaded || line.find("export symbols") != std::string::npos;
    EXPECT_TRUE(exportsLoaded) << "the library did load the export table, which the engine then refused";
}

TEST_F(SymbolEngineTest, MismatchedPdbIsNeitherAcceptedNorCopied)
{
    bool found = true;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("nb10.dll"), SamplesDir() + "\\mismatch\\sig", Dest(), false, found, log));
    EXPECT_FALSE(found);
    EXPECT_TRUE(ListFiles(Dest()).empty());
}

TEST_F(SymbolEngineTest, DbgThatRefersToAPdbCopiesTheDbgFirst)
{
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("dbgpdb.dll"), SampleSymbolsDir(), Dest() + "\\", false, found, log));

    EXPECT_TRUE(found);
    const std::vector<std::string> lines = EngineLines(log);
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("QUILLM: Copying to " + Dest() + "\\dbgpdb.dbg\n", lines[3]);
    EXPECT_EQ("QUILLM: Copying to " + Dest() + "\\dbgpdb.pdb\n", lines[4]);
    EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\dbgpdb.dbg"), ReadFileBytes(Dest() + "\\dbgpdb.dbg"));
    EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\dbgpdb.pdb"), ReadFileBytes(Dest() + "\\dbgpdb.pdb"));
}

TEST_F(SymbolEngineTest, CodeViewInsideTheImageIsFoundWithoutACopy)
{
    // The image carries its own symbols, so the look in the destination
    // already finds them and there is nothing to copy.
    CTempDir empty;
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("embcv.exe"), empty.Path(), Dest(), false, found, log));
    EXPECT_TRUE(found);
    EXPECT_EQ((std::vector<std::string>{"QUILLM: File: " + SampleImage("embcv.exe") + "\n", "QUILLM: Checking symbols...\n",
                                        "QUILLM: Symbols are already available.\n"}),
              EngineLines(log));
    EXPECT_TRUE(ListFiles(Dest()).empty());
}

TEST_F(SymbolEngineTest, LoadedNamesThatFillTheirRecordFieldsEndWithTheField)
{
    CImportSwap swap("dbghelp.dll", "SymGetModuleInfo64", reinterpret_cast<const void*>(&UnterminatedModuleInfo));
    g_swap = &swap;
    ASSERT_TRUE(swap.IsActive());
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("nb10.dll"), SampleSymbolsDir(), Dest(), false, found, log));

    // Read within its field, the image name ends in ".dbg": the DBG file is
    // copied before the PDB, each under the name its field holds.
    const std::vector<std::string> lines = EngineLines(log);
    ASSERT_EQ(7u, lines.size());
    EXPECT_EQ("QUILLM: Copying to " + Dest() + "\\" + std::string(249, 'i') + ".dbg\n", lines[3]);
    EXPECT_EQ("QUILLM: Copying to " + Dest() + "\\" + std::string(249, 'p') + ".pdb\n", lines[5]);
}

TEST_F(SymbolEngineTest, FileExtensionDirectoryKeepsTheImagesLetterCase)
{
    CTempDir images;
    const std::string upper = images.File("NB10.DLL");
    ASSERT_TRUE(CopyFileA(SampleImage("nb10.dll").c_str(), upper.c_str(), FALSE));
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(upper, SampleSymbolsDir(), Dest(), true, found, log));
    EXPECT_TRUE(found);
    EXPECT_EQ("QUILLM: Copying to " + Dest() + "\\DLL\\nb10.pdb\n", EngineLines(log).back());
    EXPECT_TRUE(FileExists(Dest() + "\\DLL\\nb10.pdb"));
}

TEST_F(SymbolEngineTest, PdbLoadedFromTheDestinationItselfIsUpToDate)
{
    // The DBG comes from a directory of its own; the PDB it refers to is
    // found in the destination, which is also on the symbol path.
    CTempDir dbgOnly;
    ASSERT_TRUE(CopyFileA((SampleSymbolsDir() + "\\dbgpdb.dbg").c_str(), dbgOnly.File("dbgpdb.dbg").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((SampleSymbolsDir() + "\\dbgpdb.pdb").c_str(), (Dest() + "\\dbgpdb.pdb").c_str(), FALSE));
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("dbgpdb.dll"), dbgOnly.Path() + ";" + Dest(), Dest(), false, found,
                                    log));

    EXPECT_TRUE(found);
    EXPECT_EQ((std::vector<std::string>{"QUILLM: File: " + SampleImage("dbgpdb.dll") + "\n",
                                        "QUILLM: Checking symbols...\n", "QUILLM: Downloading symbols...\n",
                                        "QUILLM: Copying to " + Dest() + "\\dbgpdb.dbg\n",
                                        "QUILLM: File is up-to-date.\n"}),
              EngineLines(log));
    EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\dbgpdb.pdb"), ReadFileBytes(Dest() + "\\dbgpdb.pdb"));
}

TEST_F(SymbolEngineTest, SeparateDbgIsCopiedWhateverTheDestinationsTrailingBackslash)
{
    for (const std::string& dest : {Dest(), Dest() + "\\"})
    {
        bool found = false;
        std::vector<std::string> log;
        ASSERT_TRUE(Engine().GetSymbols(SampleImage("dbgcv.dll"), SampleSymbolsDir(), dest, true, found, log));
        EXPECT_TRUE(found);
        EXPECT_EQ("QUILLM: Copying to " + Dest() + "\\dll\\dbgcv.dbg\n", EngineLines(log).back()) << dest;
        EXPECT_EQ((std::vector<std::string>{"dll\\dbgcv.dbg"}), ListFiles(Dest()));
        ASSERT_TRUE(DeleteFileA((Dest() + "\\dll\\dbgcv.dbg").c_str()));
    }
}

TEST_F(SymbolEngineTest, FailedCopyStillCountsAsFound)
{
    // A directory where the file should go makes the copy fail; a file where
    // the destination directory should be makes the directory fail.
    ASSERT_TRUE(CreateDirectoryA((Dest() + "\\nb10.pdb").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(Dest() + "\\file", "not a directory"));
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {Dest(), {"QUILLM: Copying to " + Dest() + "\\nb10.pdb\n", "QUILLM: Cannot copy the file.\n"}},
        {Dest() + "\\file\\sym", {"QUILLM: Destination path is inaccessible.\n"}},
    };
    for (const auto& destAndLines : cases)
    {
        bool found = false;
        std::vector<std::string> log;
        ASSERT_TRUE(Engine().GetSymbols(SampleImage("nb10.dll"), SampleSymbolsDir(), destAndLines.first, false, found, log));
        EXPECT_TRUE(found) << destAndLines.first;
        std::vector<std::string> expected{"QUILLM: File: " + SampleImage("nb10.dll") + "\n", "QUILLM: Checking symbols...\n",
                                          "QUILLM: Downloading symbols...\n"};
        expected.insert(expected.end(), destAndLines.second.begin(), destAndLines.second.end());
        EXPECT_EQ(expected, EngineLines(log));
    }
}

TEST_F(SymbolEngineTest, RequestsThatCannotStartFailWithNothingDone)
{
    // Missing parameters, an engine that was never initialised, and a file
    // handle of a process that is gone.
    CSymbolEngine idle;
    const std::string image = SampleImage("nb10.dll");
    const std::string symbols = SampleSymbolsDir();
    const std::function<bool(bool&, std::vector<std::string>&)> requests[] = {
        [&](bool& f, std::vector<std::string>& l) { return Engine().GetSymbols("", symbols, Dest(), false, f, l); },
        [&](bool& f, std::vector<std::string>& l) { return Engine().GetSymbols(image, "", Dest(), false, f, l); },
        [&](bool& f, std::vector<std::string>& l) { return Engine().GetSymbols(image, symbols, "", false, f, l); },
        [&](bool& f, std::vector<std::string>& l) {
            return Engine().GetSymbols(DWORD(0), GetCurrentProcessId(), symbols, Dest(), false, f, l);
        },
        [&](bool& f, std::vector<std::string>& l) {
            return Engine().GetSymbols(DWORD(0xFFFFFFFF), GetCurrentProcessId(), symbols, Dest(), false, f, l);
        },
        [&](bool& f, std::vector<std::string>& l) { return idle.GetSymbols(image, symbols, Dest(), false, f, l); },
        [&](bool& f, std::vector<std::string>& l) {
            return Engine().GetSymbols(DWORD(0x44), 0xFFFFFFF0u, symbols, Dest(), false, f, l);
        },
    };
    for (size_t i = 0; i < sizeof(requests) / sizeof(requests[0]); ++i)
    {
        bool found = true;
        std::vector<std::string> log{"stale"};
        EXPECT_FALSE(requests[i](found, log)) << i;
        EXPECT_FALSE(found) << i;
        EXPECT_TRUE(log.empty()) << i;
    }
    EXPECT_TRUE(ListFiles(Dest()).empty());
}

TEST_F(SymbolEngineTest, NoModuleStaysLoadedAfterARequest)
{
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("nb10.dll"), SampleSymbolsDir(), Dest(), false, found, log));
    IMAGEHLP_MODULE64 module = {};
    module.SizeOfStruct = sizeof(module);
    const DWORD64 preferredBase = 0x10000000;
    EXPECT_FALSE(SymGetModuleInfo64(GetCurrentProcess(), preferredBase, &module));
}

TEST_F(SymbolEngineTest, SimultaneousRequestsEachGetOnlyTheirOwnLines)
{
    struct Request
    {
        std::string image;
        std::string symbol;
        CTempDir dest;
        bool ok = false;
        bool found = false;
        std::vector<std::string> log;
    };
    Request requests[2];
    requests[0].image = "nb10.dll";
    requests[0].symbol = "nb10.pdb";
    requests[1].image = "rsds.exe";
    requests[1].symbol = "rsds.pdb";
    std::vector<std::thread> threads;
    for (Request& request : requests)
    {
        threads.emplace_back([this, &request] {
            request.ok = Engine().GetSymbols(SampleImage(request.image), SampleSymbolsDir(), request.dest.Path(), false,
                                             request.found, request.log);
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (Request& request : requests)
    {
        EXPECT_TRUE(request.ok);
        EXPECT_TRUE(request.found);
        const std::vector<std::string> lines = EngineLines(request.log);
        EXPECT_EQ("QUILLM: File: " + SampleImage(request.image) + "\n", lines.front());
        EXPECT_EQ("QUILLM: Copying to " + request.dest.Path() + "\\" + request.symbol + "\n", lines.back());
        for (const std::string& line : request.log)
        {
            const std::string other = &request == &requests[0] ? "rsds" : "nb10";
            EXPECT_EQ(std::string::npos, line.find(other)) << line;
        }
    }
}

// The image opened as the IDE's debugger holds it, and the handle's value as
// it crosses to the server.
CScopedHandle OpenImage(const std::string& name)
{
    return CScopedHandle(CreateFileA(SampleImage(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     0, nullptr));
}

DWORD HandleValue(const CScopedHandle& handle)
{
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(handle.Get()));
}

TEST_F(SymbolEngineTest, ByHandleRequestNamesTheImageFromTheHandle)
{
    CScopedHandle image(OpenImage("nb10.dll"));
    ASSERT_TRUE(image.IsValid());
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(HandleValue(image), GetCurrentProcessId(), SampleSymbolsDir(), Dest(), true, found,
                                    log));
    EXPECT_TRUE(found);
    const std::vector<std::string> lines = EngineLines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(EqualNoCase(lines.front(), "QUILLM: File: " + SampleImage("nb10.dll") + "\n")) << lines.front();
    EXPECT_EQ("QUILLM: Copying to " + Dest() + "\\dll\\nb10.pdb\n", lines.back());
}

TEST_F(SymbolEngineTest, ByHandleRequestWithoutANameLoadsByHandleButHasNoExtensionDirectory)
{
    CImportSwap swap("psapi.dll", "GetMappedFileNameA", reinterpret_cast<const void*>(&NoMappedFileName));
    ASSERT_TRUE(swap.IsActive());
    CScopedHandle image(OpenImage("nb10.dll"));
    ASSERT_TRUE(image.IsValid());
    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(HandleValue(image), GetCurrentProcessId(), SampleSymbolsDir(), Dest(), true, found,
                                    log));
    EXPECT_TRUE(found);
    EXPECT_EQ((std::vector<std::string>{"QUILLM: File: \n", "QUILLM: Checking symbols...\n",
                                        "QUILLM: Downloading symbols...\n",
                                        "QUILLM: Cannot copy the file (invalid executable name).\n"}),
              EngineLines(log));
    EXPECT_TRUE(ListFiles(Dest()).empty());
}

// Counts the open handles of this process by asking about every possible
// handle value (Wine's GetProcessHandleCount always answers 0).
size_t OpenHandleCount()
{
    size_t count = 0;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x20000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    return count;
}

TEST_F(SymbolEngineTest, ThousandByHandleRequestsLeaveTheHandleCountUnchanged)
{
    // Half of them succeed; in the other half the library refuses the search
    // path, and the request fails after the duplicated handle was made.
    ASSERT_TRUE(CopyFileA((SampleSymbolsDir() + "\\nb10.pdb").c_str(), (Dest() + "\\nb10.pdb").c_str(), FALSE));
    CScopedHandle image(OpenImage("nb10.dll"));
    ASSERT_TRUE(image.IsValid());
    bool found = false;
    std::vector<std::string> log;
    // One request first, so that lazily made handles of the library exist.
    ASSERT_TRUE(Engine().GetSymbols(HandleValue(image), GetCurrentProcessId(), SampleSymbolsDir(), Dest(), false, found, log));
    const size_t before = OpenHandleCount();
    {
        CScopedHandle extra(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        ASSERT_EQ(before + 1, OpenHandleCount()) << "the count follows the handles";
    }
    for (int i = 0; i < 500; ++i)
    {
        ASSERT_TRUE(Engine().GetSymbols(HandleValue(image), GetCurrentProcessId(), SampleSymbolsDir(), Dest(), false, found, log));
        ASSERT_TRUE(found);
    }
    {
        CImportSwap swap("dbghelp.dll", "SymSetSearchPath", reinterpret_cast<const void*>(&RefusedSearchPath));
        ASSERT_TRUE(swap.IsActive());
        for (int i = 0; i < 500; ++i)
        {
            ASSERT_FALSE(Engine().GetSymbols(HandleValue(image), GetCurrentProcessId(), SampleSymbolsDir(), Dest(), false, found, log));
            ASSERT_FALSE(found);
        }
    }
    const size_t after = OpenHandleCount();
    EXPECT_EQ(before, after) << before << " " << after;
    // The failed request still hands over what it logged.
    ASSERT_EQ(2u, log.size());
    EXPECT_TRUE(EqualNoCase("QUILLM: File: " + SampleImage("nb10.dll") + "\n", log[0])) << log[0];
    EXPECT_EQ("QUILLM: Checking symbols...\n", log[1]);
}

} // namespace

TEST_F(SymbolEngineTest, FetchesAnNb10PdbFromAnHttpStoreWithoutAWarning)
{
    // The port of the samples server that CTest's http fixture started.
    const char* testDir = getenv("QX3_TESTDIR");
    const std::string ini = std::string(testDir != nullptr ? testDir : "") + "\\http-servers.ini";
    const unsigned port = GetPrivateProfileIntA("Servers", "samples", 0, ini.c_str());
    ASSERT_NE(0u, port) << "no samples server in " << ini << ": run through ctest";
    CTempDir cache;
    const std::string path = "srv*" + cache.Path() + "*http://127.0.0.1:" + std::to_string(port) + "/store";

    bool found = false;
    std::vector<std::string> log;
    ASSERT_TRUE(Engine().GetSymbols(SampleImage("nb10.dll"), path, Dest(), false, found, log));

    EXPECT_TRUE(found);
    EXPECT_EQ((std::vector<std::string>{"QUILLM: File: " + SampleImage("nb10.dll") + "\n", "QUILLM: Checking symbols...\n",
                                        "QUILLM: Downloading symbols...\n",
                                        "QUILLM: Copying to " + Dest() + "\\nb10.pdb\n"}),
              EngineLines(log));
    EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\nb10.pdb"), ReadFileBytes(Dest() + "\\nb10.pdb"));
}
