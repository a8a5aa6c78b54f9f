#include "CabinetFile.h"

#include <functional>

#include <gtest/gtest.h>

#include "CabinetBuilder.h"

namespace
{
BuiltCabinet Sample(uint16_t compression = 1, size_t size = 2500, size_t blockSize = 1000)
{
    CabinetSpec spec;
    spec.content = PatternBytes(size);
    spec.compression = compression;
    spec.blockSize = blockSize;
    return BuildCabinet(spec);
}

TEST(CabinetFileTest, ReadsStoredAndMszipCabinets)
{
    for (uint16_t compression : {0, 1})
    {
        CCabinetFile cabinet;
        ASSERT_TRUE(Parse(cabinet, Sample(compression).bytes)) << cabinet.GetError();
        EXPECT_EQ("app.pdb", cabinet.GetFileName());
        EXPECT_EQ(2500u, cabinet.GetFileSize());
        EXPECT_EQ(3u, cabinet.GetBlockCount());
        EXPECT_EQ(compression, cabinet.GetCompression());
        EXPECT_EQ("", cabinet.GetError());
    }
}

TEST(CabinetFileTest, ChecksumFollowsTheCabinetDefinition)
{
    // Whole words little-endian, then the one to three bytes left with the first highest.
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(0x04030201u ^ 0x050607u, CCabinetFile::Checksum(bytes, 7, 0));
    EXPECT_EQ(0x04030201u ^ 0x05u ^ 0xFFu, CCabinetFile::Checksum(bytes, 5, 0xFF));
}

TEST(CabinetFileTest, AcceptsBlocksWithoutChecksumsAndSkipsReservedAreas)
{
    CabinetSpec unchecked;
    unchecked.content = PatternBytes(100);
    unchecked.checksums = false;
    CCabinetFile cabinet;
    EXPECT_TRUE(Parse(cabinet, BuildCabinet(unchecked).bytes)) << cabinet.GetError();

    CabinetSpec reserved;
    reserved.content = PatternBytes(3000);
    reserved.blockSize = 1024;
    reserved.headerReserve = 20;
    reserved.blockReserve = 8;
    ASSERT_TRUE(Parse(cabinet, BuildCabinet(reserved).bytes)) << cabinet.GetError();
    EXPECT_EQ(3u, cabinet.GetBlockCount());
}

TEST(CabinetFileTest, RefusesEveryTruncation)
{
    const Bytes bytes = Sample().bytes;
    for (size_t length = 0; length < bytes.size(); ++length)
    {
        CCabinetFile cabinet;
        EXPECT_FALSE(cabinet.Parse(bytes.data(), length)) << length;
        EXPECT_FALSE(cabinet.GetError().empty());
    }
}

// Each is refused with its reason in the error and nothing left in the object.
TEST(CabinetFileTest, RefusesDamagedOrUnsupportedCabinetsSayingWhy)
{
    using Damage = std::function<void(BuiltCabinet&)>;
    auto u16 = [](size_t BuiltCabinet::*base, size_t at, uint32_t value) -> Damage
    { return [=](BuiltCabinet& c) { PatchU16(c.bytes, (base != nullptr ? c.*base : 0) + at, value); }; };
    CabinetSpec unchecked;
    unchecked.content = PatternBytes(100);
    unchecked.checksums = false;
    const BuiltCabinet sample = Sample();
    const BuiltCabinet small = Sample(1, 100);
    const BuiltCabinet stored = Sample(0, 100);
    struct Case
    {
        std::string what;
        BuiltCabinet cabinet;
        Damage damage;
        std::string reason;
    };
    std::vector<Case> cases = {
        {"one byte longer", sample, [](BuiltCabinet& c) { c.bytes.push_back(0); }, "claims"},
        {"damaged data", sample, [](BuiltCabinet& c) { c.bytes[c.firstBlockOffset + 8 + 100] ^= 0x40; },
         "data block 0 fails its checksum"},
        {"two folders", sample, u16(nullptr, 26, 2), "not one file"},
        {"two files", sample, u16(nullptr, 28, 2), "not one file"},
        {"previous cabinet flag", sample, u16(nullptr, 30, 1), "several cabinets"},
        {"next cabinet flag", sample, u16(nullptr, 30, 2), "several cabinets"},
        {"file continued from another cabinet", sample, u16(&BuiltCabinet::fileOffset, 8, 0xFFFD), "another cabinet"},
        {"file size beyond its data", sample, [](BuiltCabinet& c) { PatchU32(c.bytes, c.fileOffset, 0x7FFFFFFF); },
         "claims 2147483647 bytes"},
        {"block expanding to nothing", small, u16(&BuiltCabinet::firstBlockOffset, 6, 0), "expands to"},
        {"block expanding past the limit", small,
         u16(&BuiltCabinet::firstBlockOffset, 6, CCabinetFile::kMaxBlockBytes + 1), "expands to"},
        {"MSZIP block without its signature", BuildCabinet(unchecked),
         [](BuiltCabinet& c) { c.bytes[c.firstBlockOffset + 8] = 'X'; }, "does not start with CK"},
        {"stored block whose sizes differ", stored, u16(&BuiltCabinet::firstBlockOffset, 6, 99), "stored data block 0"},
        {"MSZIP data expanding past the limit", BuildOverExpandingCabinet(), [](BuiltCabinet&) {},
         "MSZIP data block 0 expands to more than 32768 bytes"},
        {"MSZIP data expanding to less than claimed", BuildCabinet(unchecked),
         [](BuiltCabinet& c)
         {
             PatchU16(c.bytes, c.firstBlockOffset + 6, 101);
             PatchU32(c.bytes, c.fileOffset, 101);
         },
         "expands to 100 bytes, not the 101 it claims"},
        {"MSZIP data that is no deflate data", BuildCabinet(unchecked),
         [](BuiltCabinet& c) { c.bytes[c.firstBlockOffset + 10] = 0x07; }, "its compressed data does not expand"},
    };
    for (uint32_t type : {0x0002u, 0x0004u, 0x0E03u, 0x1603u, 0x0101u})
        cases.push_back({"compression " + std::to_string(type), sample, u16(&BuiltCabinet::folderOffset, 6, type),
                         "compression type"});
    for (Case& c : cases)
    {
        c.damage(c.cabinet);
        CCabinetFile cabinet;
        EXPECT_FALSE(Parse(cabinet, c.cabinet.bytes)) << c.what;
        EXPECT_NE(std::string::npos, cabinet.GetError().find(c.reason)) << c.what << ": " << cabinet.GetError();
        EXPECT_TRUE(cabinet.GetFileName().empty()) << c.what;
        EXPECT_EQ(0u, cabinet.GetFileSize()) << c.what;
    }
}
} // namespace
