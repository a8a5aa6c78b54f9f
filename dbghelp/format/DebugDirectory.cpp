#include "DebugDirectory.h"

#include <string>

namespace
{
// IMAGE_DEBUG_MISC: DataType (u32), Length (u32, the whole record), Unicode
// (u8), three reserved bytes, then the data.
const size_t kMiscHeaderSize = 12;
const uint32_t kMiscExeName = 1;
// IMAGE_COFF_SYMBOLS_HEADER is eight u32 fields.
const size_t kCoffHeaderSize = 32;

void AppendUtf8(std::string& out, uint32_t codePoint)
{
    if (codePoint < 0x80)
        out += static_cast<char>(codePoint);
    else if (codePoint < 0x800)
    {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    else if (codePoint < 0x10000)
    {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// A zero-terminated UTF-16LE name, converted to UTF-8. Unpaired surrogates are refused.
bool ReadUtf16Name(CByteReader& reader, std::string& name)
{
    name.clear();
    for (size_t count = 0; count <= CDebugDirectory::kMaxMiscName; ++count)
    {
        uint16_t unit = 0;
        if (!reader.ReadU16(unit))
            return false;
        if (unit == 0)
            return true;
        uint32_t codePoint = unit;
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return false;
        if (unit >= 0xD800 && unit <= 0xDBFF)
        {
            uint16_t low = 0;
            if (!reader.ReadU16(low) || low < 0xDC00 || low > 0xDFFF)
                return false;
            codePoint = 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) + (low - 0xDC00u);
        }
        AppendUtf8(name, codePoint);
    }
    return false;
}
} // namespace

bool CDebugDirectory::Parse(const CByteReader& directory)
{
    m_entries.clear();
    CByteReader reader = directory;
    static_cast<void>(reader.Seek(0)); // the start is always a valid position
    const size_t count = reader.GetRemaining() / kEntrySize;
    if (count == 0)
        return false;
    m_entries.reserve(count);
    for (size_t i = 0; i < count; ++i)
    {
        Entry entry = {};
        uint32_t characteristics = 0;
        uint16_t majorVersion = 0;
        uint16_t minorVersion = 0;
        if (!reader.ReadU32(characteristics) || !reader.ReadU32(entry.timeDateStamp) || !reader.ReadU16(majorVersion) ||
            !reader.ReadU16(minorVersion) || !reader.ReadU32(entry.type) || !reader.ReadU32(entry.sizeOfData) ||
            !reader.ReadU32(entry.addressOfRawData) || !reader.ReadU32(entry.pointerToRawData))
            return false;
        m_entries.push_back(entry);
    }
    return true;
}

bool CDebugDirectory::IsCoffSymbolData(const CByteReader& data)
{
    CByteReader reader = data;
    static_cast<void>(reader.Seek(0)); // the start is always a valid position
    uint32_t numberOfSymbols = 0;
    uint32_t lvaToFirstSymbol = 0;
    if (reader.GetRemaining() < kCoffHeaderSize || !reader.ReadU32(numberOfSymbols) ||
        !reader.ReadU32(lvaToFirstSymbol) || numberOfSymbols == 0)
        return false;
    size_t tableSize = 0;
    CByteReader table;
    return CByteReader::CheckedMultiply(numberOfSymbols, kCoffSymbolSize, tableSize) &&
           data.GetSubReader(lvaToFirstSymbol, tableSize, table);
}

bool CDebugDirectory::ReadMiscExeName(const CByteReader& data, std::string& name)
{
    CByteReader reader = data;
    static_cast<void>(reader.Seek(0)); // the start is always a valid position
    // Records follow one another; each states its own length.
    while (reader.GetRemaining() >= kMiscHeaderSize)
    {
        uint32_t dataType = 0;
        uint32_t length = 0;
        uint8_t unicode = 0;
        CByteReader header = reader;
        CByteReader record;
        if (!header.ReadU32(dataType) || !header.ReadU32(length) || !header.ReadU8(unicode) ||
            length < kMiscHeaderSize || !reader.ReadSubReader(length, record) || !record.Seek(kMiscHeaderSize))
            return false;
        if (dataType != kMiscExeName)
            continue;
        const bool ok = unicode ? ReadUtf16Name(record, name) : record.ReadCString(name, kMaxMiscName);
        return ok && !name.empty();
    }
    return false;
}
