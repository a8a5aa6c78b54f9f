#pragma once

// Builder of small cabinets as a symbol store's compressed entries hold them:
// one folder, one file, stored or MSZIP data. The MSZIP blocks hold deflate's
// stored (uncompressed) blocks, which any inflater expands, so the builder
// needs no compressor.

#include "FormatBuilders.h"

struct CabinetSpec
{
    std::string name = "app.pdb";
    Bytes content;
    // 0: stored, 1: MSZIP.
    uint16_t compression = 1;
    size_t blockSize = 32768;
    bool checksums = true;
    // Reserved bytes after the header and in each data block (flag 4).
    uint16_t headerReserve = 0;
    uint8_t blockReserve = 0;
};

struct BuiltCabinet
{
    Bytes bytes;
    size_t folderOffset = 0;
    size_t fileOffset = 0;
    size_t firstBlockOffset = 0;
};

inline uint32_t CabinetChecksum(const uint8_t* data, size_t size, uint32_t seed)
{
    size_t at = 0;
    for (; at + 4 <= size; at += 4)
        seed ^= data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) | (uint32_t(data[at + 3]) << 24);
    uint32_t rest = 0;
    for (; at < size; ++at)
        rest = (rest << 8) | data[at];
    return seed ^ rest;
}

inline BuiltCabinet BuildCabinet(const CabinetSpec& spec)
{
    std::vector<Bytes> blocks;
    std::vector<uint16_t> sizes;
    for (size_t at = 0; at < spec.content.size(); at += spec.blockSize)
    {
        const size_t n = std::min(spec.blockSize, spec.content.size() - at);
        Bytes raw(spec.content.begin() + at, spec.content.begin() + at + n);
        sizes.push_back(uint16_t(n));
        if (spec.compression == 1)
        {
            // "CK", then one final stored deflate block: header bits 1 (final) and
            // 00 (stored), LEN and its complement NLEN, the bytes.
            CByteWriter w;
            w.Text("CK").U8(0x01).U16(uint32_t(n)).U16(~uint32_t(n) & 0xFFFF).Append(raw);
            raw = w.bytes;
        }
        blocks.push_back(raw);
    }
    const bool reserve = spec.headerReserve != 0 || spec.blockReserve != 0;
    const size_t headerSize = 36 + (reserve ? 4 + spec.headerReserve : 0);
    const size_t folderSize = 8;
    const size_t fileSize = 16 + spec.name.size() + 1;

    BuiltCabinet out;
    out.folderOffset = headerSize;
    out.fileOffset = headerSize + folderSize;
    out.firstBlockOffset = out.fileOffset + fileSize;
    CByteWriter w;
    w.Text("MSCF").U32(0).U32(0).U32(0).U32(uint32_t(out.fileOffset)).U32(0).U8(3).U8(1).U16(1).U16(1);
    w.U16(reserve ? 4 : 0).U16(0x1234).U16(0);
    if (reserve)
        w.U16(spec.headerReserve).U8(0).U8(spec.blockReserve).Zeros(spec.headerReserve);
    w.U32(uint32_t(out.firstBlockOffset)).U16(uint32_t(blocks.size())).U16(spec.compression);
    w.U32(uint32_t(spec.content.size())).U32(0).U16(0).U16(0x5A21).U16(0x6000).U16(0x20).CString(spec.name);
    for (size_t i = 0; i < blocks.size(); ++i)
    {
        const Bytes& data = blocks[i];
        CByteWriter head;
        head.U16(uint32_t(data.size())).U16(sizes[i]);
        const uint32_t sum = CabinetChecksum(head.bytes.data(), 4, CabinetChecksum(data.data(), data.size(), 0));
        w.U32(spec.checksums ? sum : 0).Append(head.bytes).Zeros(spec.blockReserve).Append(data);
    }
    PatchU32(w.bytes, 8, uint32_t(w.Size()));
    out.bytes = w.bytes;
    return out;
}

// One MSZIP block whose header claims the format's limit (32768 bytes) but
// whose deflate data holds 40000: the platform's expander, trusting the
// header for its buffer, would write past it.
inline BuiltCabinet BuildOverExpandingCabinet()
{
    CabinetSpec spec;
    spec.content.assign(40000, 0x5A);
    spec.blockSize = spec.content.size();
    spec.checksums = false;
    BuiltCabinet cabinet = BuildCabinet(spec);
    PatchU16(cabinet.bytes, cabinet.firstBlockOffset + 6, 32768);
    PatchU32(cabinet.bytes, cabinet.fileOffset, 32768);
    return cabinet;
}

// Content of the given size that no two blocks share.
inline Bytes PatternBytes(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t((i * 7) ^ (i >> 9));
    return bytes;
}
