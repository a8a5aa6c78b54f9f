#include "PdbFile.h"

#include <gtest/gtest.h>

#include "FormatBuilders.h"

namespace
{
bool Parse(CPdbFile& pdb, const Bytes& bytes)
{
    return pdb.Parse(bytes.data(), bytes.size());
}

TEST(PdbFileTest, ReadsMsf7InfoStreamWithGuid)
{
    CPdbFile pdb;
    ASSERT_TRUE(Parse(pdb, BuildPdb(StandardPdb(7, CPdbFile::kVersionVc70, true)).bytes));
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
    ASSERT_TRUE(Parse(pdb, BuildPdb(StandardPdb(2, 19970604, false)).bytes));
    EXPECT_EQ(2, pdb.GetMsfVersion());
    EXPECT_EQ(19970604u, pdb.GetVersion());
    EXPECT_EQ(0x3A1B2C3Du, pdb.GetSignature());
    EXPECT_EQ(3u, pdb.GetAge());
    EXPECT_FALSE(pdb.HasGuid());
}

TEST(PdbFileTest, FollowsDirectorySpanningSeveralPages)
{
    for (int msf : {2, 7})
    {
        PdbSpec spec = StandardPdb(msf, 19970604, false);
        spec.streams[0] = Bytes(600 * spec.pageSize, 0xCC);  // a page list longer than one page
        CPdbFile pdb;
        ASSERT_TRUE(Parse(pdb, BuildPdb(spec).bytes)) << msf;
        EXPECT_EQ(3u, pdb.GetAge());
    }
}

TEST(PdbFileTest, SkipsPageListsOfUnusedStreams)
{
    PdbSpec spec = StandardPdb(7, CPdbFile::kVersionVc70, true);
    spec.streams[0].clear();
    spec.nil = {true};
    CPdbFile pdb;
    ASSERT_TRUE(Parse(pdb, BuildPdb(spec).bytes));
    EXPECT_EQ(kTestGuid, pdb.GetGuid());
}

TEST(PdbFileTest, RefusesVc70InfoStreamWithoutGuid)
{
    PdbSpec spec = StandardPdb(7, CPdbFile::kVersionVc70, false);
    spec.streams[1].resize(12);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, BuildPdb(spec).bytes));
    EXPECT_EQ(0, pdb.GetMsfVersion());
}

TEST(PdbFileTest, RefusesFileWithoutInfoStream)
{
    PdbSpec spec = StandardPdb(7, CPdbFile::kVersionVc70, true);
    spec.streams.resize(1);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, BuildPdb(spec).bytes));
}

TEST(PdbFileTest, RefusesUnusedInfoStream)
{
    PdbSpec spec = StandardPdb(2, 19970604, false);
    spec.streams[1].clear();
    spec.nil = {false, true};
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, BuildPdb(spec).bytes));
}

TEST(PdbFileTest, RefusesUnknownMagic)
{
    Bytes bytes = BuildPdb(StandardPdb(7, CPdbFile::kVersionVc70, true)).bytes;
    bytes[20] = '8';
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, bytes));
}

TEST(PdbFileTest, RefusesPageSizeNotAPowerOfTwo)
{
    Bytes bytes = BuildPdb(StandardPdb(7, CPdbFile::kVersionVc70, true)).bytes;
    PatchU32(bytes, 32, 513);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, bytes));
}

TEST(PdbFileTest, RefusesDirectorySizeLargerThanFile)
{
    for (int msf : {2, 7})
    {
        BuiltPdb built = BuildPdb(StandardPdb(msf, 19970604, false));
        PatchU32(built.bytes, built.directorySizeField, 0xFFFFFFF0);
        CPdbFile pdb;
        EXPECT_FALSE(Parse(pdb, built.bytes)) << msf;
    }
}

TEST(PdbFileTest, RefusesStreamCountBeyondDirectory)
{
    BuiltPdb built = BuildPdb(StandardPdb(7, CPdbFile::kVersionVc70, true));
    PatchU32(built.bytes, built.directoryOffset, 0x40000000);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, built.bytes));
}

TEST(PdbFileTest, RefusesStreamSizeWhosePageListRunsPastDirectory)
{
    BuiltPdb built = BuildPdb(StandardPdb(2, 19970604, false));
    PatchU32(built.bytes, built.directoryOffset + 4, 0x7FFFFFFF);  // size of stream 0
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, built.bytes));
}

TEST(PdbFileTest, RefusesPageNumberBeyondPageCount)
{
    BuiltPdb built = BuildPdb(StandardPdb(7, CPdbFile::kVersionVc70, true));
    // Directory: count, three sizes, then stream 0's three pages and stream 1's page.
    PatchU32(built.bytes, built.directoryOffset + 4 * 7, 0x00FFFFFF);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, built.bytes));
}

TEST(PdbFileTest, RefusesStreamPointingAtHeaderPage)
{
    BuiltPdb built = BuildPdb(StandardPdb(2, 19970604, false));
    // Directory: count word, three (size, unused) pairs, stream 0's two pages, stream 1's page.
    PatchU16(built.bytes, built.directoryOffset + 4 + 24 + 4, 0);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, built.bytes));
}

TEST(PdbFileTest, RefusesPageCountSmallerThanUsedPages)
{
    Bytes bytes = BuildPdb(StandardPdb(2, 19970604, false)).bytes;
    PatchU16(bytes, 50, 3);
    CPdbFile pdb;
    EXPECT_FALSE(Parse(pdb, bytes));
}

TEST(PdbFileTest, EveryTruncationIsRefusedOrConsistent)
{
    for (int msf : {2, 7})
    {
        const bool guid = msf == 7;
        const Bytes bytes = BuildPdb(StandardPdb(msf, guid ? CPdbFile::kVersionVc70 : 19970604, guid)).bytes;
        for (size_t length = 0; length < bytes.size(); ++length)
        {
            CPdbFile pdb;
            if (pdb.Parse(bytes.data(), length))
            {
                EXPECT_EQ(3u, pdb.GetAge()) << msf << " " << length;
                EXPECT_EQ(0x3A1B2C3Du, pdb.GetSignature()) << msf << " " << length;
            }
            else
                EXPECT_EQ(0, pdb.GetMsfVersion());
        }
    }
}
}
