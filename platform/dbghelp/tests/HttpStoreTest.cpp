#include "SymbolLibraryFixture.h"

#include <cstdlib>
#include <cstdio>

namespace
{
const DWORD kExact = SYMOPT_DEBUG | SYMOPT_EXACT_SYMBOLS;

// The library's default bound on each network wait, without a symsrv.ini.
const double kDefaultTimeoutMs = 2000.0;

// The images whose symbols live in separate files, by the manifest's names.
const char* const kSeparateSymbolImages[] = {"rsds.exe", "nb10.dll", "dbgcv.dll", "dbgpdb.dll"};

double ElapsedMs(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}
}

// The HTTP stores of tests/http-servers.sh, which CTest's http fixture starts
// before this program: "samples" serves the generated samples directory,
// "samplescut" serves its store but ends every PDB reply half-way, "mute"
// accepts connections and never answers.
class HttpStoreTest : public SymbolLibraryFixture
{
protected:
    void SetUp() override
    {
        SymbolLibraryFixture::SetUp();
        ASSERT_NE(0u, Port("samples"))
            << "no server ports in QX3_TESTDIR\\http-servers.ini: run this test through ctest, whose http "
               "fixture starts them";
    }

    static unsigned Port(const char* name)
    {
        const char* dir = getenv("QX3_TESTDIR");
        const std::string ini = std::string(dir != nullptr ? dir : "") + "\\http-servers.ini";
        return GetPrivateProfileIntA("Servers", name, 0, ini.c_str());
    }
    static std::string Url(const char* server, const std::string& path = "")
    {
        return "http://127.0.0.1:" + std::to_string(Port(server)) + path;
    }
    static std::string StoreUrl() { return Url("samples", "/store"); }
    std::string Chain() const { return "srv*" + Downstream() + "*" + StoreUrl(); }

    // Re-reads symsrv.ini, as the library does at SymInitialize.
    void UseSymsrvIni(const std::string& text)
    {
        WriteSymsrvIni(text);
        ASSERT_TRUE(Lib().Initialize(Process(), nullptr, FALSE));
    }

    size_t CountLines(const std::string& fragment) const
    {
        size_t count = 0;
        for (const std::string& line : m_lines)
            count += line.find(fragment) != std::string::npos ? 1 : 0;
        return count;
    }

    // The mismatched sample id (e.g. "sig.nb10.pdb") from its HTTP store
    // under EXACT: seen and refused, nothing left downstream.
    void ExpectRefusedFromHttpStore(const std::string& id, const std::string& localPath = "")
    {
        const std::string section = "mismatch." + id;
        const std::string image = Manifest(section, "image");
        const std::string reason = Manifest(section, "reason");
        ASSERT_FALSE(image.empty()) << id;
        std::string path = "srv*" + Downstream() + "*" + Url("samples", "/mismatch/" + reason + "/store");
        if (!localPath.empty())
            path = localPath + ";" + path;
        const IMAGEHLP_MODULE64 module = Load(Image(image), path, kExact);
        EXPECT_TRUE(HasLine(" - mismatched ")) << "the mismatched file was not downloaded and checked";
        EXPECT_NE(SymPdb, module.SymType);
        EXPECT_STREQ("", module.LoadedPdbName);
        EXPECT_EQ(std::string::npos, std::string(module.LoadedImageName).find(Downstream()));
        EXPECT_TRUE(ListFiles(Downstream()).empty()) << "mismatched file left in the downstream store";
    }
};

TEST_F(HttpStoreTest, LoadsGuidSignedPdbDownloadedIntoDownstreamStore)
{
    const IMAGEHLP_MODULE64 module = Load(Image("rsds.exe"), Chain(), kExact);
    const std::string copy = Downstream() + "\\" + Manifest("rsds.exe", "store_pdb");
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_STREQ(copy.c_str(), module.LoadedPdbName);
    EXPECT_STREQ(Image("rsds.exe").c_str(), module.LoadedImageName);
    EXPECT_EQ(Manifest("rsds.exe", "pdb_guid"), GuidText(module.PdbSig70));
    EXPECT_EQ(0u, module.PdbSig);
    EXPECT_EQ(1u, module.PdbAge);
    EXPECT_FALSE(module.PdbUnmatched);
    EXPECT_EQ(ReadFileBytes(Samples() + "\\symbols\\rsds.pdb"), ReadFileBytes(copy));
}

TEST_F(HttpStoreTest, LoadsSignatureSignedPdbDownloadedIntoDownstreamStore)
{
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), Chain(), kExact);
    const std::string copy = Downstream() + "\\" + Manifest("nb10.dll", "store_pdb");
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_STREQ(copy.c_str(), module.LoadedPdbName);
    EXPECT_EQ(strtoul(Manifest("nb10.dll", "pdb_sig").c_str(), nullptr, 10), module.PdbSig);
    EXPECT_EQ(2u, module.PdbAge);
    EXPECT_FALSE(module.PdbUnmatched);
    EXPECT_EQ(ReadFileBytes(Samples() + "\\symbols\\nb10.pdb"), ReadFileBytes(copy));
}

TEST_F(HttpStoreTest, LoadsDbgWithCodeViewDownloadedIntoDownstreamStore)
{
    const IMAGEHLP_MODULE64 module = Load(Image("dbgcv.dll"), Chain(), kExact);
    const std::string copy = Downstream() + "\\" + Manifest("dbgcv.dll", "store_dbg");
    EXPECT_EQ(SymCv, module.SymType);
    EXPECT_STREQ(copy.c_str(), module.LoadedImageName);
    EXPECT_STREQ("", module.LoadedPdbName);
    EXPECT_FALSE(module.DbgUnmatched);
    EXPECT_EQ(ReadFileBytes(Samples() + "\\symbols\\dbgcv.dbg"), ReadFileBytes(copy));
}

TEST_F(HttpStoreTest, LoadsDbgAndItsPdbDownloadedIntoDownstreamStore)
{
    const IMAGEHLP_MODULE64 module = Load(Image("dbgpdb.dll"), Chain(), kExact);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_STREQ((Downstream() + "\\" + Manifest("dbgpdb.dll", "store_dbg")).c_str(), module.LoadedImageName);
    EXPECT_STREQ((Downstream() + "\\" + Manifest("dbgpdb.dll", "store_pdb")).c_str(), module.LoadedPdbName);
    EXPECT_EQ(strtoul(Manifest("dbgpdb.dll", "pdb_sig").c_str(), nullptr, 10), module.PdbSig);
    EXPECT_EQ(11u, module.PdbAge);
    EXPECT_FALSE(module.PdbUnmatched);
    EXPECT_FALSE(module.DbgUnmatched);
}

TEST_F(HttpStoreTest, ReadsSecondLoadFromDownstreamWithoutDownloading)
{
    Load(Image("nb10.dll"), Chain(), kExact);
    ASSERT_TRUE(HasLine(" downloaded to "));
    m_lines.clear();
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), Chain(), kExact);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_FALSE(HasLine(" downloaded to ")) << "downloaded again";
}

TEST_F(HttpStoreTest, DownloadsIntoDefaultStoreBesideLibraryWithoutDownstream)
{
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), "srv*" + StoreUrl(), kExact);
    const std::string expected = Lib().Directory() + "\\sym\\" + Manifest("nb10.dll", "store_pdb");
    EXPECT_STREQ(expected.c_str(), module.LoadedPdbName);
    EXPECT_TRUE(FileExists(expected));
    DeleteFileA(expected.c_str());
}

TEST_F(HttpStoreTest, RefusesPdbOfOtherGuidFromHttpStore)
{
    ExpectRefusedFromHttpStore("guid.rsds.pdb");
}

TEST_F(HttpStoreTest, RefusesGuidSignedPdbOfOtherAgeFromHttpStore)
{
    ExpectRefusedFromHttpStore("age.rsds.pdb");
}

TEST_F(HttpStoreTest, RefusesPdbOfOtherSignatureFromHttpStore)
{
    ExpectRefusedFromHttpStore("sig.nb10.pdb");
}

TEST_F(HttpStoreTest, RefusesSignatureSignedPdbOfOtherAgeFromHttpStore)
{
    ExpectRefusedFromHttpStore("age.nb10.pdb");
}

TEST_F(HttpStoreTest, RefusesDbgOfOtherTimeStampFromHttpStore)
{
    ExpectRefusedFromHttpStore("time.dbgcv.dbg");
}

TEST_F(HttpStoreTest, RefusesDbgOfOtherImageSizeFromHttpStore)
{
    ExpectRefusedFromHttpStore("size.dbgcv.dbg");
}

TEST_F(HttpStoreTest, RefusesPdbNamedByDbgOfOtherAgeFromHttpStore)
{
    // The matching DBG lies in a plain directory; only the PDB comes over HTTP.
    const std::string dbgDir = m_work->File("dbg");
    ASSERT_TRUE(CreateDirectoryA(dbgDir.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((Samples() + "\\symbols\\dbgpdb.dbg").c_str(), (dbgDir + "\\dbgpdb.dbg").c_str(), FALSE));
    ExpectRefusedFromHttpStore("age.dbgpdb.pdb", dbgDir);
}

TEST_F(HttpStoreTest, LeavesNoFileInDownstreamWhenDownloadIsCut)
{
    const IMAGEHLP_MODULE64 module
        = Load(Image("nb10.dll"), "srv*" + Downstream() + "*" + Url("samplescut"), kExact);
    EXPECT_EQ(SymNone, module.SymType);
    EXPECT_TRUE(HasLine(" - download failed")) << "the cut server was not asked";
    EXPECT_TRUE(ListFiles(Downstream()).empty()) << "partial or temporary file left in the downstream store";
}

TEST_F(HttpStoreTest, FindsSymbolsOnGoodServerAfterCutDownload)
{
    const std::string path = "srv*" + Downstream() + "*" + Url("samplescut") + "*" + StoreUrl();
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), path, kExact);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_STREQ((Downstream() + "\\" + Manifest("nb10.dll", "store_pdb")).c_str(), module.LoadedPdbName);
    EXPECT_EQ(ReadFileBytes(Samples() + "\\symbols\\nb10.pdb"), ReadFileBytes(module.LoadedPdbName));
}

TEST_F(HttpStoreTest, MuteServerCostsOneTimeOutOverFiftyLoads)
{
    // A downstream of its own for the mute server, so that no load can be
    // answered from a copy before the mute server is asked.
    const std::string path = "srv*" + m_work->File("mutedown") + "*" + Url("mute") + ";" + Chain();
    const LARGE_INTEGER start = Now();
    int found = 0;
    for (int load = 0; load < 50; ++load)
    {
        const char* image = kSeparateSymbolImages[load % 4];
        const IMAGEHLP_MODULE64 module = Load(Image(image), path, kExact);
        found += module.SymType == strtoul(Manifest(image, "symtype").c_str(), nullptr, 10) ? 1 : 0;
    }
    const double elapsed = ElapsedMs(start);
    printf("50 loads with a mute server in the path: %.0f ms\n", elapsed);
    EXPECT_EQ(50, found) << "symbols from the good server";
    EXPECT_EQ(1u, CountLines(" - timed out")) << "the mute server was asked more than once";
    // One time-out plus generous slack for fifty loads under Wine.
    EXPECT_LT(elapsed, 2 * kDefaultTimeoutMs + 2000.0);
}

TEST_F(HttpStoreTest, SkipsMuteServerForTheNextImageByDefault)
{
    const std::string path = "srv*" + Downstream() + "*" + Url("mute");
    Load(Image("nb10.dll"), path, kExact);
    ASSERT_EQ(1u, CountLines(" - timed out"));
    Load(Image("rsds.exe"), path, kExact);
    EXPECT_EQ(1u, CountLines(" - timed out"));
    EXPECT_TRUE(HasLine(" - server skipped (offline)"));
}

TEST_F(HttpStoreTest, TakesTimeOutFromSymsrvIni)
{
    UseSymsrvIni("[Http]\r\nTimeout=300\r\n");
    const LARGE_INTEGER start = Now();
    Load(Image("nb10.dll"), "srv*" + Downstream() + "*" + Url("mute"), kExact);
    const double elapsed = ElapsedMs(start);
    EXPECT_TRUE(HasLine(" - timed out"));
    // Far below the default 2 s, with room for a slow start under Wine.
    EXPECT_LT(elapsed, 1500.0);
}

TEST_F(HttpStoreTest, AsksMuteServerAgainWhenSymsrvIniSetsNoOfflinePeriod)
{
    UseSymsrvIni("[Http]\r\nTimeout=300\r\nOfflineSeconds=0\r\n");
    const std::string path = "srv*" + Downstream() + "*" + Url("mute");
    Load(Image("nb10.dll"), path, kExact);
    Load(Image("rsds.exe"), path, kExact);
    EXPECT_EQ(2u, CountLines(" - timed out"));
    EXPECT_FALSE(HasLine(" - server skipped (offline)"));
}
