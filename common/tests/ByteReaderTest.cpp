#include "ByteReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace
{
const uint8_t kSample[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
const size_t kHuge = std::numeric_limits<size_t>::max();

TEST(ByteReaderTest, ReadsIntegersLittleEndian)
{
    CByteReader reader(kSample, sizeof(kSample));
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    ASSERT_TRUE(reader.ReadU8(u8) && reader.ReadU16(u16) && reader.ReadU32(u32));
    EXPECT_EQ(0x01, u8);
    EXPECT_EQ(0x0302, u16);
    EXPECT_EQ(0x07060504u, u32);
    uint64_t u64 = 0;
    ASSERT_TRUE(reader.Seek(0) && reader.ReadU64(u64));
    EXPECT_EQ(0x0807060504030201ull, u64);
}

TEST(ByteReaderTest, FailedReadLeavesPositionAndValue)
{
    CByteReader reader(kSample, sizeof(kSample));
    ASSERT_TRUE(reader.Seek(6));
    uint32_t value = 0xDEADBEEF;
    EXPECT_FALSE(reader.ReadU32(value));
    EXPECT_EQ(0xDEADBEEFu, value);
    EXPECT_EQ(6u, reader.GetPosition());
}

TEST(ByteReaderTest, SkipRefusesHugeCountWithoutWrapping)
{
    CByteReader reader(kSample, sizeof(kSample));
    ASSERT_TRUE(reader.Skip(2));
    EXPECT_FALSE(reader.Skip(kHuge));
    EXPECT_EQ(2u, reader.GetPosition());
}

TEST(ByteReaderTest, AppendBytesLeavesVectorUntouchedOnFailure)
{
    CByteReader reader(kSample, sizeof(kSample));
    std::vector<uint8_t> out(1, 0xEE);
    EXPECT_FALSE(reader.AppendBytes(out, sizeof(kSample) + 1));
    ASSERT_TRUE(reader.AppendBytes(out, 2));
    EXPECT_EQ((std::vector<uint8_t>{0xEE, 0x01, 0x02}), out);
}

TEST(ByteReaderTest, ArrayReadRefusesCountWhoseByteSizeOverflows)
{
    CByteReader reader(kSample, sizeof(kSample));
    std::vector<uint32_t> out;
    EXPECT_FALSE(reader.ReadU32Array(out, kHuge / 2 + 1));
    EXPECT_FALSE(reader.ReadU32Array(out, 3));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(0u, reader.GetPosition());
}

TEST(ByteReaderTest, CStringStopsAtTerminator)
{
    const uint8_t data[] = {'a', 'b', 0, 'c'};
    CByteReader reader(data, sizeof(data));
    std::string out;
    ASSERT_TRUE(reader.ReadCString(out, 10));
    EXPECT_EQ("ab", out);
    EXPECT_EQ(3u, reader.GetPosition());
}

TEST(ByteReaderTest, CStringRefusesMissingTerminator)
{
    const uint8_t data[] = {'a', 'b', 'c'};
    CByteReader reader(data, sizeof(data));
    std::string out;
    EXPECT_FALSE(reader.ReadCString(out, kHuge));
    EXPECT_EQ(0u, reader.GetPosition());
}

TEST(ByteReaderTest, CStringRefusesTextLongerThanLimit)
{
    const uint8_t data[] = {'a', 'b', 'c', 0};
    CByteReader reader(data, sizeof(data));
    std::string out;
    EXPECT_FALSE(reader.ReadCString(out, 2));
    EXPECT_TRUE(reader.ReadCString(out, 3));
}

TEST(ByteReaderTest, ReadUntilSplitsLines)
{
    const char text[] = "Status: 200\nNext";
    CByteReader reader(reinterpret_cast<const uint8_t*>(text), sizeof(text) - 1);
    std::string line;
    ASSERT_TRUE(reader.ReadUntil('\n', line, 64));
    EXPECT_EQ("Status: 200", line);
    EXPECT_FALSE(reader.ReadUntil('\n', line, 64));
}

TEST(ByteReaderTest, FixedStringConsumesWholeFieldAndEndsAtZero)
{
    const uint8_t data[] = {'.', 't', 'x', 't', 0, 0, 0, 0, 0x42};
    CByteReader reader(data, sizeof(data));
    std::string name;
    ASSERT_TRUE(reader.ReadFixedString(name, 8));
    EXPECT_EQ(".txt", name);
    EXPECT_EQ(8u, reader.GetPosition());
}

TEST(ByteReaderTest, SubReaderRefusesRangeWhoseEndWraps)
{
    CByteReader reader(kSample, sizeof(kSample));
    CByteReader sub;
    EXPECT_FALSE(reader.GetSubReader(4, kHuge - 2, sub));
    EXPECT_FALSE(reader.GetSubReader(sizeof(kSample) + 1, 0, sub));
    EXPECT_TRUE(reader.GetSubReader(sizeof(kSample), 0, sub));
}

TEST(ByteReaderTest, CheckedArithmeticDetectsOverflow)
{
    size_t out = 0;
    EXPECT_FALSE(CByteReader::CheckedMultiply(kHuge / 2 + 1, 2, out));
    EXPECT_TRUE(CByteReader::CheckedMultiply(kHuge / 2, 2, out));
    EXPECT_FALSE(CByteReader::CheckedAdd(kHuge, 1, out));
    EXPECT_TRUE(CByteReader::CheckedAdd(kHuge - 1, 1, out));
}
} // namespace
