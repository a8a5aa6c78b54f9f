#include "PdbFile.h"

#include <gtest/gtest.h>

#include "FormatBuilders.h"

namespace
{
const uint32_t kVc98 = 19970604;

BuiltPdb Standard(int msf)
{
    return BuildPdb(msf, StandardPageSize(msf), StandardStreams(msf == 7 ? CPdbFile::kVersionVc70 : kVc98, msf == 7));
}

TEST(PdbFileTest, ReadsMsf7InfoStreamWithGuid)
{
    CPdbFile pdb;
    ASSERT_TRUE(Parse(pdb, Standard(7).bytes));
    EXPECT_EQ(7, pdb.GetMsfVersion());
    EXPECT_EQ(CPdbFile::kVersionVc70, pdb.GetVersion());
    EXPECT_EQ(0x3A1B2C3Du, pdb.GetSignature());
    EXPECT_EQ(3u, pdb.GetAge());
    ASSERT_TRUE(pdb.HasGuid());
    EXPECT_EQ(kTestGuid, pdb.GetGuid());
}

TEST(PdbFileTest, ReadsPdb2InfoStreamWithoutGuid)
{
    CPdbFile pdb;
    ASSERT_TRUE(Parse(pdb, Standard(2).bytes));
    EXPECT_EQ(2, pdb.GetMsfVersion());
    EXPECT_EQ(kVc98, pdb.GetVersion());
    EXPECT_EQ(0x3A1B2C3Du, pdb.GetSignature());
    EXPECT_EQ(3u, pdb.GetAge());
    EXPECT_FALSE(pdb.HasGuid());
}

TEST(PdbFileTest, FollowsDirectorySpanningSeveralPages)
{
    for (int msf : {2, 7})
    {
        std::vector<Bytes> streams = StandardStreams(kVc98, false);
        streams[0] = Bytes(600 * StandardPageSize(msf), 0xCC); // a page list longer than one page
        CPdbFile pdb;
        ASSERT_TRUE(Parse(pdb, BuildPdb(msf, StandardPageSize(msf), streams).bytes)) << msf;
        EXPECT_EQ(3u, pdb.GetAge());
    }
}

TEST(PdbFileTest, SkipsPageListsOfUnusedStreams)
{
    std::vector<Bytes> streams = StandardStreams(CPdbFile::kVersionVc70, true);
    streams[0].clear();
    CPdbFile pdb;
    ASSERT_TRUE(Parse(pdb, BuildPdb(7, 512, streams, {true}).bytes));
    EXPECT_EQ(kTestGuid, pdb.GetGuid());
}

TEST(PdbFileTest, RefusesVc70InfoStreamWithoutGuid)
{
    std::vector<Bytes> streams = StandardStreams(CPdbFile::kVersionVc70, false);
    streams[1].resize(12);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, BuildPdb(7, 512, streams).bytes));
    EXPECT_EQ(0, pdb.GetMsfVersion());
}

TEST(PdbFileTest, RefusesFileWithoutInfoStream)
{
    std::vector<Bytes> streams = StandardStreams(CPdbFile::kVersionVc70, true);
    streams.resize(1);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, BuildPdb(7, 512, streams).bytes));
}

TEST(PdbFileTest, RefusesUnusedInfoStream)
{
    std::vector<Bytes> streams = StandardStreams(kVc98, false);
    streams[1].clear();
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, BuildPdb(2, 1024, streams, {false, true}).bytes));
}

TEST(PdbFileTest, RefusesDirectorySizeLargerThanFile)
{
    for (int msf : {2, 7})
    {
        BuiltPdb built = Standard(msf);
        PatchU32(built.bytes, built.directorySizeField, 0xFFFFFFF0);
        CPdbFile pdb;
        EXPECT_FALSE(Parse(pdb, built.bytes)) << msf;
    }
}

TEST(PdbFileTest, RefusesStreamSizeWhosePageListRunsPastDirectory)
{
    BuiltPdb built = Standard(2);
    PatchU32(built.bytes, built.directoryOffset + 4, 0x7FFFFFFF); // size of stream 0
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, built.bytes));
}

TEST(PdbFileTest, RefusesPageNumberBeyondFile)
{
    BuiltPdb built = Standard(7);
    // Directory: count, three sizes, stream 0's three pages, then stream 1's page.
    PatchU32(built.bytes, built.directoryOffset + 4 * 7, 0x00FFFFFF);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, built.bytes));
}

TEST(PdbFileTest, RefusesStreamPointingAtHeaderPage)
{
    BuiltPdb built = Standard(2);
    // Directory: count word, three (size, unused) pairs, stream 0's two pages, stream 1's page.
    PatchU16(built.bytes, built.directoryOffset + 4 + 24 + 4, 0);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, built.bytes));
}

TEST(PdbFileTest, RefusesPageCountSmallerThanUsedPages)
{
    Bytes bytes = Standard(2).bytes;
    PatchU16(bytes, 50, 3);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, bytes));
}

uint32_t ReadU32At(const Bytes& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

bool RefusedFor(const Bytes& bytes, const std::string& reason)
{
    CPdbFile pdb;
    if (Parse(pdb, bytes))
        return false;
    EXPECT_NE(std::string::npos, pdb.GetError().find(reason)) << pdb.GetError();
    return pdb.GetMsfVersion() == 0;
}

TEST(PdbFileTest, AcceptedFileHasNoError)
{
    CPdbFile pdb;
    ASSERT_FALSE(Parse(pdb, Bytes(10, 0)));
    EXPECT_FALSE(pdb.GetError().empty());
    ASSERT_TRUE(Parse(pdb, Standard(7).bytes));
    EXPECT_EQ("", pdb.GetError());
}

// The damaged files a store once handed out as matching symbols.
TEST(PdbFileTest, RefusesHeaderClaimingMoreBlocksThanTheFileHas)
{
    BuiltPdb msf7 = Standard(7);
    PatchU32(msf7.bytes, 40, 0x7FFFFFFF);
    EXPECT_TRUE(RefusedFor(msf7.bytes, "claims 2147483647 blocks"));
    BuiltPdb msf2 = Standard(2);
    PatchU16(msf2.bytes, 50, 0xFFFF);
    EXPECT_TRUE(RefusedFor(msf2.bytes, "claims 65535 blocks"));
}

TEST(PdbFileTest, RefusesStreamClaimingMoreBytesThanTheFile)
{
    BuiltPdb built = Standard(7);
    // Directory: stream count, then the sizes of streams 0, 1 and 2.
    PatchU32(built.bytes, built.directoryOffset + 4 + 2 * 4, 0x7FFFFFF0);
    EXPECT_TRUE(RefusedFor(built.bytes, "stream 2 claims 2147483632 bytes"));
}

TEST(PdbFileTest, RefusesFileWhoseSizeIsNotItsBlocks)
{
    for (int msf : {2, 7})
    {
        Bytes bytes = Standard(msf).bytes;
        bytes.push_back(0);
        EXPECT_TRUE(RefusedFor(bytes, "the file has")) << msf;
    }
}

TEST(PdbFileTest, RefusesBlockThatTwoStreamsShare)
{
    BuiltPdb built = Standard(7);
    // Directory: count, three sizes, stream 0's three pages, stream 1's page, stream 2's page.
    const size_t infoPage = built.directoryOffset + 4 * 7;
    PatchU32(built.bytes, infoPage + 4, ReadU32At(built.bytes, infoPage));
    EXPECT_TRUE(RefusedFor(built.bytes, "belongs to two streams"));
}

TEST(PdbFileTest, RefusesStreamOnTheDirectorysOwnBlock)
{
    BuiltPdb built = Standard(7);
    const uint32_t directoryPage = uint32_t(built.directoryOffset / StandardPageSize(7));
    PatchU32(built.bytes, built.directoryOffset + 4 * 8, directoryPage);
    EXPECT_TRUE(RefusedFor(built.bytes, "belongs to two streams"));
}

TEST(PdbFileTest, RefusesDirectoryEndingInsideABlockList)
{
    for (int msf : {2, 7})
    {
        BuiltPdb built = Standard(msf);
        // Stream 2 grows to two pages; the directory lists only its one.
        const size_t sizeOfStream2 = msf == 7 ? built.directoryOffset + 4 + 2 * 4 : built.directoryOffset + 4 + 2 * 8;
        PatchU32(built.bytes, sizeOfStream2, StandardPageSize(msf) + 1);
        EXPECT_TRUE(RefusedFor(built.bytes, "ends inside the block list of stream 2")) << msf;
    }
}

TEST(PdbFileTest, EveryTruncationIsRefusedOrConsistent)
{
    for (int msf : {2, 7})
    {
        const Bytes bytes = Standard(msf).bytes;
        for (size_t length = 0; length < bytes.size(); ++length)
        {
            CPdbFile pdb;
            if (pdb.Parse(bytes.data(), length))
                EXPECT_EQ(3u, pdb.GetAge()) << msf << " " << length;
            else
                EXPECT_EQ(0, pdb.GetMsfVersion());
        }
    }
}
} // namespace
