#pragma once

#include <array>
#include <cstdint>
#include <string>

// The index directory names of a symbol store ("<store>\<file>\<key>\<file>").
// Hexadecimal digits are upper-case except the trailing age or image size,
// which are lower-case, as the platform's symbol server writes them.
class CSymbolStoreKey
{
public:
    // PDB 7.00: the GUID in its textual field order (Data1 as 8 digits, Data2
    // and Data3 as 4, then the 8 remaining bytes as 2 each, in stored order),
    // then the age without leading zeros. guid holds the 16 stored bytes.
    static std::string ForGuid(const std::array<uint8_t, 16>& guid, uint32_t age);
    // PDB 2.00: the signature as 8 digits, then the age without leading zeros.
    static std::string ForSignature(uint32_t signature, uint32_t age);
    // DBG files and images: TimeDateStamp as 8 digits, then SizeOfImage
    // without leading zeros.
    static std::string ForImage(uint32_t timeDateStamp, uint32_t sizeOfImage);
};
