#include "SymbolLibraryFixture.h"

#include <cstdlib>

namespace
{
const DWORD kExact = SYMOPT_DEBUG | SYMOPT_EXACT_SYMBOLS;
const DWORD kLoose = SYMOPT_DEBUG;
} // namespace

class SymbolKindTest : public SymbolLibraryFixture
{
protected:
    std::string Symbols() const { return Samples() + "\\symbols"; }
    std::string Store() const { return Samples() + "\\store"; }
};

TEST_F(SymbolKindTest, LoadsGuidSignedPdbFromPlainDirectory)
{
    const IMAGEHLP_MODULE64 module = Load(Image("rsds.exe"), Symbols(), kExact);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_STREQ((Symbols() + "\\rsds.pdb").c_str(), module.LoadedPdbName);
    EXPECT_STREQ(Image("rsds.exe").c_str(), module.ImageName);
    EXPECT_STREQ(Image("rsds.exe").c_str(), module.LoadedImageName);
    EXPECT_EQ(Manifest("rsds.exe", "pdb_guid"), GuidText(module.PdbSig70));
    EXPECT_EQ(0u, module.PdbSig);
    EXPECT_EQ(1u, module.PdbAge);
    EXPECT_FALSE(module.PdbUnmatched);
}

TEST_F(SymbolKindTest, LoadsSignatureSignedPdbFromPlainDirectory)
{
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), Symbols(), kExact);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_STREQ((Symbols() + "\\nb10.pdb").c_str(), module.LoadedPdbName);
    EXPECT_EQ(strtoul(Manifest("nb10.dll", "pdb_sig").c_str(), nullptr, 10), module.PdbSig);
    EXPECT_EQ(module.PdbSig, module.PdbSig70.Data1);
    EXPECT_EQ(2u, module.PdbAge);
}

TEST_F(SymbolKindTest, LoadsDbgWithCodeViewAsCvWithDbgAsLoadedImage)
{
    const IMAGEHLP_MODULE64 module = Load(Image("dbgcv.dll"), Symbols(), kExact);
    EXPECT_EQ(SymCv, module.SymType);
    EXPECT_STREQ((Symbols() + "\\dbgcv.dbg").c_str(), module.LoadedImageName);
    EXPECT_STREQ("", module.LoadedPdbName);
    EXPECT_FALSE(module.DbgUnmatched);
}

TEST_F(SymbolKindTest, LoadsPdbNamedByDbgWithBothPaths)
{
    const IMAGEHLP_MODULE64 module = Load(Image("dbgpdb.dll"), Symbols(), kExact);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_STREQ((Symbols() + "\\dbgpdb.dbg").c_str(), module.LoadedImageName);
    EXPECT_STREQ((Symbols() + "\\dbgpdb.pdb").c_str(), module.LoadedPdbName);
    EXPECT_EQ(strtoul(Manifest("dbgpdb.dll", "pdb_sig").c_str(), nullptr, 10), module.PdbSig);
    EXPECT_EQ(11u, module.PdbAge);
}

TEST_F(SymbolKindTest, ReportsCodeViewInsideImageWithImageAsLoadedImage)
{
    const IMAGEHLP_MODULE64 module = Load(Image("embcv.exe"), Symbols(), kExact);
    EXPECT_EQ(SymCv, module.SymType);
    EXPECT_STREQ(module.ImageName, module.LoadedImageName);
}

TEST_F(SymbolKindTest, ReportsCoffSymbolsOfImage)
{
    EXPECT_EQ(SymCoff, Load(Image("coff.exe"), Symbols(), kExact).SymType);
}

TEST_F(SymbolKindTest, FallsBackToExportsOnlyWhenExactIsClear)
{
    EXPECT_EQ(SymExport, Load(Image("exports.dll"), Symbols(), kLoose).SymType);
    EXPECT_EQ(SymNone, Load(Image("exports.dll"), Symbols(), kExact).SymType);
}

TEST_F(SymbolKindTest, ReportsNoSymbolsForBareImage)
{
    const IMAGEHLP_MODULE64 module = Load(Image("bare.exe"), Symbols(), kLoose);
    EXPECT_EQ(SymNone, module.SymType);
    EXPECT_STREQ("", module.LoadedImageName);
}

// The images of a 64-bit debuggee (PE32+), each of its kind: without EXACT
// an exports-only image gets its export symbols.
TEST_F(SymbolKindTest, Loads64BitImagesAsTheirKindAtTheirWideBase)
{
    for (const char* image : {"rsds64.exe", "exports64.dll", "bare64.exe"})
    {
        DWORD64 base = 0;
        const IMAGEHLP_MODULE64 module = Load(Image(image), Symbols(), kLoose, &base);
        EXPECT_EQ(ManifestNumber(image, "symtype"), module.SymType) << image;
        EXPECT_EQ(ManifestNumber(image, "image_base"), base) << image;
        EXPECT_GT(base, 0xFFFFFFFFull) << image;
        EXPECT_EQ(static_cast<DWORD>(IMAGE_FILE_MACHINE_AMD64), module.MachineType) << image;
        EXPECT_EQ(ManifestNumber(image, "size_of_image"), module.ImageSize) << image;
        EXPECT_EQ(ManifestNumber(image, "timestamp"), module.TimeDateStamp) << image;
        const std::string pdb = Manifest(image, "pdb_name");
        EXPECT_STREQ(pdb.empty() ? "" : (Symbols() + "\\" + pdb).c_str(), module.LoadedPdbName) << image;
        if (!pdb.empty())
        {
            EXPECT_EQ(Manifest(image, "pdb_guid"), GuidText(module.PdbSig70)) << image;
            EXPECT_EQ(ManifestNumber(image, "pdb_age"), module.PdbAge) << image;
            EXPECT_FALSE(module.PdbUnmatched) << image;
        }
    }
}

TEST_F(SymbolKindTest, FindsNothingWhenPathHoldsNoSymbols)
{
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), m_work->Path(), kExact);
    EXPECT_EQ(SymNone, module.SymType);
    EXPECT_STREQ("", module.LoadedPdbName);
}

TEST_F(SymbolKindTest, SearchesSymbolsAndExtensionSubdirectories)
{
    ASSERT_TRUE(Lib().MakeSureDirectoryPathExists((m_work->Path() + "\\symbols\\dll\\").c_str()));
    ASSERT_TRUE(Lib().MakeSureDirectoryPathExists((m_work->Path() + "\\exe\\").c_str()));
    const std::string nb10 = m_work->Path() + "\\symbols\\dll\\nb10.pdb";
    const std::string rsds = m_work->Path() + "\\exe\\rsds.pdb";
    ASSERT_TRUE(CopyFileA((Symbols() + "\\nb10.pdb").c_str(), nb10.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((Symbols() + "\\rsds.pdb").c_str(), rsds.c_str(), FALSE));
    EXPECT_STREQ(nb10.c_str(), Load(Image("nb10.dll"), m_work->Path(), kExact).LoadedPdbName);
    EXPECT_STREQ(rsds.c_str(), Load(Image("rsds.exe"), m_work->Path(), kExact).LoadedPdbName);
}

TEST_F(SymbolKindTest, LoadsAtPreferredImageBaseWhenBaseIsZero)
{
    DWORD64 base = 0;
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), Symbols(), kExact, &base);
    EXPECT_EQ(strtoull(Manifest("nb10.dll", "image_base").c_str(), nullptr, 10), base);
    EXPECT_EQ(base, module.BaseOfImage);
    EXPECT_EQ(strtoul(Manifest("nb10.dll", "size_of_image").c_str(), nullptr, 10), module.ImageSize);
    EXPECT_EQ(strtoul(Manifest("nb10.dll", "timestamp").c_str(), nullptr, 10), module.TimeDateStamp);
}

// Parametrised suites are not used: their names hold '/', which CTempDir
// cannot put into a directory name.
class StoreKindTest : public SymbolKindTest
{
protected:
    std::string Chain() const { return "srv*" + Downstream() + "*" + Store(); }

    void ExpectLoadedFromDownstream(const std::string& image)
    {
        const IMAGEHLP_MODULE64 module = Load(Image(image), Chain(), kExact);
        EXPECT_EQ(strtol(Manifest(image, "symtype").c_str(), nullptr, 10), module.SymType);
        const std::string storePdb = Manifest(image, "store_pdb");
        const std::string storeDbg = Manifest(image, "store_dbg");
        if (!storePdb.empty())
        {
            EXPECT_STREQ((Downstream() + "\\" + storePdb).c_str(), module.LoadedPdbName);
            EXPECT_TRUE(FileExists(Downstream() + "\\" + storePdb));
        }
        if (!storeDbg.empty())
        {
            EXPECT_STREQ((Downstream() + "\\" + storeDbg).c_str(), module.LoadedImageName);
            EXPECT_TRUE(FileExists(Downstream() + "\\" + storeDbg));
        }
    }
};

TEST_F(StoreKindTest, LoadsEachSymbolKindCopiedIntoDownstreamStoreLeavingOnlyFinishedFiles)
{
    for (const std::string& image : SeparateSymbolImages())
    {
        SCOPED_TRACE(image);
        ExpectLoadedFromDownstream(image);
    }
    const std::vector<std::string> files = ListFiles(Downstream());
    EXPECT_EQ(6u, files.size());
    for (const std::string& file : files)
        EXPECT_EQ(std::string::npos, file.find(".tmp")) << file;
}

TEST_F(StoreKindTest, ReadsSecondLoadFromDownstreamWithoutCopying)
{
    Load(Image("dbgpdb.dll"), Chain(), kExact);
    m_lines.clear();
    const IMAGEHLP_MODULE64 module = Load(Image("dbgpdb.dll"), Chain(), kExact);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_FALSE(HasLine(" copied to ")) << "copied again";
}

TEST_F(StoreKindTest, UsesDefaultStoreBesideLibraryForEmptyDownstream)
{
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), "srv**" + Store(), kExact);
    const std::string expected = Lib().Directory() + "\\sym\\" + Manifest("nb10.dll", "store_pdb");
    EXPECT_STREQ(expected.c_str(), module.LoadedPdbName);
    EXPECT_TRUE(FileExists(expected));
    DeleteFileA(expected.c_str());
}

TEST_F(StoreKindTest, ReadsSingleLocalStoreInPlace)
{
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), "srv*" + Store(), kExact);
    EXPECT_STREQ((Store() + "\\" + Manifest("nb10.dll", "store_pdb")).c_str(), module.LoadedPdbName);
}

TEST_F(StoreKindTest, CopiesIntoCacheNamedEarlierInPath)
{
    const std::string cache = m_work->File("cache");
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), "cache*" + cache + ";srv*" + Store(), kExact);
    EXPECT_STREQ((cache + "\\" + Manifest("nb10.dll", "store_pdb")).c_str(), module.LoadedPdbName);
}

TEST_F(StoreKindTest, AcceptsSymsrvFormOfStoreChain)
{
    const IMAGEHLP_MODULE64 module =
        Load(Image("rsds.exe"), "symsrv*symsrv.dll*" + Downstream() + "*" + Store(), kExact);
    EXPECT_STREQ((Downstream() + "\\" + Manifest("rsds.exe", "store_pdb")).c_str(), module.LoadedPdbName);
}
