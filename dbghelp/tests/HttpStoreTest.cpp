#include "HttpStoreFixture.h"

#include <cstdlib>

#include "HttpServers.h"

// "samples" serves the generated samples directory, "samplescut" serves its
// store but ends every PDB reply half-way, "mute" accepts connections and
// never answers.
class HttpStoreTest : public HttpStoreFixture
{
protected:
    static std::string StoreUrl() { return Url("samples", "/store"); }
    std::string Chain() const { return "srv*" + Downstream() + "*" + StoreUrl(); }

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

// Each symbol kind arrives whole in the downstream store and is what the
// module record names; the records' identity fields are the plain-directory
// tests' business.
TEST_F(HttpStoreTest, LoadsEachSymbolKindDownloadedIntoDownstreamStore)
{
    for (const std::string& image : SeparateSymbolImages())
    {
        SCOPED_TRACE(image);
        const IMAGEHLP_MODULE64 module = Load(Image(image), Chain(), kExact);
        EXPECT_EQ(ExpectedType(image), module.SymType);
        EXPECT_FALSE(module.PdbUnmatched);
        EXPECT_FALSE(module.DbgUnmatched);
        const std::string storePdb = Manifest(image, "store_pdb");
        const std::string storeDbg = Manifest(image, "store_dbg");
        if (!storePdb.empty())
        {
            EXPECT_STREQ((Downstream() + "\\" + storePdb).c_str(), module.LoadedPdbName);
            EXPECT_EQ(ReadFileBytes(Samples() + "\\store\\" + storePdb), ReadFileBytes(Downstream() + "\\" + storePdb));
        }
        if (!storeDbg.empty())
        {
            EXPECT_STREQ((Downstream() + "\\" + storeDbg).c_str(), module.LoadedImageName);
            EXPECT_EQ(ReadFileBytes(Samples() + "\\store\\" + storeDbg), ReadFileBytes(Downstream() + "\\" + storeDbg));
        }
    }
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

TEST_F(HttpStoreTest, RefusesFileMismatchedInAnyFieldFromHttpStore)
{
    for (const char* id : {"guid.rsds.pdb", "age.rsds.pdb", "sig.nb10.pdb", "age.nb10.pdb", "time.dbgcv.dbg",
                           "size.dbgcv.dbg", "guid.rsds64.pdb", "age.rsds64.pdb"})
    {
        SCOPED_TRACE(id);
        ExpectRefusedFromHttpStore(id);
        m_lines.clear();
    }
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
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), "srv*" + Downstream() + "*" + Url("samplescut"), kExact);
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

TEST_F(HttpStoreTest, MuteServerIsAskedOnceOverFiftyLoads)
{
    // A downstream of its own for the mute server, so that no load can be
    // answered from a copy before the mute server is asked.
    const std::string path = "srv*" + m_work->File("mutedown") + "*" + Url("mute") + ";" + Chain();
    int found = 0;
    for (int load = 0; load < 50; ++load)
    {
        const std::string& image = SeparateSymbolImages()[load % SeparateSymbolImages().size()];
        const IMAGEHLP_MODULE64 module = Load(Image(image), path, kExact);
        found += module.SymType == ExpectedType(image) ? 1 : 0;
    }
    EXPECT_EQ(50, found) << "symbols from the good server";
    EXPECT_EQ(1u, CountLines(" - timed out")) << "the mute server was asked more than once";
    EXPECT_TRUE(HasLine(" - server skipped (offline)"));
}

TEST_F(HttpStoreTest, TakesTimeOutAndOfflinePeriodFromSymsrvIni)
{
    UseSymsrvIni("[Http]\r\nTimeout=300\r\nOfflineSeconds=0\r\n");
    const std::string path = "srv*" + Downstream() + "*" + Url("mute");
    Load(Image("nb10.dll"), path, kExact);
    Load(Image("rsds.exe"), path, kExact);
    EXPECT_EQ(2u, CountLines(" did not answer within 300 ms; skipped for 0 s\n"));
    EXPECT_EQ(2u, CountLines(" - timed out"));
    EXPECT_FALSE(HasLine(" - server skipped (offline)"));
}
