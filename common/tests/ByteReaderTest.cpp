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

// A reader over a string literal's bytes, embedded zeros included, its own
// terminator left out.
template <size_t N>
CByteReader TextReader(const char (&text)[N])
{
    return CByteReader(reinterpret_cast<const uint8_t*>(text), N - 1);
}

TEST(ByteReaderTest, ReadsIntegersLittleEndian)
{
    CByteReader reader(kSample, sizeof(kSample));
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    uint64_t u64 = 0;
    ASSERT_TRUE(reader.ReadU8(u8) && reader.ReadU16(u16) && reader.ReadU32(u32));
    EXPECT_EQ(0x01, u8);
    EXPECT_EQ(0x0302, u16);
    EXPECT_EQ(0x07060504u, u32);
    ASSERT_TRUE(reader.Seek(0) && reader.ReadU64(u64));
    EXPECT_EQ(0x0807060504030201ull, u64);
}

TEST(ByteReaderTest, RefusedReadsLeavePositionAndOutputsUntouched)
{
    CByteReader reader(kSample, sizeof(kSample));
    ASSERT_TRUE(reader.Seek(6));
    uint32_t value = 0xDEADBEEF;
    EXPECT_FALSE(reader.ReadU32(value));
    EXPECT_EQ(0xDEADBEEFu, value);
    // A huge count must not wrap the position round to a valid one.
    EXPECT_FALSE(reader.Skip(kHuge));
    EXPECT_EQ(6u, reader.GetPosition());

    ASSERT_TRUE(reader.Seek(0));
    std::vector<uint8_t> bytes(1, 0xEE);
    EXPECT_FALSE(reader.AppendBytes(bytes, sizeof(kSample) + 1));
    ASSERT_TRUE(reader.AppendBytes(bytes, 2));
    EXPECT_EQ((std::vector<uint8_t>{0xEE, 0x01, 0x02}), bytes);

    // A count whose byte size overflows, and one the buffer cannot hold.
    std::vector<uint32_t> array;
    EXPECT_FALSE(reader.ReadU32Array(array, kHuge / 2 + 1));
    EXPECT_FALSE(reader.ReadU32Array(array, 2));
    EXPECT_TRUE(array.empty());
    EXPECT_EQ(2u, reader.GetPosition());

    CByteReader sub;
    EXPECT_FALSE(reader.GetSubReader(4, kHuge - 2, sub)) << "end wraps";
    EXPECT_FALSE(reader.GetSubReader(sizeof(kSample) + 1, 0, sub));
    EXPECT_TRUE(reader.GetSubReader(sizeof(kSample), 0, sub));
}

TEST(ByteReaderTest, StringsEndAtTheirDelimiterWithinTheLimitOrAreRefused)
{
    std::string out;
    CByteReader terminated = TextReader("ab\0c");
    ASSERT_TRUE(terminated.ReadCString(out, 10));
    EXPECT_EQ("ab", out);
    EXPECT_EQ(3u, terminated.GetPosition()) << "the terminator is consumed";

    CByteReader unterminated = TextReader("abc");
    EXPECT_FALSE(unterminated.ReadCString(out, kHuge));
    EXPECT_EQ(0u, unterminated.GetPosition());

    CByteReader limited = TextReader("abc\0");
    EXPECT_FALSE(limited.ReadCString(out, 2));
    EXPECT_TRUE(limited.ReadCString(out, 3));

    CByteReader lines = TextReader("Status: 200\nNext");
    ASSERT_TRUE(lines.ReadUntil('\n', out, 64));
    EXPECT_EQ("Status: 200", out);
    EXPECT_FALSE(lines.ReadUntil('\n', out, 64));

    // A fixed field is consumed whole, whatever its text's length.
    CByteReader field = TextReader(".txt\0\0\0\0\x42");
    ASSERT_TRUE(field.ReadFixedString(out, 8));
    EXPECT_EQ(".txt", out);
    EXPECT_EQ(8u, field.GetPosition());
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
