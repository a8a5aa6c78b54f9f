#include "SymbolLibraryFixture.h"

using SymbolKindTest = SymbolLibraryFixture;

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

// A base of zero loads the module at the image's preferred base.
TEST_F(SymbolKindTest, LoadsSignatureSignedPdbFromPlainDirectoryAtPreferredBase)
{
    DWORD64 base = 0;
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), Symbols(), kExact, &base);
    EXPECT_EQ(ManifestNumber("nb10.dll", "image_base"), base);
    EXPECT_EQ(base, module.BaseOfImage);
    EXPECT_EQ(ManifestNumber("nb10.dll", "size_of_image"), module.ImageSize);
    EXPECT_EQ(ManifestNumber("nb10.dll", "timestamp"), module.TimeDateStamp);
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_STREQ((Symbols() + "\\nb10.pdb").c_str(), module.LoadedPdbName);
    EXPECT_EQ(ManifestNumber("nb10.dll", "pdb_sig"), module.PdbSig);
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
    EXPECT_EQ(ManifestNumber("dbgpdb.dll", "pdb_sig"), module.PdbSig);
    EXPECT_EQ(11u, module.PdbAge);
}

// Symbols inside the image itself: embedded CodeView names the image as the
// loaded image; exports count only when EXACT is clear.
TEST_F(SymbolKindTest, ReportsSymbolsInsideImageAsTheirKind)
{
    const struct
    {
        const char* image;
        DWORD options;
        DWORD type;
    } cases[] = {{"embcv.exe", kExact, SymCv},
                 {"coff.exe", kExact, SymCoff},
                 {"exports.dll", kLoose, SymExport},
                 {"exports.dll", kExact, SymNone},
                 {"bare.exe", kLoose, SymNone}};
    for (const auto& c : cases)
    {
        const IMAGEHLP_MODULE64 module = Load(Image(c.image), Symbols(), c.options);
        EXPECT_EQ(c.type, module.SymType) << c.image << " " << c.options;
        if (c.type == SymCv)
        {
            EXPECT_STREQ(module.ImageName, module.LoadedImageName);
        }
        if (c.type == SymNone)
        {
            EXPECT_STREQ("", module.LoadedImageName) << c.image;
        }
    }
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

// Forms of the search path that name a store, and where each puts or reads the file.
TEST_F(SymbolKindTest, ReadsOrCopiesStoreFileWhereThePathFormSays)
{
    const std::string cache = m_work->File("cache");
    const struct
    {
        const char* image;
        std::string path;
        std::string directory;
    } cases[] = {
        // A single local store is read in place.
        {"nb10.dll", "srv*" + Store(), Store()},
        {"nb10.dll", "cache*" + cache + ";srv*" + Store(), cache},
        {"rsds.exe", "symsrv*symsrv.dll*" + Downstream() + "*" + Store(), Downstream()},
    };
    for (const auto& c : cases)
    {
        const IMAGEHLP_MODULE64 module = Load(Image(c.image), c.path, kExact);
        EXPECT_STREQ((c.directory + "\\" + Manifest(c.image, "store_pdb")).c_str(), module.LoadedPdbName) << c.path;
    }
}
