#include "PeImage.h"

#include <functional>

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

TEST(PeImageTest, ReadsPe32IdentityExportsAndNb10Record)
{
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(Nb10Image()).bytes));
    EXPECT_EQ(0x3A1B2C3Du, image.GetTimeDateStamp());
    EXPECT_EQ(0x5000u, image.GetSizeOfImage());
    EXPECT_EQ(0x14C, image.GetMachine());
    EXPECT_EQ(0x400000u, image.GetImageBase());
    EXPECT_FALSE(image.IsPe32Plus());
    EXPECT_FALSE(image.IsDebugStripped());
    EXPECT_TRUE(image.HasExports());
    ASSERT_TRUE(image.HasCodeView());
    EXPECT_EQ(CCodeViewRecord::Nb10, image.GetCodeView().GetKind());
    EXPECT_EQ(0x11223344u, image.GetCodeView().GetSignature());
    EXPECT_EQ("app.pdb", image.GetCodeView().GetPdbName());
    // The same reader object, reused for an image without exports.
    ASSERT_TRUE(Parse(image, BuildPe(PeSpec()).bytes));
    EXPECT_FALSE(image.HasExports());
}

TEST(PeImageTest, ReadsPe32PlusIdentityWideImageBaseAndDataDirectories)
{
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(Pe32PlusImage()).bytes));
    EXPECT_TRUE(image.IsPe32Plus());
    EXPECT_EQ(0x8664, image.GetMachine());
    EXPECT_EQ(0x3A1B2C3Du, image.GetTimeDateStamp());
    EXPECT_EQ(0x5000u, image.GetSizeOfImage());
    EXPECT_EQ(0x140000000ull, image.GetImageBase());
    EXPECT_TRUE(image.HasExports());
    ASSERT_EQ(CCodeViewRecord::Rsds, image.GetCodeView().GetKind());
    EXPECT_EQ(kTestGuid, image.GetCodeView().GetGuid());
    EXPECT_EQ(3u, image.GetCodeView().GetAge());
    EXPECT_EQ("app64.pdb", image.GetCodeView().GetPdbName());
}

TEST(PeImageTest, FindsCoffSymbolsThroughFileHeaderOrDebugEntry)
{
    PeSpec header;
    header.fileHeaderSymbols = 3;
    PeSpec entry;
    entry.debug.push_back(DebugEntrySpec{1, MakeCoffSymbols(2)});
    for (const PeSpec& spec : {header, entry})
    {
        CPeImage image;
        ASSERT_TRUE(Parse(image, BuildPe(spec).bytes));
        EXPECT_TRUE(image.HasCoffSymbols());
        EXPECT_FALSE(image.HasCodeView());
    }
}

// Tables that would run past the file are ignored, the image still read.
TEST(PeImageTest, IgnoresExportAndSymbolTablesThatOverflow)
{
    BuiltFile exports = BuildPe(Nb10Image());
    PatchU32(exports.bytes, exports.exportDirectory + 20, 0x40000001);
    PatchU32(exports.bytes, exports.exportDirectory + 24, 0x40000001);
    CPeImage image;
    ASSERT_TRUE(Parse(image, exports.bytes));
    EXPECT_FALSE(image.HasExports());

    PeSpec spec;
    spec.fileHeaderSymbols = 3;
    Bytes symbols = BuildPe(spec).bytes;
    PatchU32(symbols, 0x40 + 12, 0xFFFFFFFF); // NumberOfSymbols
    ASSERT_TRUE(Parse(image, symbols));
    EXPECT_FALSE(image.HasCoffSymbols());
}

TEST(PeImageTest, StrippedImageSkipsEntriesWhoseDataMovedToDbgAndReadsItsName)
{
    for (bool unicode : {false, true})
    {
        PeSpec spec;
        spec.characteristics |= CPeImage::kDebugStripped;
        spec.debug.push_back(DebugEntrySpec{1, MakeCoffSymbols(2), true});
        spec.debug.push_back(DebugEntrySpec{2, MakeEmbeddedCodeView("NB09"), true});
        spec.debug.push_back(DebugEntrySpec{4, MakeMiscExeName("app.dbg", unicode)});
        CPeImage image;
        ASSERT_TRUE(Parse(image, BuildPe(spec).bytes)) << unicode;
        EXPECT_FALSE(image.HasCodeView());
        EXPECT_FALSE(image.HasCoffSymbols());
        EXPECT_EQ("app.dbg", image.GetMiscDbgName()) << unicode;
    }
}

TEST(PeImageTest, RefusesHostileHeadersAndDirectories)
{
    PeSpec outside;
    outside.debug.push_back(DebugEntrySpec{2, MakeNb10(1, 1, "a.pdb"), true});
    PeSpec rom = Nb10Image();
    rom.magic = 0x107;
    const struct
    {
        const char* what;
        PeSpec spec;
        std::function<void(BuiltFile&)> damage;
    } cases[] = {
        {"unstripped image with CodeView outside the file", outside, nullptr},
        {"unstripped image with corrupt CodeView", Nb10Image(),
         [](BuiltFile& pe) { PatchU32(pe.bytes, pe.debugData[0], 0x31314D58); }},
        {"optional header magic of a ROM image", rom, nullptr},
        {"header offset beyond the end", Nb10Image(), [](BuiltFile& pe) { PatchU32(pe.bytes, 0x3C, 0xFFFFFFFC); }},
        {"optional header too small for data directories", Nb10Image(),
         [](BuiltFile& pe) { PatchU16(pe.bytes, 0x40 + 20, 64); }},
        // Long enough for a PE32 header's fields, not for PE32+'s NumberOfRvaAndSizes at 108.
        {"PE32+ optional header ending before its directory count", Pe32PlusImage(),
         [](BuiltFile& pe) { PatchU16(pe.bytes, 0x40 + 20, 100); }},
        {"debug directory outside every section", Nb10Image(),
         [](BuiltFile& pe) { PatchU32(pe.bytes, pe.dataDirectories + 48, 0x90000); }},
        {"section raw data past the end", Nb10Image(),
         [](BuiltFile& pe) { PatchU32(pe.bytes, pe.sectionTable + 20, 0xFFFFFE00); }},
        // The file's tail is not mapped.
        {"debug directory beyond the section's virtual size", Nb10Image(),
         [](BuiltFile& pe) { PatchU32(pe.bytes, pe.sectionTable + 8, 0x10); }},
    };
    for (const auto& c : cases)
    {
        BuiltFile pe = BuildPe(c.spec);
        if (c.damage)
            c.damage(pe);
        CPeImage image;
        EXPECT_FALSE(Parse(image, pe.bytes)) << c.what;
        EXPECT_FALSE(image.HasCodeView()) << c.what;
    }
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
