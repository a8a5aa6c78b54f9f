#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteReader.h"

// The debug directory shared by images and DBG files: an array of 28-byte
// IMAGE_DEBUG_DIRECTORY entries, each locating one kind of debug data.
class CDebugDirectory
{
public:
    enum Type : uint32_t
    {
        TypeCoff = 1,
        TypeCodeView = 2,
        TypeMisc = 4,
    };

    struct Entry
    {
        uint32_t type;
        uint32_t timeDateStamp;
        uint32_t sizeOfData;
        uint32_t addressOfRawData;
        uint32_t pointerToRawData;
    };

    static constexpr size_t kEntrySize = 28;

    // Reads as many whole entries as the directory holds; fails when it holds none.
    bool Parse(const CByteReader& directory);

    const std::vector<Entry>& GetEntries() const { return m_entries; }

    // True when data is an IMAGE_COFF_SYMBOLS_HEADER with at least one symbol
    // and its symbol table lies inside data.
    static bool IsCoffSymbolData(const CByteReader& data);
    // The file name in IMAGE_DEBUG_MISC records of type "exe name" (the DBG
    // file's name). Unicode names are returned as UTF-8. False when data holds
    // no such record or the name is malformed.
    static bool ReadMiscExeName(const CByteReader& data, std::string& name);

    // Size of one COFF symbol table record.
    static constexpr size_t kCoffSymbolSize = 18;
    // Longest file name accepted from a MISC record, in characters.
    static constexpr size_t kMaxMiscName = 1024;

private:
    std::vector<Entry> m_entries;
};
