#include "SectionTable.h"

bool CSectionTable::Read(CByteReader& reader, size_t count)
{
    m_sections.clear();
    size_t tableSize = 0;
    CByteReader table;
    if (!CByteReader::CheckedMultiply(count, kHeaderSize, tableSize) || !reader.ReadSubReader(tableSize, table))
        return false;
    m_sections.reserve(count);
    for (size_t i = 0; i < count; ++i)
    {
        Section section = {};
        // Name (8 bytes) first; relocation and line-number fields after are not needed.
        if (!table.Seek(i * kHeaderSize + 8) || !table.ReadU32(section.virtualSize) ||
            !table.ReadU32(section.virtualAddress) || !table.ReadU32(section.sizeOfRawData) ||
            !table.ReadU32(section.pointerToRawData))
            return false;
        m_sections.push_back(section);
    }
    return true;
}

bool CSectionTable::MapRva(uint32_t rva, uint32_t size, uint32_t sizeOfHeaders, size_t& fileOffset) const
{
    // 64-bit sums: rva + size and the section ends cannot wrap.
    const uint64_t end = static_cast<uint64_t>(rva) + size;
    for (const Section& section : m_sections)
    {
        const uint64_t start = section.virtualAddress;
        // A section's bytes beyond its raw data are zero-filled in memory, not stored in the file.
        uint64_t stored = section.sizeOfRawData;
        if (section.virtualSize != 0 && section.virtualSize < stored)
            stored = section.virtualSize;
        if (rva >= start && end <= start + stored)
        {
            const uint64_t offset = section.pointerToRawData + (rva - start);
            if (offset > SIZE_MAX)
                return false;
            fileOffset = static_cast<size_t>(offset);
            return true;
        }
    }
    if (end <= sizeOfHeaders)
    {
        fileOffset = rva;
        return true;
    }
    return false;
}
