#include "SymbolStoreKey.h"

#include <gtest/gtest.h>

#include "FormatBuilders.h"

namespace
{
TEST(SymbolStoreKeyTest, GuidKeyUsesTextualFieldOrderAndHexAge)
{
    EXPECT_EQ("12345678"
              "9ABC"
              "DEF0"
              "0123456789ABCDEF"
              "1a",
              CSymbolStoreKey::ForGuid(kTestGuid, 0x1A));
}

TEST(SymbolStoreKeyTest, GuidKeyKeepsLeadingZerosOfGuidButNotOfAge)
{
    std::array<uint8_t, 16> guid = {};
    guid[0] = 1;
    EXPECT_EQ("00000001000000000000000000000000"
              "1",
              CSymbolStoreKey::ForGuid(guid, 1));
}

TEST(SymbolStoreKeyTest, SignatureKeyPadsSignatureToEightDigits)
{
    EXPECT_EQ("00ABCDEF"
              "2",
              CSymbolStoreKey::ForSignature(0xABCDEF, 2));
}

TEST(SymbolStoreKeyTest, ZeroAgeIsWrittenAsOneDigit)
{
    EXPECT_EQ("3A1B2C3D"
              "0",
              CSymbolStoreKey::ForSignature(0x3A1B2C3D, 0));
}

TEST(SymbolStoreKeyTest, ImageKeyWritesSizeInLowerCaseWithoutPadding)
{
    EXPECT_EQ("37CDB039"
              "62040",
              CSymbolStoreKey::ForImage(0x37CDB039, 0x62040));
    EXPECT_EQ("0000ABCD"
              "5f000",
              CSymbolStoreKey::ForImage(0xABCD, 0x5F000));
}
} // namespace
