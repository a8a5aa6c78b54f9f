#include "InflateCounter.h"

#include <gtest/gtest.h>

#include "FormatBuilders.h"

namespace
{
// Raw deflate data written by zlib (level 9): "ab" 50 times with fixed codes;
// 1110 bytes of text ("line 0 of the symbol file, line 1 ...") with dynamic
// codes; the first 200 bytes of that text compressed with the whole text as
// history, as a later MSZIP block refers back into the block before it; and
// 40000 times "a" in 56 bytes.
const Bytes kFixed = {0x4B, 0x4C, 0x4A, 0xA4, 0x39, 0x04, 0x00};
const Bytes kDynamic = {
    0x7D, 0xD3, 0x3B, 0x0E, 0x02, 0x41, 0x10, 0x03, 0xD1, 0xAB, 0xF4, 0x01, 0x08, 0xB0, 0xCD, 0xF7, 0x3A, 0x48, 0xB3,
    0x62, 0xA5, 0x81, 0x0D, 0x20, 0xE1, 0xF6, 0x88, 0x9C, 0xAE, 0xB8, 0xA2, 0x7E, 0x72, 0xCF, 0xF5, 0x39, 0x6A, 0x5F,
    0xDB, 0x52, 0xEF, 0xFB, 0xA8, 0xD7, 0xE7, 0x71, 0xDB, 0x66, 0x2D, 0xEB, 0x1C, 0xBB, 0x9A, 0xBF, 0xA4, 0x3E, 0xB9,
    0x4F, 0xE9, 0xD3, 0xA1, 0x4F, 0xC7, 0x3E, 0x9D, 0xFA, 0x74, 0xEE, 0xD3, 0xA5, 0x4F, 0x57, 0x38, 0x99, 0x38, 0xC0,
    0x43, 0x00, 0x22, 0x10, 0x11, 0x90, 0x08, 0x4C, 0x04, 0x28, 0x02, 0x15, 0x01, 0x8B, 0xC0, 0xC5, 0xE0, 0x62, 0xDA,
    0x09, 0xB8, 0x18, 0x5C, 0x0C, 0x2E, 0x06, 0x17, 0x83, 0x8B, 0xC1, 0xC5, 0xE0, 0x62, 0x70, 0x09, 0xB8, 0x04, 0x5C,
    0x42, 0x0F, 0x04, 0x2E, 0x01, 0x97, 0x80, 0x4B, 0xC0, 0x25, 0xE0, 0x12, 0x70, 0xC9, 0x7F, 0x97, 0x2F};
const Bytes kWithHistory = {0xCB, 0x19, 0x26, 0xA5, 0x0A, 0x00};
const Bytes kBomb = {0xED, 0xC1, 0x31, 0x01, 0x00, 0x00, 0x00, 0xC2, 0xA0, 0xAC, 0xEB, 0x5F, 0xC2, 0xCB,
                     0x16, 0x40, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x37};

// A stored deflate block: header bits (final, type 0), LEN, NLEN, the bytes.
Bytes Stored(size_t length, bool final)
{
    return CByteWriter().U8(final ? 1 : 0).U16(uint32_t(length)).U16(~uint32_t(length) & 0xFFFF).Zeros(length).bytes;
}

CInflateCounter::Result Count(CInflateCounter& counter, const Bytes& data, uint32_t limit, uint32_t& expanded)
{
    std::string why;
    const CInflateCounter::Result result =
        counter.CountBlock(CByteReader(data.data(), data.size()), limit, expanded, why);
    EXPECT_EQ(result == CInflateCounter::Result::Damaged, !why.empty()) << why;
    return result;
}

TEST(InflateCounterTest, CountsStoredFixedAndDynamicBlocks)
{
    const std::pair<Bytes, uint32_t> cases[] = {
        {kFixed, 100},
        {kDynamic, 1110},
        {CByteWriter().Append(Stored(300, false)).Append(Stored(20, true)).bytes, 320},
    };
    for (const auto& c : cases)
    {
        CInflateCounter counter;
        uint32_t expanded = 0;
        EXPECT_EQ(CInflateCounter::Result::Counted, Count(counter, c.first, 32768, expanded)) << c.second;
        EXPECT_EQ(c.second, expanded);
    }
}

TEST(InflateCounterTest, BackReferencesReachIntoEarlierBlocksButNoFurther)
{
    CInflateCounter following;
    uint32_t expanded = 0;
    ASSERT_EQ(CInflateCounter::Result::Counted, Count(following, kDynamic, 32768, expanded));
    EXPECT_EQ(CInflateCounter::Result::Counted, Count(following, kWithHistory, 32768, expanded));
    EXPECT_EQ(200u, expanded);
    CInflateCounter first;
    EXPECT_EQ(CInflateCounter::Result::Damaged, Count(first, kWithHistory, 32768, expanded));
}

TEST(InflateCounterTest, StopsWhereTheDataWouldPassTheLimit)
{
    const std::pair<Bytes, uint32_t> cases[] = {
        {kBomb, 32768}, {kDynamic, 1109}, {Stored(40000, true), 32768}, {kFixed, 99}};
    for (const auto& c : cases)
    {
        CInflateCounter counter;
        uint32_t expanded = 0;
        EXPECT_EQ(CInflateCounter::Result::TooLarge, Count(counter, c.first, c.second, expanded)) << c.second;
    }
}

TEST(InflateCounterTest, RefusesCutShortOrInvalidData)
{
    std::vector<Bytes> cases = {{0x07}, {0x01, 0x10, 0x00, 0x10, 0x00}};
    for (size_t length = 0; length < kDynamic.size(); ++length)
        cases.push_back(Bytes(kDynamic.begin(), kDynamic.begin() + length));
    cases.push_back(Stored(10, false)); // no final block
    for (const Bytes& data : cases)
    {
        CInflateCounter counter;
        uint32_t expanded = 0;
        EXPECT_EQ(CInflateCounter::Result::Damaged, Count(counter, data, 32768, expanded)) << data.size();
    }
}
} // namespace
