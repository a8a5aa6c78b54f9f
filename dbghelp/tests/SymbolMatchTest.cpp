#include "HttpStoreFixture.h"

// The mismatched samples: each fails its image in one field.
class SymbolMatchTest : public HttpStoreFixture
{
protected:
    static std::string MismatchDir(const std::string& reason) { return Samples() + "\\mismatch\\" + reason; }
};

// Under EXACT the image gets none of the mismatched file, whether found in a
// plain directory, a local store or an HTTP store, and nothing is kept
// downstream.
TEST_F(SymbolMatchTest, RefusesFileMismatchedInAnyFieldFromDirectoryAndStores)
{
    const std::pair<const char*, const char*> cases[] = {
        {"rsds.exe", "guid"},  {"rsds.exe", "age"},   {"nb10.dll", "sig"},    {"nb10.dll", "age"},
        {"dbgcv.dll", "time"}, {"dbgcv.dll", "size"}, {"rsds64.exe", "guid"}, {"rsds64.exe", "age"},
    };
    for (const auto& mismatch : cases)
    {
        const std::vector<std::string> stores = LocalAndHttp(std::string("mismatch/") + mismatch.second + "/store");
        for (const std::string& path : {MismatchDir(mismatch.second), Chain(stores[0]), Chain(stores[1])})
        {
            SCOPED_TRACE(std::string(mismatch.first) + " " + path);
            const IMAGEHLP_MODULE64 module = Load(Image(mismatch.first), path, kExact);
            EXPECT_EQ(SymNone, module.SymType);
            EXPECT_STREQ("", module.LoadedPdbName);
            EXPECT_EQ(std::string::npos, std::string(module.LoadedImageName).find("mismatch"));
            EXPECT_TRUE(HasLine(" - mismatched ")) << "the mismatched file was not found and checked";
            EXPECT_TRUE(ListFiles(Downstream()).empty()) << "mismatched file left in the downstream store";
            m_lines.clear();
        }
    }
}

// The DBG matches and lies in a plain directory; only its PDB is stale,
// whether in a plain directory, a local store or an HTTP store.
TEST_F(SymbolMatchTest, RefusesPdbNamedByDbgOfOtherAgeUnderExact)
{
    const std::string dbgDir = m_work->File("dbg");
    ASSERT_TRUE(CreateDirectoryA(dbgDir.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((Symbols() + "\\dbgpdb.dbg").c_str(), (dbgDir + "\\dbgpdb.dbg").c_str(), FALSE));
    const std::vector<std::string> stores = LocalAndHttp("mismatch/age/store");
    for (const std::string& pdbs : {MismatchDir("age"), Chain(stores[0]), Chain(stores[1])})
    {
        SCOPED_TRACE(pdbs);
        const IMAGEHLP_MODULE64 module = Load(Image("dbgpdb.dll"), dbgDir + ";" + pdbs, kExact);
        EXPECT_NE(SymPdb, module.SymType);
        EXPECT_STREQ("", module.LoadedPdbName);
        EXPECT_TRUE(HasLine("dbgpdb.pdb - mismatched ")) << AllLines();
        EXPECT_TRUE(ListFiles(Downstream()).empty());
        m_lines.clear();
    }
}

// PDBs rewritten after linking (source indexing) carry a higher age in their
// info stream than in their DBI stream, which still matches the image: they
// are the image's symbols, from a directory and from either store.
TEST_F(SymbolMatchTest, MatchesPdbRewrittenAfterLinkingByItsDbiAge)
{
    const std::vector<std::string> stores = LocalAndHttp("reindexed/store");
    for (const char* image : {"rsds.exe", "nb10.dll"})
    {
        for (const std::string& path : {Samples() + "\\reindexed", Chain(stores[0]), Chain(stores[1])})
        {
            SCOPED_TRACE(std::string(image) + " " + path);
            const IMAGEHLP_MODULE64 module = Load(Image(image), path, kExact);
            EXPECT_EQ(SymPdb, module.SymType) << AllLines();
            EXPECT_FALSE(module.PdbUnmatched);
            EXPECT_FALSE(HasLine(" - mismatched "));
            m_lines.clear();
        }
    }
}

TEST_F(SymbolMatchTest, LoadsMismatchedFileMarkedUnmatchedWithoutExact)
{
    const IMAGEHLP_MODULE64 pdb = Load(Image("nb10.dll"), MismatchDir("sig"), kLoose);
    EXPECT_EQ(SymPdb, pdb.SymType);
    EXPECT_TRUE(pdb.PdbUnmatched);
    EXPECT_STREQ((MismatchDir("sig") + "\\nb10.pdb").c_str(), pdb.LoadedPdbName);
    const IMAGEHLP_MODULE64 dbg = Load(Image("dbgcv.dll"), MismatchDir("size"), kLoose);
    EXPECT_EQ(SymCv, dbg.SymType);
    EXPECT_TRUE(dbg.DbgUnmatched);
}

TEST_F(SymbolMatchTest, PrefersMatchingFileLaterInPathOverEarlierMismatch)
{
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), MismatchDir("sig") + ";" + Symbols(), kLoose);
    EXPECT_FALSE(module.PdbUnmatched);
    EXPECT_STREQ((Symbols() + "\\nb10.pdb").c_str(), module.LoadedPdbName);
}
