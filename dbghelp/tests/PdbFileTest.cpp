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

uint32_t ReadU32At(const Bytes& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

TEST(PdbFileTest, ReadsInfoStreamOfMsf7WithGuidAndPdb2Without)
{
    for (int msf : {2, 7})
    {
        CPdbFile pdb;
        ASSERT_TRUE(Parse(pdb, Standard(msf).bytes)) << pdb.GetError();
        EXPECT_EQ(msf, pdb.GetMsfVersion());
        EXPECT_EQ(msf == 7 ? CPdbFile::kVersionVc70 : kVc98, pdb.GetVersion());
        EXPECT_EQ(0x3A1B2C3Du, pdb.GetSignature());
        EXPECT_EQ(3u, pdb.GetAge());
        EXPECT_EQ("", pdb.GetError());
        ASSERT_EQ(msf == 7, pdb.HasGuid());
        if (msf == 7)
        {
            EXPECT_EQ(kTestGuid, pdb.GetGuid());
        }
    }
}

// The DBI stream's header: signature -1, version, age; then the rest of a header.
Bytes DbiHeader(uint32_t age)
{
    return CByteWriter().U32(0xFFFFFFFF).U32(19990903).U32(age).Zeros(52).bytes;
}

// A PDB rewritten after linking carries a higher age in its info stream (3
// here) than in its DBI stream: the DBI age is the one an image must match.
TEST(PdbFileTest, MatchesImagesByDbiAgeInBothFormats)
{
    for (int msf : {2, 7})
    {
        std::vector<Bytes> streams = StandardStreams(msf == 7 ? CPdbFile::kVersionVc70 : kVc98, msf == 7);
        streams.push_back(DbiHeader(1));
        CPdbFile pdb;
        ASSERT_TRUE(Parse(pdb, BuildPdb(msf, StandardPageSize(msf), streams).bytes)) << pdb.GetError();
        EXPECT_EQ(3u, pdb.GetAge()) << msf;
        EXPECT_TRUE(pdb.HasDbiAge()) << msf;
        EXPECT_EQ(1u, pdb.GetMatchingAge()) << msf;
    }
}

// No DBI stream, an unused one, one too short for its age, or one whose
// header is of the format before ages were kept there: the info stream's
// age is the one to match.
TEST(PdbFileTest, MatchesByInfoAgeWithoutDbiHeaderThatRecordsOne)
{
    const Bytes header = DbiHeader(1);
    const std::pair<std::string, Bytes> dbis[] = {
        {"unused", Bytes()},
        {"empty", Bytes()},
        {"cut before the age", Bytes(header.begin(), header.begin() + 11)},
        {"older header", CByteWriter().U32(5).U32(6).U32(1).Zeros(52).bytes},
    };
    for (int msf : {2, 7})
    {
        CPdbFile pdb;
        ASSERT_TRUE(Parse(pdb, Standard(msf).bytes));
        EXPECT_FALSE(pdb.HasDbiAge());
        EXPECT_EQ(3u, pdb.GetMatchingAge());
        for (const auto& dbi : dbis)
        {
            std::vector<Bytes> streams = StandardStreams(kVc98, false);
            streams.push_back(dbi.second);
            ASSERT_TRUE(Parse(
                pdb, BuildPdb(msf, StandardPageSize(msf), streams, {false, false, false, dbi.first == "unused"}).bytes))
                << dbi.first << ": " << pdb.GetError();
            EXPECT_FALSE(pdb.HasDbiAge()) << dbi.first;
            EXPECT_EQ(3u, pdb.GetMatchingAge()) << msf << " " << dbi.first;
        }
    }
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

// Each damaged file is refused with a reason and leaves nothing read; where
// the reason is given, the diagnostic must say it (some of these files were
// once handed out by a store as matching symbols).
TEST(PdbFileTest, RefusesDamagedFilesSayingWhy)
{
    const BuiltPdb msf2 = Standard(2);
    const BuiltPdb msf7 = Standard(7);
    const size_t dir2 = msf2.directoryOffset;
    const size_t dir7 = msf7.directoryOffset;
    auto u32 = [](BuiltPdb built, size_t at, uint32_t value)
    {
        PatchU32(built.bytes, at, value);
        return built.bytes;
    };
    auto u16 = [](BuiltPdb built, size_t at, uint32_t value)
    {
        PatchU16(built.bytes, at, value);
        return built.bytes;
    };
    auto longer = [](BuiltPdb built)
    {
        built.bytes.push_back(0);
        return built.bytes;
    };
    std::vector<Bytes> noGuid = StandardStreams(CPdbFile::kVersionVc70, false);
    noGuid[1].resize(12);
    std::vector<Bytes> noInfo = StandardStreams(CPdbFile::kVersionVc70, true);
    noInfo.resize(1);
    std::vector<Bytes> unusedInfo = StandardStreams(kVc98, false);
    unusedInfo[1].clear();
    // MSF 7.00 directory: count, three sizes, stream 0's three pages, stream
    // 1's page, stream 2's page. PDB 2.00: count word, three (size, unused)
    // pairs, stream 0's two pages, stream 1's page.
    const size_t infoPage7 = dir7 + 4 * 7;
    const struct
    {
        const char* what;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"VC 7.0 info stream without GUID", BuildPdb(7, 512, noGuid).bytes, ""},
        {"no info stream", BuildPdb(7, 512, noInfo).bytes, ""},
        {"unused info stream", BuildPdb(2, 1024, unusedInfo, {false, true}).bytes, ""},
        {"too short to be a file", Bytes(10, 0), ""},
        {"directory size larger than the file (2.00)", u32(msf2, msf2.directorySizeField, 0xFFFFFFF0), ""},
        {"directory size larger than the file (7.00)", u32(msf7, msf7.directorySizeField, 0xFFFFFFF0), ""},
        {"stream 0's page list past the directory", u32(msf2, dir2 + 4, 0x7FFFFFFF), ""},
        {"page number beyond the file", u32(msf7, infoPage7, 0x00FFFFFF), ""},
        {"stream on the header page", u16(msf2, dir2 + 4 + 24 + 4, 0), ""},
        {"page count smaller than the pages used", u16(msf2, 50, 3), ""},
        {"7.00 header claiming more blocks", u32(msf7, 40, 0x7FFFFFFF), "claims 2147483647 blocks"},
        {"2.00 header claiming more blocks", u16(msf2, 50, 0xFFFF), "claims 65535 blocks"},
        {"stream claiming more bytes than the file", u32(msf7, dir7 + 4 + 2 * 4, 0x7FFFFFF0),
         "stream 2 claims 2147483632 bytes"},
        {"2.00 file longer than its blocks", longer(msf2), "the file has"},
        {"7.00 file longer than its blocks", longer(msf7), "the file has"},
        {"block two streams share", u32(msf7, infoPage7 + 4, ReadU32At(msf7.bytes, infoPage7)),
         "belongs to two streams"},
        {"stream on the directory's own block", u32(msf7, dir7 + 4 * 8, uint32_t(dir7 / StandardPageSize(7))),
         "belongs to two streams"},
        // Stream 2 grows to two pages; the directory lists only its one.
        {"2.00 directory ending inside a block list", u32(msf2, dir2 + 4 + 2 * 8, StandardPageSize(2) + 1),
         "ends inside the block list of stream 2"},
        {"7.00 directory ending inside a block list", u32(msf7, dir7 + 4 + 2 * 4, StandardPageSize(7) + 1),
         "ends inside the block list of stream 2"},
    };
    for (const auto& c : cases)
    {
        CPdbFile pdb;
        EXPECT_FALSE(Parse(pdb, c.bytes)) << c.what;
        EXPECT_NE(std::string::npos, pdb.GetError().find(c.reason)) << c.what << ": " << pdb.GetError();
        EXPECT_FALSE(pdb.GetError().empty()) << c.what;
        EXPECT_EQ(0, pdb.GetMsfVersion()) << c.what;
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
