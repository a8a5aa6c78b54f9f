#include "CodeViewRecord.h"

// Record layouts, all little-endian, offsets from the record start:
//   RSDS: "RSDS", GUID (16 bytes), age (u32), zero-terminated PDB path.
//   NB10: "NB10", offset (u32, always 0: the data is in a PDB), signature
//         (u32), age (u32), zero-terminated PDB path.
//   NB09/NB11: "NB09"/"NB11", then the offset (u32) of the subsection
//         directory from the record start. The directory is a header
//         (u16 header size, u16 entry size, u32 entry count, u32 next
//         directory, u32 flags) followed by entries (u16 subsection kind,
//         u16 module index, u32 offset from record start, u32 size).

namespace
{
const uint8_t kRsds[4] = {'R', 'S', 'D', 'S'};
const uint8_t kNb10[4] = {'N', 'B', '1', '0'};
const uint8_t kNb09[4] = {'N', 'B', '0', '9'};
const uint8_t kNb11[4] = {'N', 'B', '1', '1'};

const size_t kDirHeaderMinSize = 16;
const size_t kDirEntryMinSize = 12;
} // namespace

CCodeViewRecord::CCodeViewRecord()
{
    Clear();
}

void CCodeViewRecord::Clear()
{
    m_kind = None;
    m_guid.fill(0);
    m_signature = 0;
    m_age = 0;
    m_pdbName.clear();
}

bool CCodeViewRecord::Parse(const uint8_t* data, size_t size)
{
    return Parse(CByteReader(data, size));
}

bool CCodeViewRecord::Parse(const CByteReader& record)
{
    Clear();
    CByteReader reader = record;
    static_cast<void>(reader.Seek(0)); // the start is always a valid position
    bool ok = false;
    if (reader.ReadMatch(kRsds, 4))
        ok = ParseRsds(reader);
    else if (reader.ReadMatch(kNb10, 4))
        ok = ParseNb10(reader);
    else if (reader.ReadMatch(kNb09, 4))
    {
        m_kind = Nb09;
        ok = ParseEmbedded(record);
    }
    else if (reader.ReadMatch(kNb11, 4))
    {
        m_kind = Nb11;
        ok = ParseEmbedded(record);
    }
    if (!ok)
        Clear();
    return ok;
}

bool CCodeViewRecord::ParseRsds(CByteReader& reader)
{
    m_kind = Rsds;
    return reader.ReadBytes(m_guid.data(), m_guid.size()) && reader.ReadU32(m_age) &&
           reader.ReadCString(m_pdbName, kMaxPdbName) && !m_pdbName.empty();
}

bool CCodeViewRecord::ParseNb10(CByteReader& reader)
{
    m_kind = Nb10;
    uint32_t offset = 0;
    // A non-zero offset would mean symbol data inside the record, which NB10 never has.
    return reader.ReadU32(offset) && offset == 0 && reader.ReadU32(m_signature) && reader.ReadU32(m_age) &&
           reader.ReadCString(m_pdbName, kMaxPdbName) && !m_pdbName.empty();
}

bool CCodeViewRecord::ParseEmbedded(const CByteReader& record)
{
    CByteReader reader = record;
    uint32_t directoryOffset = 0;
    if (!reader.Seek(4) || !reader.ReadU32(directoryOffset) || directoryOffset < 8 || !reader.Seek(directoryOffset))
        return false;

    uint16_t headerSize = 0;
    uint16_t entrySize = 0;
    uint32_t entryCount = 0;
    if (!reader.ReadU16(headerSize) || !reader.ReadU16(entrySize) || !reader.ReadU32(entryCount) ||
        headerSize < kDirHeaderMinSize || entrySize < kDirEntryMinSize || !reader.Skip(headerSize - 8u))
        return false;

    size_t tableSize = 0;
    if (!CByteReader::CheckedMultiply(entryCount, entrySize, tableSize) || tableSize > reader.GetRemaining())
        return false;

    for (uint32_t i = 0; i < entryCount; ++i)
    {
        CByteReader entry;
        uint16_t subsection = 0;
        uint16_t module = 0;
        uint32_t offset = 0;
        uint32_t size = 0;
        CByteReader unused;
        if (!reader.ReadSubReader(entrySize, entry) || !entry.ReadU16(subsection) || !entry.ReadU16(module) ||
            !entry.ReadU32(offset) || !entry.ReadU32(size) || !record.GetSubReader(offset, size, unused))
            return false;
    }
    return true;
}
