#include "CabinetFile.h"

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

// Refused, with reason in the error and nothing left in the object.
bool RefusedFor(const Bytes& bytes, const std::string& reason)
{
    CCabinetFile cabinet;
    if (Parse(cabinet, bytes))
        return false;
    EXPECT_NE(std::string::npos, cabinet.GetError().find(reason)) << cabinet.GetError();
    return cabinet.GetFileName().empty() && cabinet.GetFileSize() == 0;
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

TEST(CabinetFileTest, AcceptsBlocksWithoutChecksums)
{
    CabinetSpec spec;
    spec.content = PatternBytes(100);
    spec.checksums = false;
    CCabinetFile cabinet;
    EXPECT_TRUE(Parse(cabinet, BuildCabinet(spec).bytes));
}

TEST(CabinetFileTest, SkipsReservedAreas)
{
    CabinetSpec spec;
    spec.content = PatternBytes(3000);
    spec.blockSize = 1024;
    spec.headerReserve = 20;
    spec.blockReserve = 8;
    CCabinetFile cabinet;
    ASSERT_TRUE(Parse(cabinet, BuildCabinet(spec).bytes)) << cabinet.GetError();
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

TEST(CabinetFileTest, RefusesCabinetLongerThanItClaims)
{
    Bytes bytes = Sample().bytes;
    bytes.push_back(0);
    EXPECT_TRUE(RefusedFor(bytes, "claims"));
}

TEST(CabinetFileTest, RefusesDamagedData)
{
    BuiltCabinet built = Sample();
    built.bytes[built.firstBlockOffset + 8 + 100] ^= 0x40;
    EXPECT_TRUE(RefusedFor(built.bytes, "data block 0 fails its checksum"));
}

TEST(CabinetFileTest, RefusesAnythingButOneFileInOneFolder)
{
    for (size_t field : {26, 28})
    {
        Bytes bytes = Sample().bytes;
        PatchU16(bytes, field, 2);
        EXPECT_TRUE(RefusedFor(bytes, "not one file")) << field;
    }
}

TEST(CabinetFileTest, RefusesSetsOfCabinets)
{
    for (uint32_t flag : {1, 2})
    {
        Bytes bytes = Sample().bytes;
        PatchU16(bytes, 30, flag);
        EXPECT_TRUE(RefusedFor(bytes, "several cabinets")) << flag;
    }
    BuiltCabinet built = Sample();
    PatchU16(built.bytes, built.fileOffset + 8, 0xFFFD);
    EXPECT_TRUE(RefusedFor(built.bytes, "another cabinet"));
}

TEST(CabinetFileTest, RefusesSizesThatDoNotAddUp)
{
    BuiltCabinet built = Sample();
    PatchU32(built.bytes, built.fileOffset, 0x7FFFFFFF);
    EXPECT_TRUE(RefusedFor(built.bytes, "claims 2147483647 bytes"));
}

TEST(CabinetFileTest, RefusesBlockExpandingPastTheLimitOrToNothing)
{
    for (uint32_t size : {0u, CCabinetFile::kMaxBlockBytes + 1})
    {
        BuiltCabinet built = Sample(1, 100);
        PatchU16(built.bytes, built.firstBlockOffset + 6, size);
        EXPECT_TRUE(RefusedFor(built.bytes, "expands to")) << size;
    }
}

TEST(CabinetFileTest, RefusesMszipBlockWithoutItsSignature)
{
    CabinetSpec spec;
    spec.content = PatternBytes(100);
    spec.checksums = false;
    BuiltCabinet built = BuildCabinet(spec);
    built.bytes[built.firstBlockOffset + 8] = 'X';
    EXPECT_TRUE(RefusedFor(built.bytes, "does not start with CK"));
}

TEST(CabinetFileTest, RefusesCompressionItCannotExpand)
{
    for (uint32_t type : {0x0002u, 0x0004u, 0x0E03u, 0x1603u, 0x0101u})
    {
        BuiltCabinet built = Sample();
        PatchU16(built.bytes, built.folderOffset + 6, type);
        EXPECT_TRUE(RefusedFor(built.bytes, "compression type")) << type;
    }
}

TEST(CabinetFileTest, RefusesStoredBlockWhoseSizesDiffer)
{
    BuiltCabinet built = Sample(0, 100);
    PatchU16(built.bytes, built.firstBlockOffset + 6, 99);
    EXPECT_TRUE(RefusedFor(built.bytes, "stored data block 0"));
}
} // namespace
