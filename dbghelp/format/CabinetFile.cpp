#include "CabinetFile.h"

// Cabinet layout (all integers little-endian):
//   CFHEADER: "MSCF", u32 reserved, u32 cbCabinet (the file's size), u32
//     reserved, u32 coffFiles (offset of the first CFFILE), u32 reserved,
//     u8 versionMinor, u8 versionMajor (1), u16 cFolders, u16 cFiles, u16
//     flags (1: a previous cabinet, 2: a next one, 4: reserved areas
//     present), u16 setID, u16 iCabinet; with flag 4: u16 cbCFHeader, u8
//     cbCFFolder, u8 cbCFData and cbCFHeader bytes; with flags 1 and 2 the
//     names of the neighbouring cabinets and disks.
//   CFFOLDER: u32 coffCabStart (offset of its first CFDATA), u16 cCFData,
//     u16 typeCompress (low four bits: 0 none, 1 MSZIP, 2 Quantum, 3 LZX with
//     its window size in bits 8-12), cbCFFolder reserved bytes.
//   CFFILE: u32 cbFile, u32 uoffFolderStart, u16 iFolder (0xFFFD-0xFFFF:
//     continued across cabinets), u16 date, u16 time, u16 attribs, the name
//     zero-terminated.
//   CFDATA: u32 csum (0: none), u16 cbData, u16 cbUncomp, cbCFData reserved
//     bytes, cbData bytes. MSZIP data starts with "CK" and holds deflate
//     data, ending with a final deflate block, that expands to cbUncomp (at
//     most 32768) bytes; its back-references may reach into earlier blocks.

#include <algorithm>
#include <vector>

#include "ErrorText.h"
#include "InflateCounter.h"

namespace
{
const uint8_t kSignature[4] = {'M', 'S', 'C', 'F'};
const uint16_t kFlagPrevious = 0x0001;
const uint16_t kFlagNext = 0x0002;
const uint16_t kFlagReserve = 0x0004;
const uint16_t kFolderContinued = 0xFFFD;
const uint16_t kMaxHeaderReserve = 60000;
const size_t kMaxFileName = 255;

} // namespace

CCabinetFile::CCabinetFile()
{
    Clear();
}

void CCabinetFile::Clear()
{
    m_fileName.clear();
    m_fileSize = 0;
    m_compression = None;
    m_blockCount = 0;
}

bool CCabinetFile::Fail(const std::string& error)
{
    if (m_error.empty())
        m_error = error;
    return false;
}

uint32_t CCabinetFile::Checksum(const uint8_t* data, size_t size, uint32_t seed)
{
    uint32_t sum = seed;
    size_t at = 0;
    for (; at + 4 <= size; at += 4)
        sum ^= data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) | (static_cast<uint32_t>(data[at + 3]) << 24);
    // The one to three bytes left go in with the first of them highest.
    uint32_t rest = 0;
    for (; at < size; ++at)
        rest = (rest << 8) | data[at];
    return sum ^ rest;
}

bool CCabinetFile::Parse(const uint8_t* data, size_t size)
{
    Clear();
    m_error.clear();
    CByteReader file(data, size);
    uint32_t reserved = 0;
    uint32_t cabinetSize = 0;
    uint32_t filesOffset = 0;
    uint8_t versionMinor = 0;
    uint8_t versionMajor = 0;
    uint16_t folders = 0;
    uint16_t files = 0;
    uint16_t flags = 0;
    uint16_t setId = 0;
    uint16_t index = 0;
    if (!file.ReadMatch(kSignature, sizeof(kSignature)))
        return Fail("not a cabinet (no MSCF signature)");
    if (!file.ReadU32(reserved) || !file.ReadU32(cabinetSize) || !file.ReadU32(reserved) ||
        !file.ReadU32(filesOffset) || !file.ReadU32(reserved) || !file.ReadU8(versionMinor) ||
        !file.ReadU8(versionMajor) || !file.ReadU16(folders) || !file.ReadU16(files) || !file.ReadU16(flags) ||
        !file.ReadU16(setId) || !file.ReadU16(index))
        return Fail("the cabinet header is cut short");
    if (cabinetSize != size)
        return Fail(ErrorText("the cabinet claims %llu bytes, but the file has %llu", cabinetSize, size));
    if (versionMajor != 1)
        return Fail(ErrorText("cabinet version %llu.%llu is not one this library reads", versionMajor, versionMinor));
    if ((flags & (kFlagPrevious | kFlagNext)) != 0)
        return Fail("the cabinet is part of a set spanning several cabinets");
    if (folders != 1 || files != 1)
        return Fail(ErrorText("the cabinet holds %llu files in %llu folders, not one file", files, folders));

    uint16_t headerReserve = 0;
    uint8_t folderReserve = 0;
    uint8_t blockReserve = 0;
    if ((flags & kFlagReserve) != 0 &&
        (!file.ReadU16(headerReserve) || !file.ReadU8(folderReserve) || !file.ReadU8(blockReserve) ||
         headerReserve > kMaxHeaderReserve || !file.Skip(headerReserve)))
        return Fail("the cabinet header's reserved area is damaged");

    uint32_t dataOffset = 0;
    uint16_t blockCount = 0;
    if (!ReadFolder(file, folderReserve, dataOffset, blockCount) || !file.Seek(filesOffset) || !ReadFileEntry(file) ||
        !ReadBlocks(file, dataOffset, blockCount, blockReserve))
    {
        Clear();
        return Fail("the file entry lies outside the cabinet");
    }
    m_blockCount = blockCount;
    return true;
}

bool CCabinetFile::ReadFolder(CByteReader& file, uint8_t folderReserve, uint32_t& dataOffset, uint16_t& blockCount)
{
    uint16_t type = 0;
    if (!file.ReadU32(dataOffset) || !file.ReadU16(blockCount) || !file.ReadU16(type) || !file.Skip(folderReserve))
        return Fail("the folder entry is cut short");
    switch (type & 0x000F)
    {
    case None:
    case MsZip:
        if (type != (type & 0x000F))
            return Fail(ErrorText("compression type 0x%llx is not known", type));
        m_compression = static_cast<Compression>(type & 0x000F);
        return true;
    case Lzx:
    {
        // The window is 2^15 to 2^21 bytes; nothing else is set.
        const unsigned window = (type >> 8) & 0x1F;
        if (window < 15 || window > 21 || (type & 0xE0F0) != 0)
            return Fail(ErrorText("compression type 0x%llx is not known", type));
        m_compression = Lzx;
        return true;
    }
    default:
        return Fail(ErrorText("compression type 0x%llx is not one this library expands", type));
    }
}

bool CCabinetFile::ReadFileEntry(CByteReader& file)
{
    uint32_t folderStart = 0;
    uint16_t folder = 0;
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attributes = 0;
    if (!file.ReadU32(m_fileSize) || !file.ReadU32(folderStart) || !file.ReadU16(folder) || !file.ReadU16(date) ||
        !file.ReadU16(time) || !file.ReadU16(attributes))
        return Fail("the file entry is cut short");
    if (folder >= kFolderContinued)
        return Fail("the file continues from or into another cabinet");
    if (folder != 0 || folderStart != 0)
        return Fail("the file does not start its folder");
    if (!file.ReadCString(m_fileName, kMaxFileName) || m_fileName.empty())
        return Fail("the file entry has no usable name");
    return true;
}

bool CCabinetFile::ReadBlocks(const CByteReader& file, uint32_t dataOffset, uint16_t blockCount, uint8_t blockReserve)
{
    CByteReader blocks;
    if (!file.GetSubReader(dataOffset, file.GetSize() - std::min<size_t>(dataOffset, file.GetSize()), blocks))
        return Fail("the folder's data lies outside the cabinet");
    uint64_t expanded = 0;
    CInflateCounter inflater;
    for (uint32_t i = 0; i < blockCount; ++i)
    {
        uint32_t checksum = 0;
        uint16_t packed = 0;
        uint16_t unpacked = 0;
        uint8_t head[4];
        CByteReader body;
        if (!blocks.ReadU32(checksum) || !blocks.ReadBytes(head, sizeof(head)) || !blocks.Skip(blockReserve) ||
            !blocks.ReadSubReader(head[0] | (head[1] << 8), body))
            return Fail(ErrorText("data block %llu runs past the end of the cabinet", i));
        packed = static_cast<uint16_t>(head[0] | (head[1] << 8));
        unpacked = static_cast<uint16_t>(head[2] | (head[3] << 8));
        if (unpacked == 0 || unpacked > kMaxBlockBytes)
            return Fail(ErrorText("data block %llu expands to %llu bytes", i, unpacked));
        if (m_compression == None && packed != unpacked)
            return Fail(ErrorText("stored data block %llu holds %llu bytes", i, packed));
        uint8_t mark[2] = {0, 0};
        CByteReader start = body;
        if (m_compression == MsZip && (!start.ReadBytes(mark, sizeof(mark)) || mark[0] != 'C' || mark[1] != 'K'))
            return Fail(ErrorText("MSZIP data block %llu does not start with CK", i));
        // A checksum over reserved bytes is computed differently by different
        // writers; a block with a reserved area is left to the expander.
        if (checksum != 0 && blockReserve == 0)
        {
            std::vector<uint8_t> bytes;
            if (!body.AppendBytes(bytes, packed))
                return Fail(ErrorText("data block %llu runs past the end of the cabinet", i));
            const uint32_t sum = Checksum(head, sizeof(head), Checksum(bytes.data(), bytes.size(), 0));
            if (sum != checksum)
                return Fail(ErrorText("data block %llu fails its checksum", i));
        }
        // The platform's expander sizes its buffer by the format's limit but
        // fills it as far as the data goes: what counts is what the data
        // really expands to, not what the header says.
        if (m_compression == MsZip)
        {
            uint32_t real = 0;
            std::string why;
            switch (inflater.CountBlock(start, kMaxBlockBytes, real, why))
            {
            case CInflateCounter::Result::TooLarge:
                return Fail(ErrorText("MSZIP data block %llu expands to more than %llu bytes", i, kMaxBlockBytes));
            case CInflateCounter::Result::Damaged:
                return Fail(ErrorText("MSZIP data block %llu: its compressed data does not expand (", i) + why + ")");
            case CInflateCounter::Result::Counted:
                break;
            }
            if (real != unpacked)
                return Fail(ErrorText("MSZIP data block %llu expands to %llu bytes, not the %llu it claims", i, real,
                                      unpacked));
        }
        expanded += unpacked;
    }
    if (expanded != m_fileSize)
        return Fail(ErrorText("the file claims %llu bytes, but its data blocks expand to %llu", m_fileSize, expanded));
    return true;
}
