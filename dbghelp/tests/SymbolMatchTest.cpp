#include "SymbolLibraryFixture.h"

#include <utility>

namespace
{
const DWORD kExact = SYMOPT_DEBUG | SYMOPT_EXACT_SYMBOLS;
const DWORD kLoose = SYMOPT_DEBUG;
} // namespace

// The mismatched samples: each fails its image in one field.
class SymbolMatchTest : public SymbolLibraryFixture
{
protected:
    std::string MismatchDir(const std::string& reason) const { return Samples() + "\\mismatch\\" + reason; }

    // Under EXACT, the image must get none of the mismatched file.
    void ExpectRefusedFromDirectory(const std::string& image, const std::string& reason)
    {
        const IMAGEHLP_MODULE64 module = Load(Image(image), MismatchDir(reason), kExact);
        EXPECT_EQ(SymNone, module.SymType) << reason;
        EXPECT_STREQ("", module.LoadedPdbName);
        EXPECT_EQ(std::string::npos, std::string(module.LoadedImageName).find("mismatch"));
        EXPECT_TRUE(HasLine(" - mismatched ")) << reason;
    }

    void ExpectRefusedFromStore(const std::string& image, const std::string& reason)
    {
        const std::string chain = "srv*" + Downstream() + "*" + MismatchDir(reason) + "\\store";
        const IMAGEHLP_MODULE64 module = Load(Image(image), chain, kExact);
        EXPECT_EQ(SymNone, module.SymType) << reason;
        EXPECT_TRUE(ListFiles(Downstream()).empty()) << "mismatched file copied downstream";
    }
};

TEST_F(SymbolMatchTest, RefusesFileMismatchedInAnyFieldUnderExact)
{
    const std::pair<const char*, const char*> cases[] = {
        {"rsds.exe", "guid"},  {"rsds.exe", "age"},   {"nb10.dll", "sig"},    {"nb10.dll", "age"},
        {"dbgcv.dll", "time"}, {"dbgcv.dll", "size"}, {"rsds64.exe", "guid"}, {"rsds64.exe", "age"},
    };
    for (const auto& mismatch : cases)
    {
        SCOPED_TRACE(std::string(mismatch.first) + " " + mismatch.second);
        ExpectRefusedFromDirectory(mismatch.first, mismatch.second);
        m_lines.clear();
    }
}

TEST_F(SymbolMatchTest, RefusesPdbNamedByDbgOfOtherAgeUnderExact)
{
    // The DBG matches and is found in the symbols directory; only its PDB is stale.
    const IMAGEHLP_MODULE64 module =
        Load(Image("dbgpdb.dll"), MismatchDir("age") + ";" + Samples() + "\\store", kExact);
    EXPECT_NE(SymPdb, module.SymType);
    EXPECT_STREQ("", module.LoadedPdbName);
}

TEST_F(SymbolMatchTest, RefusesMismatchedFilesInStoreWithoutCopying)
{
    ExpectRefusedFromStore("rsds.exe", "guid");
    ExpectRefusedFromStore("nb10.dll", "sig");
    ExpectRefusedFromStore("dbgcv.dll", "time");
    ExpectRefusedFromStore("rsds64.exe", "guid");
}

TEST_F(SymbolMatchTest, LoadsMismatchedPdbMarkedUnmatchedWithoutExact)
{
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), MismatchDir("sig"), kLoose);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_TRUE(module.PdbUnmatched);
    EXPECT_STREQ((MismatchDir("sig") + "\\nb10.pdb").c_str(), module.LoadedPdbName);
}

TEST_F(SymbolMatchTest, LoadsMismatchedDbgMarkedUnmatchedWithoutExact)
{
    const IMAGEHLP_MODULE64 module = Load(Image("dbgcv.dll"), MismatchDir("size"), kLoose);
    EXPECT_EQ(SymCv, module.SymType);
    EXPECT_TRUE(module.DbgUnmatched);
}

TEST_F(SymbolMatchTest, PrefersMatchingFileLaterInPathOverEarlierMismatch)
{
    const IMAGEHLP_MODULE64 module =
        Load(Image("nb10.dll"), MismatchDir("sig") + ";" + Samples() + "\\symbols", kLoose);
    EXPECT_FALSE(module.PdbUnmatched);
    EXPECT_STREQ((Samples() + "\\symbols\\nb10.pdb").c_str(), module.LoadedPdbName);
}
