#include "SymbolEngine.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ImportSwap.h"
#include "PathSplit.h"
#include "ScopedHandle.h"
#include "SystemProxySetting.h"
#include "TestSupport.h"

namespace
{

const char kDownloading[] = "QUILLM: Downloading symbols...\n";

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
        if (!IsLibraryLine(line))
        {
            lines.push_back(line);
        }
        else
        {
            EXPECT_TRUE(!line.empty() && line.back() == '\n') << line;
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

// The engine's lines of a request for the image with this file name: the two
// it always starts with, then the rest.
std::vector<std::string> Lines(const std::string& fileName, std::vector<std::string> rest)
{
    rest.insert(rest.begin(), {"QUILLM: File: " + fileName + "\n", "QUILLM: Checking symbols...\n"});
    return rest;
}

// The image opened as the IDE's debugger holds it, and the handle's value as
// it crosses to the server.
CScopedHandle OpenImage(const std::string& name)
{
    return CScopedHandle(
        CreateFileA(SampleImage(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

DWORD HandleValue(const CScopedHandle& handle)
{
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(handle.Get()));
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

// What one request gave: its result, Found, the log and the engine's lines.
struct Outcome
{
    bool ok = false;
    bool found = false;
    std::vector<std::string> log;
    std::vector<std::string> lines;
};

// Each image whose symbols live in separate files, and those files; the
// 32-bit ones first.
const struct
{
    const char* image;
    std::vector<std::string> files;
} kSeparateSymbols[] = {{"rsds.exe", {"rsds.pdb"}},
                        {"nb10.dll", {"nb10.pdb"}},
                        {"dbgcv.dll", {"dbgcv.dbg"}},
                        {"dbgpdb.dll", {"dbgpdb.dbg", "dbgpdb.pdb"}},
                        {"rsds64.exe", {"rsds64.pdb"}}};
const size_t kNarrowKinds = 4;

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

    // A request by name for a sample image (or the full path given).
    Outcome Request(const std::string& image, const std::string& symbolPath, const std::string& dest,
                    bool useFileExt = false)
    {
        Outcome outcome;
        outcome.found = true;
        const std::string path = image.find('\\') != std::string::npos ? image : SampleImage(image);
        outcome.ok = Engine().GetSymbols(path, symbolPath, dest, useFileExt, outcome.found, outcome.log);
        outcome.lines = EngineLines(outcome.log);
        return outcome;
    }
    // A request by a handle of this process.
    Outcome Request(const CScopedHandle& image, const std::string& symbolPath, bool useFileExt)
    {
        Outcome outcome;
        outcome.found = true;
        outcome.ok = Engine().GetSymbols(HandleValue(image), GetCurrentProcessId(), symbolPath, Dest(), useFileExt,
                                         outcome.found, outcome.log);
        outcome.lines = EngineLines(outcome.log);
        return outcome;
    }

    // The first kinds of images, each fetched by name through path into a
    // destination of its own: found, and exactly its symbol files, whole, in
    // the destination. The requests' logs, joined.
    std::string FetchEachKind(const std::string& path, size_t kinds = std::size(kSeparateSymbols))
    {
        std::string all;
        for (size_t i = 0; i < kinds; ++i)
        {
            const auto& kind = kSeparateSymbols[i];
            SCOPED_TRACE(kind.image);
            CTempDir dest;
            const Outcome outcome = Request(kind.image, path, dest.Path());
            std::string log;
            for (const std::string& line : outcome.log)
                log += line;
            EXPECT_TRUE(outcome.ok && outcome.found) << log;
            EXPECT_EQ(kind.files, ListFiles(dest.Path()));
            for (const std::string& file : kind.files)
                EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\" + file), ReadFileBytes(dest.File(file))) << file;
            all += log;
        }
        return all;
    }

    CTempDir m_dest;
    static CSymbolEngine* s_engine;
};

CSymbolEngine* SymbolEngineTest::s_engine = nullptr;

TEST_F(SymbolEngineTest, GuidSignedPdbIsWarnedAboutYetCopiedWithTheLibraryLinesInPlace)
{
    const Outcome outcome = Request("rsds.exe", SampleSymbolsDir(), Dest());
    ASSERT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.found);
    EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\rsds.pdb"), ReadFileBytes(Dest() + "\\rsds.pdb"));
    EXPECT_EQ(Lines(SampleImage("rsds.exe"), {"<library>", kDownloading, "<library>",
                                              "QUILLM: Symbol format can be incompatible with Visual C++ 6.0.\n",
                                              "QUILLM: Copying to " + Dest() + "\\rsds.pdb\n"}),
              LogShape(outcome.log));

    // The look in the destination speaks of the destination; the load
    // through the symbol path, before the format check, of the file found.
    const std::vector<std::string>& log = outcome.log;
    size_t downloading = 0;
    while (downloading < log.size() && log[downloading] != kDownloading)
        ++downloading;
    bool foundNamed = false;
    for (size_t i = 0; i < log.size(); ++i)
    {
        if (IsLibraryLine(log[i]) && log[i].find(Dest()) != std::string::npos)
        {
            EXPECT_LT(i, downloading) << log[i];
        }
        foundNamed =
            foundNamed || (i > downloading && log[i].find(SampleSymbolsDir() + "\\rsds.pdb") != std::string::npos);
    }
    EXPECT_TRUE(foundNamed);
}

TEST_F(SymbolEngineTest, ExportOnlySymbolsAreRejected)
{
    // Without exact symbols the library falls back to the export table.
    Engine().SetSymOptions(SYMOPT_DEBUG);
    CTempDir empty;
    const Outcome outcome = Request("exports.dll", empty.Path(), Dest());
    ASSERT_TRUE(outcome.ok);
    EXPECT_FALSE(outcome.found);
    EXPECT_EQ(Lines(SampleImage("exports.dll"), {kDownloading}), outcome.lines);
    EXPECT_TRUE(ListFiles(Dest()).empty());
    bool exportsLoaded = false;
    for (const std::string& line : outcome.log)
        exportsLoaded = exportsLoaded || line.find("export symbols") != std::string::npos;
    EXPECT_TRUE(exportsLoaded) << "the library did load the export table, which the engine then refused";
}

TEST_F(SymbolEngineTest, DbgThatRefersToAPdbCopiesTheDbgFirst)
{
    const Outcome outcome = Request("dbgpdb.dll", SampleSymbolsDir(), Dest() + "\\");
    ASSERT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.found);
    EXPECT_EQ(Lines(SampleImage("dbgpdb.dll"), {kDownloading, "QUILLM: Copying to " + Dest() + "\\dbgpdb.dbg\n",
                                                "QUILLM: Copying to " + Dest() + "\\dbgpdb.pdb\n"}),
              outcome.lines);
    EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\dbgpdb.dbg"), ReadFileBytes(Dest() + "\\dbgpdb.dbg"));
    EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\dbgpdb.pdb"), ReadFileBytes(Dest() + "\\dbgpdb.pdb"));
}

TEST_F(SymbolEngineTest, CodeViewInsideTheImageIsFoundWithoutACopy)
{
    // The image carries its own symbols, so the look in the destination
    // already finds them and there is nothing to copy.
    CTempDir empty;
    const Outcome outcome = Request("embcv.exe", empty.Path(), Dest());
    ASSERT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.found);
    EXPECT_EQ(Lines(SampleImage("embcv.exe"), {"QUILLM: Symbols are already available.\n"}), outcome.lines);
    EXPECT_TRUE(ListFiles(Dest()).empty());
}

TEST_F(SymbolEngineTest, LoadedNamesThatFillTheirRecordFieldsEndWithTheField)
{
    CImportSwap swap("dbghelp.dll", "SymGetModuleInfo64", reinterpret_cast<const void*>(&UnterminatedModuleInfo));
    g_swap = &swap;
    ASSERT_TRUE(swap.IsActive());
    const Outcome outcome = Request("nb10.dll", SampleSymbolsDir(), Dest());

    // Read within its field, the image name ends in ".dbg": the DBG file is
    // copied before the PDB, each under the name its field holds.
    ASSERT_EQ(7u, outcome.lines.size());
    EXPECT_EQ("QUILLM: Copying to " + Dest() + "\\" + std::string(249, 'i') + ".dbg\n", outcome.lines[3]);
    EXPECT_EQ("QUILLM: Copying to " + Dest() + "\\" + std::string(249, 'p') + ".pdb\n", outcome.lines[5]);
}

TEST_F(SymbolEngineTest, PdbLoadedFromTheDestinationItselfIsUpToDate)
{
    // The DBG comes from a directory of its own; the PDB it refers to is
    // found in the destination, which is also on the symbol path.
    CTempDir dbgOnly;
    ASSERT_TRUE(CopyFileA((SampleSymbolsDir() + "\\dbgpdb.dbg").c_str(), dbgOnly.File("dbgpdb.dbg").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((SampleSymbolsDir() + "\\dbgpdb.pdb").c_str(), (Dest() + "\\dbgpdb.pdb").c_str(), FALSE));
    const Outcome outcome = Request("dbgpdb.dll", dbgOnly.Path() + ";" + Dest(), Dest());
    EXPECT_TRUE(outcome.found);
    EXPECT_EQ(Lines(SampleImage("dbgpdb.dll"),
                    {kDownloading, "QUILLM: Copying to " + Dest() + "\\dbgpdb.dbg\n", "QUILLM: File is up-to-date.\n"}),
              outcome.lines);
    EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\dbgpdb.pdb"), ReadFileBytes(Dest() + "\\dbgpdb.pdb"));
}

// The extension directory keeps the image's letter case; a separate DBG lands
// there whatever the destination's trailing backslash.
TEST_F(SymbolEngineTest, FileExtensionDirectoryTakesTheImagesExtension)
{
    CTempDir images;
    const std::string upper = images.File("NB10.DLL");
    ASSERT_TRUE(CopyFileA(SampleImage("nb10.dll").c_str(), upper.c_str(), FALSE));
    const struct
    {
        std::string image;
        const char* trailing;
        const char* copied;
    } cases[] = {
        {upper, "", "DLL\\nb10.pdb"}, {"dbgcv.dll", "", "dll\\dbgcv.dbg"}, {"dbgcv.dll", "\\", "dll\\dbgcv.dbg"}};
    for (const auto& each : cases)
    {
        SCOPED_TRACE(each.image + " " + each.trailing);
        CTempDir dest;
        const Outcome outcome = Request(each.image, SampleSymbolsDir(), dest.Path() + each.trailing, true);
        EXPECT_TRUE(outcome.found);
        EXPECT_EQ("QUILLM: Copying to " + dest.File(each.copied) + "\n", outcome.lines.back());
        EXPECT_EQ((std::vector<std::string>{each.copied}), ListFiles(dest.Path()));
    }
}

TEST_F(SymbolEngineTest, FailedCopyStillCountsAsFound)
{
    // A directory where the file should go makes the copy fail; a file where
    // the destination directory should be makes the directory fail.
    ASSERT_TRUE(CreateDirectoryA((Dest() + "\\nb10.pdb").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(Dest() + "\\file", "not a directory"));
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {Dest(), {kDownloading, "QUILLM: Copying to " + Dest() + "\\nb10.pdb\n", "QUILLM: Cannot copy the file.\n"}},
        {Dest() + "\\file\\sym", {kDownloading, "QUILLM: Destination path is inaccessible.\n"}},
    };
    for (const auto& [dest, lines] : cases)
    {
        const Outcome outcome = Request("nb10.dll", SampleSymbolsDir(), dest);
        ASSERT_TRUE(outcome.ok);
        EXPECT_TRUE(outcome.found) << dest;
        EXPECT_EQ(Lines(SampleImage("nb10.dll"), lines), outcome.lines);
    }
}

TEST_F(SymbolEngineTest, RequestsThatCannotStartFailWithNothingDone)
{
    // Missing parameters, an engine that was never initialised, and a file
    // handle of a process that is gone.
    CSymbolEngine idle;
    const std::string image = SampleImage("nb10.dll");
    const std::string symbols = SampleSymbolsDir();
    const DWORD self = GetCurrentProcessId();
    typedef std::vector<std::string> Log;
    const std::function<bool(bool&, Log&)> requests[] = {
        [&](bool& f, Log& l) { return Engine().GetSymbols("", symbols, Dest(), false, f, l); },
        [&](bool& f, Log& l) { return Engine().GetSymbols(image, "", Dest(), false, f, l); },
        [&](bool& f, Log& l) { return Engine().GetSymbols(image, symbols, "", false, f, l); },
        [&](bool& f, Log& l) { return Engine().GetSymbols(DWORD(0), self, symbols, Dest(), false, f, l); },
        [&](bool& f, Log& l) { return Engine().GetSymbols(DWORD(0xFFFFFFFF), self, symbols, Dest(), false, f, l); },
        [&](bool& f, Log& l) { return idle.GetSymbols(image, symbols, Dest(), false, f, l); },
        [&](bool& f, Log& l) { return Engine().GetSymbols(DWORD(0x44), 0xFFFFFFF0u, symbols, Dest(), false, f, l); },
    };
    for (size_t i = 0; i < sizeof(requests) / sizeof(requests[0]); ++i)
    {
        bool found = true;
        Log log{"stale"};
        EXPECT_FALSE(requests[i](found, log)) << i;
        EXPECT_FALSE(found) << i;
        EXPECT_TRUE(log.empty()) << i;
    }
    EXPECT_TRUE(ListFiles(Dest()).empty());
}

TEST_F(SymbolEngineTest, NoModuleStaysLoadedAfterARequest)
{
    ASSERT_TRUE(Request("nb10.dll", SampleSymbolsDir(), Dest()).ok);
    IMAGEHLP_MODULE64 module = {};
    module.SizeOfStruct = sizeof(module);
    const DWORD64 preferredBase = 0x10000000;
    EXPECT_FALSE(SymGetModuleInfo64(GetCurrentProcess(), preferredBase, &module));
}

TEST_F(SymbolEngineTest, SimultaneousRequestsEachGetOnlyTheirOwnLines)
{
    const char* images[2] = {"nb10.dll", "rsds.exe"};
    const char* symbols[2] = {"nb10.pdb", "rsds.pdb"};
    CTempDir dests[2];
    Outcome outcomes[2];
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&, i] { outcomes[i] = Request(images[i], SampleSymbolsDir(), dests[i].Path()); });
    for (std::thread& thread : threads)
        thread.join();

    for (int i = 0; i < 2; ++i)
    {
        EXPECT_TRUE(outcomes[i].ok && outcomes[i].found);
        EXPECT_EQ("QUILLM: File: " + SampleImage(images[i]) + "\n", outcomes[i].lines.front());
        EXPECT_EQ("QUILLM: Copying to " + dests[i].Path() + "\\" + symbols[i] + "\n", outcomes[i].lines.back());
        for (const std::string& line : outcomes[i].log)
        {
            EXPECT_EQ(std::string::npos, line.find(i == 0 ? "rsds" : "nb10")) << line;
        }
    }
}

TEST_F(SymbolEngineTest, ByHandleRequestWithoutANameLoadsByHandleButHasNoExtensionDirectory)
{
    CImportSwap swap("psapi.dll", "GetMappedFileNameA", reinterpret_cast<const void*>(&NoMappedFileName));
    ASSERT_TRUE(swap.IsActive());
    CScopedHandle image(OpenImage("nb10.dll"));
    ASSERT_TRUE(image.IsValid());
    const Outcome outcome = Request(image, SampleSymbolsDir(), true);
    ASSERT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.found);
    EXPECT_EQ(Lines("", {kDownloading, "QUILLM: Cannot copy the file (invalid executable name).\n"}), outcome.lines);
    EXPECT_TRUE(ListFiles(Dest()).empty());
}

TEST_F(SymbolEngineTest, ByHandleRequestsNameTheImageFromTheHandleAndLeaveTheHandleCountUnchanged)
{
    CScopedHandle image(OpenImage("nb10.dll"));
    ASSERT_TRUE(image.IsValid());
    // One request first, so that lazily made handles of the library exist.
    const Outcome first = Request(image, SampleSymbolsDir(), true);
    ASSERT_TRUE(first.ok);
    EXPECT_TRUE(first.found);
    EXPECT_TRUE(EqualNoCase(first.lines.front(), "QUILLM: File: " + SampleImage("nb10.dll") + "\n"))
        << first.lines.front();
    EXPECT_EQ("QUILLM: Copying to " + Dest() + "\\dll\\nb10.pdb\n", first.lines.back());

    // Of a thousand more, half succeed; in the other half the library refuses
    // the search path, and the request fails after the duplicated handle was made.
    ASSERT_TRUE(CopyFileA((SampleSymbolsDir() + "\\nb10.pdb").c_str(), (Dest() + "\\nb10.pdb").c_str(), FALSE));
    const size_t before = OpenHandleCount();
    {
        CScopedHandle extra(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        ASSERT_EQ(before + 1, OpenHandleCount()) << "the count follows the handles";
    }
    for (int i = 0; i < 500; ++i)
        ASSERT_TRUE(Request(image, SampleSymbolsDir(), false).found);
    Outcome refused;
    {
        CImportSwap swap("dbghelp.dll", "SymSetSearchPath", reinterpret_cast<const void*>(&RefusedSearchPath));
        ASSERT_TRUE(swap.IsActive());
        for (int i = 0; i < 500; ++i)
        {
            refused = Request(image, SampleSymbolsDir(), false);
            ASSERT_FALSE(refused.ok || refused.found);
        }
    }
    EXPECT_EQ(before, OpenHandleCount());
    // The failed request still hands over what it logged.
    ASSERT_EQ(2u, refused.log.size());
    EXPECT_TRUE(EqualNoCase("QUILLM: File: " + SampleImage("nb10.dll") + "\n", refused.log[0])) << refused.log[0];
    EXPECT_EQ("QUILLM: Checking symbols...\n", refused.log[1]);
}

// The samples server that CTest's http fixture started, and a path on it
// ("" when the fixture did not run).
std::string SamplesServerUrl(const std::string& path)
{
    const unsigned port = HttpServerPort("samples");
    return port == 0 ? std::string() : "http://127.0.0.1:" + std::to_string(port) + path;
}

// From a plain directory and from an HTTP store alike: the first request
// copies the PDB without a warning, the second finds it in the destination.
TEST_F(SymbolEngineTest, MatchingNb10PdbIsCopiedWithoutAWarningAndThenNotFetchedAgain)
{
    const std::string store = SamplesServerUrl("/store");
    ASSERT_FALSE(store.empty()) << "no samples server: run through ctest";
    CTempDir cache;
    for (const std::string& path : {SampleSymbolsDir(), "srv*" + cache.Path() + "*" + store})
    {
        SCOPED_TRACE(path);
        CTempDir dest;
        Outcome outcome = Request("nb10.dll", path, dest.Path());
        ASSERT_TRUE(outcome.ok);
        EXPECT_TRUE(outcome.found);
        EXPECT_EQ(Lines(SampleImage("nb10.dll"), {kDownloading, "QUILLM: Copying to " + dest.File("nb10.pdb") + "\n"}),
                  outcome.lines);
        EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\nb10.pdb"), ReadFileBytes(dest.File("nb10.pdb")));

        outcome = Request("nb10.dll", path, dest.Path());
        ASSERT_TRUE(outcome.ok);
        EXPECT_TRUE(outcome.found);
        EXPECT_EQ(Lines(SampleImage("nb10.dll"), {"QUILLM: Symbols are already available.\n"}), outcome.lines);
        EXPECT_EQ((std::vector<std::string>{"nb10.pdb"}), ListFiles(dest.Path()));
    }
}

// The loopback servers of the http fixture: "tlssamples" serves the samples
// over HTTPS for "localhost" (the tls fixture trusts its CA in the prefix),
// "trickle" sends every reply one byte every 100 ms, "proxy" relays.
class SymbolEngineNetworkTest : public SymbolEngineTest
{
protected:
    void SetUp() override
    {
        SymbolEngineTest::SetUp();
        ASSERT_NE(0u, Port("tlssamples")) << "no servers in QX3_TESTDIR\\http-servers.ini: run through ctest";
    }

    static unsigned Port(const char* name) { return HttpServerPort(name); }
    std::string HttpsStore() const
    {
        return "srv*" + m_cache.Path() + "*https://localhost:" + std::to_string(Port("tlssamples")) + "/store";
    }

    size_t CountLogLines(const std::string& fragment) const
    {
        size_t count = 0;
        for (const std::string& line : SplitLines(m_log))
            count += line.find(fragment) != std::string::npos ? 1 : 0;
        return count;
    }

    CTempDir m_cache;
    std::string m_log;
};

TEST_F(SymbolEngineNetworkTest, FetchesEverySymbolKindFromAnHttpsStore)
{
    m_log = FetchEachKind(HttpsStore(), kNarrowKinds);
    EXPECT_EQ(5u, CountLogLines("SYMSRV:  HTTP 200 OK")) << m_log;
}

// With the library's default low-speed limit (4096 bytes in 10 s) the
// trickling server costs one 10-second wait, then it is skipped.
TEST_F(SymbolEngineNetworkTest, GivesUpATricklingServerAndFetchesEveryKindFromTheNext)
{
    CTempDir trickleCache;
    m_log = FetchEachKind("srv*" + trickleCache.Path() + "*http://127.0.0.1:" + std::to_string(Port("trickle")) + ";" +
                              HttpsStore(),
                          kNarrowKinds);
    EXPECT_EQ(1u, CountLogLines(" below the low-speed limit of 4096 bytes per 10 s")) << m_log;
    EXPECT_TRUE(ListFiles(trickleCache.Path()).empty());
}

TEST_F(SymbolEngineNetworkTest, FetchesEverySymbolKindThroughTheSystemProxy)
{
    const std::string proxy = "127.0.0.1:" + std::to_string(Port("proxy"));
    {
        // The library reads the proxy setting when the engine initialises it.
        CSystemProxySetting system(proxy);
        ASSERT_TRUE(system.IsActive());
        Engine().Close();
        ASSERT_TRUE(Engine().Init());
        m_log = FetchEachKind(HttpsStore(), kNarrowKinds);
    }
    Engine().Close();
    ASSERT_TRUE(Engine().Init());
    EXPECT_EQ(5u, CountLogLines(" through proxy " + proxy)) << m_log;
}

// Every symbol kind arrives in the destination from each form a store may
// hold it in: compressed (over HTTP) and through file.ptr (local and HTTP).
TEST_F(SymbolEngineTest, CopiesEachSymbolKindFromCompressedAndPointerEntries)
{
    const std::string http = SamplesServerUrl("");
    ASSERT_FALSE(http.empty()) << "no samples server: run through ctest";
    for (const std::string& store :
         {http + "/compressed/store", SamplesDir() + "\\pointer\\path\\store", http + "/pointer/path/store"})
    {
        SCOPED_TRACE(store);
        CTempDir cache;
        FetchEachKind("srv*" + cache.Path() + "*" + store);
    }
}

TEST_F(SymbolEngineTest, MismatchedOrDamagedPdbsAreNeitherFoundNorCopied)
{
    const std::string http = SamplesServerUrl("");
    ASSERT_FALSE(http.empty()) << "no samples server: run through ctest";
    CTempDir cache;
    std::vector<std::pair<std::string, std::string>> requests = {{"nb10.dll", SamplesDir() + "\\mismatch\\sig"}};
    for (const auto& damaged : {std::make_pair("rsds.exe", "blocks"), std::make_pair("rsds.exe", "stream"),
                                std::make_pair("nb10.dll", "blocks20")})
    {
        requests.emplace_back(damaged.first, SamplesDir() + "\\damaged\\" + damaged.second);
        requests.emplace_back(damaged.first,
                              "srv*" + cache.Path() + "*" + http + "/damaged/" + damaged.second + "/store");
    }
    for (const auto& [image, path] : requests)
    {
        SCOPED_TRACE(path);
        const Outcome outcome = Request(image, path, Dest());
        EXPECT_TRUE(outcome.ok);
        EXPECT_FALSE(outcome.found);
        EXPECT_TRUE(ListFiles(Dest()).empty());
        EXPECT_TRUE(ListFiles(cache.Path()).empty());
    }
}

// A store's "not found" is remembered in the cache and not asked again; the
// next store in the chain still is, and every symbol kind lands.
TEST_F(SymbolEngineTest, RemembersAStoresMissAndStillCopiesFromTheNext)
{
    const std::string http = SamplesServerUrl("");
    ASSERT_FALSE(http.empty()) << "no samples server: run through ctest";
    for (const auto& kind : kSeparateSymbols)
    {
        SCOPED_TRACE(kind.image);
        CTempDir cache;
        CTempDir dest;
        const std::string empty = "srv*" + cache.Path() + "*" + http + "/nostore";
        EXPECT_FALSE(Request(kind.image, empty, dest.Path()).found);
        const Outcome outcome = Request(kind.image, empty + "*" + http + "/store", dest.Path());
        EXPECT_TRUE(outcome.found);
        EXPECT_EQ(kind.files, ListFiles(dest.Path()));
        bool remembered = false;
        for (const std::string& line : outcome.log)
            remembered = remembered || line.find("not asked again yet") != std::string::npos;
        EXPECT_TRUE(remembered);
    }
}

} // namespace
