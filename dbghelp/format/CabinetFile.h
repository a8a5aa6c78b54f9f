#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ByteReader.h"

// A symbol store's compressed entry: a cabinet file that holds exactly one
// file in one folder. Parse checks the whole cabinet before the platform's
// cabinet library is given it: the header, the folder, the file entry, and
// every data block (inside the file, checksum when one is given, sizes that
// add up to the file's size, and for MSZIP what its deflate data really
// expands to, which must be what it claims and at most 32 KiB). Multi-cabinet
// sets are refused.
class CCabinetFile
{
public:
    enum Compression
    {
        None = 0,
        MsZip = 1,
        Lzx = 3
    };

    // A data block never expands to more than this.
    static constexpr uint32_t kMaxBlockBytes = 32768;

    CCabinetFile();

    // On failure returns false, leaves the object empty and says what is
    // wrong in GetError().
    bool Parse(const uint8_t* data, size_t size);

    const std::string& GetError() const { return m_error; }
    // The name of the file inside, as stored (at most 255 bytes).
    const std::string& GetFileName() const { return m_fileName; }
    // Its size once expanded.
    uint32_t GetFileSize() const { return m_fileSize; }
    Compression GetCompression() const { return m_compression; }
    uint32_t GetBlockCount() const { return m_blockCount; }

    // The cabinet checksum of data, continued from seed.
    static uint32_t Checksum(const uint8_t* data, size_t size, uint32_t seed);

private:
    void Clear();
    bool Fail(const std::string& error);
    bool ReadFolder(CByteReader& file, uint8_t folderReserve, uint32_t& dataOffset, uint16_t& blockCount);
    bool ReadFileEntry(CByteReader& file);
    bool ReadBlocks(const CByteReader& file, uint32_t dataOffset, uint16_t blockCount, uint8_t blockReserve);

    std::string m_error;
    std::string m_fileName;
    uint32_t m_fileSize;
    Compression m_compression;
    uint32_t m_blockCount;
};
