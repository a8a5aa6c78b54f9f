#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ByteReader.h"

// The section headers of an image or DBG file (40-byte IMAGE_SECTION_HEADER
// each), and the mapping of an image's relative virtual addresses to offsets
// in the file as it lies on disk.
class CSectionTable
{
public:
    struct Section
    {
        uint32_t virtualSize;
        uint32_t virtualAddress;
        uint32_t sizeOfRawData;
        uint32_t pointerToRawData;
    };

    static constexpr size_t kHeaderSize = 40;

    // Reads count headers at the reader's position, advancing past them.
    bool Read(CByteReader& reader, size_t count);

    // The file offset of the size bytes at rva, when all of them are stored in
    // one section's raw data, or in the headers (below sizeOfHeaders), which
    // are mapped at their file offsets.
    bool MapRva(uint32_t rva, uint32_t size, uint32_t sizeOfHeaders, size_t& fileOffset) const;

private:
    std::vector<Section> m_sections;
};
