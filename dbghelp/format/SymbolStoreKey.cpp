#include "SymbolStoreKey.h"

namespace
{
// digits == 0 writes the value without leading zeros (at least one digit).
void AppendHex(std::string& out, uint32_t value, int digits, bool upperCase)
{
    const char* alphabet = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    char buffer[8];
    int count = 0;
    do
    {
        buffer[count++] = alphabet[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (count < digits)
        buffer[count++] = '0';
    while (count > 0)
        out += buffer[--count];
}

uint32_t LittleEndian(const std::array<uint8_t, 16>& bytes, size_t offset, size_t width)
{
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}
} // namespace

std::string CSymbolStoreKey::ForGuid(const std::array<uint8_t, 16>& guid, uint32_t age)
{
    std::string key;
    AppendHex(key, LittleEndian(guid, 0, 4), 8, true);
    AppendHex(key, LittleEndian(guid, 4, 2), 4, true);
    AppendHex(key, LittleEndian(guid, 6, 2), 4, true);
    for (size_t i = 8; i < 16; ++i)
        AppendHex(key, guid[i], 2, true);
    AppendHex(key, age, 0, false);
    return key;
}

std::string CSymbolStoreKey::ForSignature(uint32_t signature, uint32_t age)
{
    std::string key;
    AppendHex(key, signature, 8, true);
    AppendHex(key, age, 0, false);
    return key;
}

std::string CSymbolStoreKey::ForImage(uint32_t timeDateStamp, uint32_t sizeOfImage)
{
    std::string key;
    AppendHex(key, timeDateStamp, 8, true);
    AppendHex(key, sizeOfImage, 0, false);
    return key;
}
