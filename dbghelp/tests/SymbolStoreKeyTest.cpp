#include "SymbolStoreKey.h"

#include <gtest/gtest.h>

#include "FormatBuilders.h"

namespace
{
// GUID keys: the GUID in its textual field order with every leading zero,
// then the age in hex without them. Signature keys: eight digits, then the
// age. Image keys: the time stamp's eight digits, then the size in lower
// case without padding.
TEST(SymbolStoreKeyTest, WritesEachKindOfKey)
{
    std::array<uint8_t, 16> lowGuid = {};
    lowGuid[0] = 1;
    const struct
    {
        std::string key;
        std::string expected;
    } cases[] = {
        {CSymbolStoreKey::ForGuid(kTestGuid, 0x1A), "123456789ABCDEF00123456789ABCDEF1a"},
        {CSymbolStoreKey::ForGuid(lowGuid, 1), "000000010000000000000000000000001"},
        {CSymbolStoreKey::ForSignature(0xABCDEF, 2), "00ABCDEF2"},
        {CSymbolStoreKey::ForSignature(0x3A1B2C3D, 0), "3A1B2C3D0"},
        {CSymbolStoreKey::ForImage(0x37CDB039, 0x62040), "37CDB03962040"},
        {CSymbolStoreKey::ForImage(0xABCD, 0x5F000), "0000ABCD5f000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, c.key);
}
} // namespace
