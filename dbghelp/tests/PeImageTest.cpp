#include "PeImage.h"

#include <gtest/gtest.h>

#include "FormatBuilders.h"

namespace
{
PeSpec Nb10Image()
{
    PeSpec spec;
    spec.exports = true;
    spec.debug.push_back(DebugEntrySpec{2, MakeNb10(0x11223344, 2, "app.pdb")});
    return spec;
}

// An x64 image as a current linker writes it: RSDS record, exports.
PeSpec Pe32PlusImage()
{
    PeSpec spec;
    spec.magic = 0x20b;
    spec.characteristics = 0x0022; // executable, large address aware
    spec.exports = true;
    spec.debug.push_back(DebugEntrySpec{2, MakeRsds(kTestGuid, 3, "app64.pdb")});
    return spec;
}

TEST(PeImageTest, ReadsIdentityFromHeaders)
{
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(Nb10Image()).bytes));
    EXPECT_EQ(0x3A1B2C3Du, image.GetTimeDateStamp());
    EXPECT_EQ(0x5000u, image.GetSizeOfImage());
    EXPECT_EQ(0x14C, image.GetMachine());
    EXPECT_EQ(0x400000u, image.GetImageBase());
    EXPECT_FALSE(image.IsPe32Plus());
    EXPECT_FALSE(image.IsDebugStripped());
}

TEST(PeImageTest, ReadsPe32PlusIdentityAndWideImageBase)
{
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(Pe32PlusImage()).bytes));
    EXPECT_TRUE(image.IsPe32Plus());
    EXPECT_EQ(0x8664, image.GetMachine());
    EXPECT_EQ(0x3A1B2C3Du, image.GetTimeDateStamp());
    EXPECT_EQ(0x5000u, image.GetSizeOfImage());
    EXPECT_EQ(0x140000000ull, image.GetImageBase());
}

TEST(PeImageTest, ReadsDataDirectoriesOfPe32PlusImage)
{
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(Pe32PlusImage()).bytes));
    EXPECT_TRUE(image.HasExports());
    ASSERT_EQ(CCodeViewRecord::Rsds, image.GetCodeView().GetKind());
    EXPECT_EQ(kTestGuid, image.GetCodeView().GetGuid());
    EXPECT_EQ(3u, image.GetCodeView().GetAge());
    EXPECT_EQ("app64.pdb", image.GetCodeView().GetPdbName());
}

TEST(PeImageTest, ReadsNb10CodeViewRecord)
{
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(Nb10Image()).bytes));
    ASSERT_TRUE(image.HasCodeView());
    EXPECT_EQ(CCodeViewRecord::Nb10, image.GetCodeView().GetKind());
    EXPECT_EQ(0x11223344u, image.GetCodeView().GetSignature());
    EXPECT_EQ("app.pdb", image.GetCodeView().GetPdbName());
}

TEST(PeImageTest, ReportsExportsOfImageThatHasThem)
{
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(Nb10Image()).bytes));
    EXPECT_TRUE(image.HasExports());
    ASSERT_TRUE(Parse(image, BuildPe(PeSpec()).bytes));
    EXPECT_FALSE(image.HasExports());
}

TEST(PeImageTest, IgnoresExportCountWhoseTableSizeOverflows)
{
    BuiltFile pe = BuildPe(Nb10Image());
    PatchU32(pe.bytes, pe.exportDirectory + 20, 0x40000001);
    PatchU32(pe.bytes, pe.exportDirectory + 24, 0x40000001);
    CPeImage image;
    ASSERT_TRUE(Parse(image, pe.bytes));
    EXPECT_FALSE(image.HasExports());
}

TEST(PeImageTest, FindsCoffSymbolsThroughFileHeader)
{
    PeSpec spec;
    spec.fileHeaderSymbols = 3;
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(spec).bytes));
    EXPECT_TRUE(image.HasCoffSymbols());
}

TEST(PeImageTest, IgnoresFileHeaderSymbolTableBeyondEnd)
{
    PeSpec spec;
    spec.fileHeaderSymbols = 3;
    Bytes bytes = BuildPe(spec).bytes;
    PatchU32(bytes, 0x40 + 12, 0xFFFFFFFF); // NumberOfSymbols
    CPeImage image;
    ASSERT_TRUE(Parse(image, bytes));
    EXPECT_FALSE(image.HasCoffSymbols());
}

TEST(PeImageTest, FindsCoffSymbolsThroughDebugEntry)
{
    PeSpec spec;
    spec.debug.push_back(DebugEntrySpec{1, MakeCoffSymbols(2)});
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(spec).bytes));
    EXPECT_TRUE(image.HasCoffSymbols());
    EXPECT_FALSE(image.HasCodeView());
}

TEST(PeImageTest, ReadsUnicodeDbgName)
{
    PeSpec spec;
    spec.debug.push_back(DebugEntrySpec{4, MakeMiscExeName("app.dbg", true)});
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(spec).bytes));
    EXPECT_EQ("app.dbg", image.GetMiscDbgName());
}

TEST(PeImageTest, StrippedImageSkipsEntriesWhoseDataMovedToDbg)
{
    PeSpec spec;
    spec.characteristics |= CPeImage::kDebugStripped;
    spec.debug.push_back(DebugEntrySpec{1, MakeCoffSymbols(2), true});
    spec.debug.push_back(DebugEntrySpec{2, MakeEmbeddedCodeView("NB09"), true});
    spec.debug.push_back(DebugEntrySpec{4, MakeMiscExeName("app.dbg", false)});
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(spec).bytes));
    EXPECT_FALSE(image.HasCodeView());
    EXPECT_FALSE(image.HasCoffSymbols());
    EXPECT_EQ("app.dbg", image.GetMiscDbgName());
}

TEST(PeImageTest, RefusesUnstrippedImageWithCodeViewOutsideFile)
{
    PeSpec spec;
    spec.debug.push_back(DebugEntrySpec{2, MakeNb10(1, 1, "a.pdb"), true});
    CPeImage image;
    EXPECT_FALSE(Parse(image, BuildPe(spec).bytes));
}

TEST(PeImageTest, RefusesUnstrippedImageWithCorruptCodeView)
{
    BuiltFile pe = BuildPe(Nb10Image());
    PatchU32(pe.bytes, pe.debugData[0], 0x31314D58);
    CPeImage image;
    EXPECT_FALSE(Parse(image, pe.bytes));
    EXPECT_FALSE(image.HasCodeView());
}

TEST(PeImageTest, RefusesUnknownOptionalHeaderMagic)
{
    PeSpec spec = Nb10Image();
    spec.magic = 0x107; // ROM image
    CPeImage image;
    EXPECT_FALSE(Parse(image, BuildPe(spec).bytes));
}

TEST(PeImageTest, RefusesHeaderOffsetBeyondEnd)
{
    Bytes bytes = BuildPe(Nb10Image()).bytes;
    PatchU32(bytes, 0x3C, 0xFFFFFFFC);
    CPeImage image;
    EXPECT_FALSE(Parse(image, bytes));
}

TEST(PeImageTest, RefusesOptionalHeaderTooSmallForDataDirectories)
{
    BuiltFile pe = BuildPe(Nb10Image());
    PatchU16(pe.bytes, 0x40 + 20, 64); // SizeOfOptionalHeader
    CPeImage image;
    EXPECT_FALSE(Parse(image, pe.bytes));
}

TEST(PeImageTest, RefusesPe32PlusOptionalHeaderEndingBeforeItsDirectoryCount)
{
    // Long enough for a PE32 header's fields, not for PE32+'s NumberOfRvaAndSizes at 108.
    BuiltFile pe = BuildPe(Pe32PlusImage());
    PatchU16(pe.bytes, 0x40 + 20, 100);
    CPeImage image;
    EXPECT_FALSE(Parse(image, pe.bytes));
}

TEST(PeImageTest, RefusesDebugDirectoryOutsideEverySection)
{
    BuiltFile pe = BuildPe(Nb10Image());
    PatchU32(pe.bytes, pe.dataDirectories + 48, 0x90000);
    CPeImage image;
    EXPECT_FALSE(Parse(image, pe.bytes));
}

TEST(PeImageTest, RefusesSectionWhoseRawDataLiesPastEnd)
{
    BuiltFile pe = BuildPe(Nb10Image());
    PatchU32(pe.bytes, pe.sectionTable + 20, 0xFFFFFE00); // PointerToRawData
    CPeImage image;
    EXPECT_FALSE(Parse(image, pe.bytes));
}

TEST(PeImageTest, RefusesDebugDirectoryBeyondSectionVirtualSize)
{
    BuiltFile pe = BuildPe(Nb10Image());
    PatchU32(pe.bytes, pe.sectionTable + 8, 0x10); // VirtualSize: the file's tail is not mapped
    CPeImage image;
    EXPECT_FALSE(Parse(image, pe.bytes));
}

// Each prefix of a valid image is either refused or read with the same
// identity and CodeView record: no prefix may yield different data.
TEST(PeImageTest, EveryTruncationIsRefusedOrConsistent)
{
    PeSpec pe32 = Nb10Image();
    pe32.debug.push_back(DebugEntrySpec{4, MakeMiscExeName("app.dbg", true)});
    pe32.debug.push_back(DebugEntrySpec{1, MakeCoffSymbols(1)});
    PeSpec pe32Plus = Pe32PlusImage();
    pe32Plus.debug.push_back(DebugEntrySpec{1, MakeCoffSymbols(1)});
    for (const PeSpec& spec : {pe32, pe32Plus})
    {
        const Bytes bytes = BuildPe(spec).bytes;
        CPeImage full;
        ASSERT_TRUE(Parse(full, bytes));
        for (size_t length = 0; length < bytes.size(); ++length)
        {
            CPeImage image;
            if (!image.Parse(bytes.data(), length))
            {
                EXPECT_EQ(0u, image.GetTimeDateStamp());
                EXPECT_EQ(0u, image.GetImageBase());
                continue;
            }
            EXPECT_EQ(full.GetTimeDateStamp(), image.GetTimeDateStamp()) << length;
            EXPECT_EQ(full.GetImageBase(), image.GetImageBase()) << length;
            EXPECT_EQ(full.GetCodeView().GetSignature(), image.GetCodeView().GetSignature()) << length;
            EXPECT_EQ(full.GetCodeView().GetGuid(), image.GetCodeView().GetGuid()) << length;
            EXPECT_EQ(full.GetMiscDbgName(), image.GetMiscDbgName()) << length;
        }
        CPeImage cut;
        EXPECT_FALSE(cut.Parse(bytes.data(), bytes.size() - 1)) << spec.magic;
    }
}
} // namespace
