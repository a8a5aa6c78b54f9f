#include "ImportDirectory.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FormatBuilders.h"
#include "PeImage.h"

namespace
{
using Names = std::vector<std::string>;

PeSpec ImportingImage(uint16_t magic, const Names& imports)
{
    PeSpec spec;
    spec.magic = magic;
    spec.imports = imports;
    spec.debug.push_back(DebugEntrySpec{2, MakeNb10(0x11223344, 2, "app.pdb")});
    return spec;
}

TEST(ImportDirectoryTest, ReadsDllNamesOfPe32AndPe32PlusInTableOrder)
{
    const Names names = {"KERNEL32.dll", "msvcrt.dll", "api-ms-win-core-synch-l1-2-0.dll", "KERNEL32.dll"};
    for (uint16_t magic : {uint16_t(0x10b), uint16_t(0x20b)})
    {
        CPeImage image;
        ASSERT_TRUE(Parse(image, BuildPe(ImportingImage(magic, names)).bytes)) << magic;
        EXPECT_EQ(names, image.GetImportNames()) << magic;
        // The import table changes nothing else that is read.
        EXPECT_EQ(0x11223344u, image.GetCodeView().GetSignature()) << magic;
    }
    CPeImage none;
    ASSERT_TRUE(Parse(none, BuildPe(ImportingImage(0x10b, {})).bytes));
    EXPECT_TRUE(none.GetImportNames().empty());
}

// Damage in the import table never costs the image its identity: the names
// before the damage are kept, and the image still reads.
TEST(ImportDirectoryTest, KeepsNamesBeforeDamageAndStillReadsTheImage)
{
    struct Case
    {
        const char* what;
        std::function<void(BuiltFile&)> damage;
        Names expected;
    };
    const std::vector<Case> cases = {
        {"second name outside the file",
         [](BuiltFile& pe) { PatchU32(pe.bytes, pe.importDirectory + 20 + 12, 0x7FFF0000); },
         {"a.dll"}},
        {"first name RVA zero", [](BuiltFile& pe) { PatchU32(pe.bytes, pe.importDirectory + 12, 0); }, {}},
        {"ending descriptor not all zero",
         [](BuiltFile& pe) { PatchU32(pe.bytes, pe.importDirectory + 40 + 4, 1); },
         {"a.dll", "b.dll"}},
        {"table outside every section",
         [](BuiltFile& pe) { PatchU32(pe.bytes, pe.dataDirectories + 8, 0xFFFFFFF0); },
         {}},
        {"name longer than a file name, unterminated", [](BuiltFile& pe)
         {
             PatchU32(pe.bytes, pe.importDirectory + 12, uint32_t(pe.bytes.size() - 0x200 + 0x1000));
             pe.bytes.resize(pe.bytes.size() + 400, 'x');
         },
         {}},
    };
    for (const Case& c : cases)
    {
        BuiltFile pe = BuildPe(ImportingImage(0x10b, {"a.dll", "b.dll"}));
        c.damage(pe);
        // The section's raw size covers the file to its end.
        PatchU32(pe.bytes, pe.sectionTable + 8, uint32_t(pe.bytes.size() - 0x200));
        PatchU32(pe.bytes, pe.sectionTable + 16, uint32_t(pe.bytes.size() - 0x200));
        CPeImage image;
        ASSERT_TRUE(Parse(image, pe.bytes)) << c.what;
        EXPECT_EQ(c.expected, image.GetImportNames()) << c.what;
        EXPECT_EQ(0x11223344u, image.GetCodeView().GetSignature()) << c.what;
    }
}

TEST(ImportDirectoryTest, StopsAtTheNameLimitOfAHugeTable)
{
    Names many;
    for (size_t i = 0; i < CImportDirectory::kMaxNames + 100; ++i)
        many.push_back("d" + std::to_string(i) + ".dll");
    CPeImage image;
    ASSERT_TRUE(Parse(image, BuildPe(ImportingImage(0x20b, many)).bytes));
    ASSERT_EQ(CImportDirectory::kMaxNames, image.GetImportNames().size());
    EXPECT_EQ("d0.dll", image.GetImportNames().front());
}

// Every prefix of an importing image gives a prefix of its names, never others.
TEST(ImportDirectoryTest, EveryTruncationGivesAPrefixOfTheNames)
{
    const Names names = {"one.dll", "two.dll", "three.dll"};
    const Bytes bytes = BuildPe(ImportingImage(0x10b, names)).bytes;
    for (size_t length = 0; length < bytes.size(); ++length)
    {
        CPeImage image;
        if (!image.Parse(bytes.data(), length))
            continue;
        const Names& got = image.GetImportNames();
        ASSERT_LE(got.size(), names.size()) << length;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), names.begin())) << length;
    }
}
} // namespace
