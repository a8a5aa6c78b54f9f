#pragma once

// Builders of small images, DBG files, PDB files and CodeView records, laid
// out by hand so that each test controls every byte it depends on.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

class CByteWriter
{
public:
    Bytes bytes;

    size_t Size() const { return bytes.size(); }
    CByteWriter& U8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); return *this; }
    CByteWriter& U16(uint32_t v) { return U8(v).U8(v >> 8); }
    CByteWriter& U32(uint32_t v) { return U16(v).U16(v >> 16); }
    CByteWriter& Append(const Bytes& b) { bytes.insert(bytes.end(), b.begin(), b.end()); return *this; }
    CByteWriter& Text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); return *this; }
    CByteWriter& CString(const std::string& s) { return Text(s).U8(0); }
    CByteWriter& Zeros(size_t n) { bytes.resize(bytes.size() + n, 0); return *this; }
    CByteWriter& PadTo(size_t size) { if (bytes.size() < size) bytes.resize(size, 0); return *this; }
    void PatchU16(size_t at, uint32_t v) { bytes[at] = uint8_t(v); bytes[at + 1] = uint8_t(v >> 8); }
    void PatchU32(size_t at, uint32_t v) { PatchU16(at, v); PatchU16(at + 2, v >> 16); }
};

inline void PatchU16(Bytes& b, size_t at, uint32_t v) { b[at] = uint8_t(v); b[at + 1] = uint8_t(v >> 8); }
inline void PatchU32(Bytes& b, size_t at, uint32_t v) { PatchU16(b, at, v); PatchU16(b, at + 2, v >> 16); }

const std::array<uint8_t, 16> kTestGuid = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE,
                                           0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

inline Bytes MakeRsds(const std::array<uint8_t, 16>& guid, uint32_t age, const std::string& name)
{
    CByteWriter w;
    w.Text("RSDS").Append(Bytes(guid.begin(), guid.end())).U32(age).CString(name);
    return w.bytes;
}

inline Bytes MakeNb10(uint32_t signature, uint32_t age, const std::string& name)
{
    CByteWriter w;
    w.Text("NB10").U32(0).U32(signature).U32(age).CString(name);
    return w.bytes;
}

// Embedded CodeView: header, one 8-byte subsection, then the subsection directory.
inline Bytes MakeEmbeddedCodeView(const char* magic)
{
    CByteWriter w;
    w.Text(magic).U32(16);
    w.Text("SUBSECT1");
    w.U16(16).U16(12).U32(1).U32(0).U32(0);
    w.U16(0x120).U16(1).U32(8).U32(8);
    return w.bytes;
}

inline Bytes MakeMiscExeName(const std::string& name, bool unicode)
{
    CByteWriter w;
    w.U32(1).U32(0).U8(unicode ? 1 : 0).Zeros(3);
    for (char c : name)
        unicode ? w.U16(static_cast<uint8_t>(c)) : w.U8(static_cast<uint8_t>(c));
    unicode ? w.U16(0) : w.U8(0);
    while (w.Size() % 4)
        w.U8(0);
    w.PatchU32(4, static_cast<uint32_t>(w.Size()));
    return w.bytes;
}

// IMAGE_COFF_SYMBOLS_HEADER followed by its symbol table.
inline Bytes MakeCoffSymbols(uint32_t count)
{
    CByteWriter w;
    w.U32(count).U32(32).Zeros(24).Zeros(count * 18);
    return w.bytes;
}

struct DebugEntrySpec
{
    uint32_t type;
    Bytes data;
    bool dataOutsideFile;
};

struct PeSpec
{
    uint16_t magic = 0x10b;
    uint32_t timeDateStamp = 0x3A1B2C3D;
    uint32_t sizeOfImage = 0x5000;
    uint16_t characteristics = 0x0102;
    bool exports = false;
    uint32_t fileHeaderSymbols = 0;
    std::vector<DebugEntrySpec> debug;
};

struct BuiltFile
{
    Bytes bytes;
    size_t optionalHeader = 0;
    size_t sectionTable = 0;
    size_t exportDirectory = 0;
    size_t debugDirectory = 0;
    std::vector<size_t> debugData;
};

// One section ".rdata" at RVA 0x1000, file offset 0x200, holding the export
// tables, the debug directory and the debug data; COFF symbols last.
inline BuiltFile BuildPe(const PeSpec& spec)
{
    const uint32_t kSectionRva = 0x1000;
    const uint32_t kSectionFile = 0x200;
    BuiltFile out;
    CByteWriter w;
    w.Text("MZ").PadTo(0x3C).U32(0x40);
    w.Text(std::string("PE\0\0", 4)).U16(0x14C).U16(1).U32(spec.timeDateStamp).U32(0).U32(spec.fileHeaderSymbols);
    w.U16(224).U16(spec.characteristics);
    out.optionalHeader = w.Size();
    w.U16(spec.magic).PadTo(out.optionalHeader + 56).U32(spec.sizeOfImage).U32(kSectionFile);
    w.PadTo(out.optionalHeader + 92).U32(16).Zeros(16 * 8);
    out.sectionTable = w.Size();
    w.Text(std::string(".rdata\0\0", 8)).U32(0).U32(kSectionRva).U32(0).U32(kSectionFile).Zeros(16);
    w.PadTo(kSectionFile);
    auto rva = [&](size_t fileOffset) { return static_cast<uint32_t>(fileOffset - kSectionFile + kSectionRva); };

    if (spec.exports)
    {
        out.exportDirectory = w.Size();
        const size_t table = out.exportDirectory + 40;
        w.Zeros(20).U32(1).U32(1).U32(1).U32(rva(table)).U32(rva(table + 4)).U32(rva(table + 8));
        w.U32(0x1100).U32(rva(table + 12)).U16(0).U16(0).CString("Func");
        w.PatchU32(out.optionalHeader + 96, rva(out.exportDirectory));
        w.PatchU32(out.optionalHeader + 100, 40);
    }
    while (w.Size() % 4)
        w.U8(0);
    if (!spec.debug.empty())
    {
        out.debugDirectory = w.Size();
        w.Zeros(28 * spec.debug.size());
        w.PatchU32(out.optionalHeader + 96 + 6 * 8, rva(out.debugDirectory));
        w.PatchU32(out.optionalHeader + 100 + 6 * 8, static_cast<uint32_t>(28 * spec.debug.size()));
    }
    for (size_t i = 0; i < spec.debug.size(); ++i)
    {
        const DebugEntrySpec& e = spec.debug[i];
        const size_t entry = out.debugDirectory + 28 * i;
        w.PatchU32(entry + 12, e.type);
        w.PatchU32(entry + 16, static_cast<uint32_t>(e.data.size()));
        if (e.dataOutsideFile)
        {
            w.PatchU32(entry + 24, 0x100000);
            out.debugData.push_back(0);
            continue;
        }
        out.debugData.push_back(w.Size());
        w.PatchU32(entry + 20, rva(w.Size()));
        w.PatchU32(entry + 24, static_cast<uint32_t>(w.Size()));
        w.Append(e.data);
    }
    const uint32_t rawSize = static_cast<uint32_t>(w.Size() - kSectionFile);
    w.PatchU32(out.sectionTable + 8, rawSize);
    w.PatchU32(out.sectionTable + 16, rawSize);
    if (spec.fileHeaderSymbols != 0)
    {
        w.PatchU32(0x40 + 12, static_cast<uint32_t>(w.Size()));
        w.Zeros(18 * spec.fileHeaderSymbols);
    }
    out.bytes = w.bytes;
    return out;
}

struct DbgSpec
{
    uint32_t timeDateStamp = 0x3A1B2C3D;
    uint32_t sizeOfImage = 0x5000;
    std::vector<DebugEntrySpec> debug;
};

// Header, one section header, exported names, debug directory, then the data.
inline BuiltFile BuildDbg(const DbgSpec& spec)
{
    BuiltFile out;
    CByteWriter w;
    w.U16(0x4944).U16(0).U16(0x14C).U16(0x0102).U32(spec.timeDateStamp).U32(0).U32(0x400000);
    w.U32(spec.sizeOfImage).U32(1).U32(8).U32(static_cast<uint32_t>(28 * spec.debug.size())).U32(0x1000);
    w.Zeros(8);
    out.sectionTable = w.Size();
    w.Text(std::string(".text\0\0\0", 8)).U32(0x100).U32(0x1000).U32(0x200).U32(0x400).Zeros(16);
    w.CString("Func").Zeros(3);
    out.debugDirectory = w.Size();
    w.Zeros(28 * spec.debug.size());
    for (size_t i = 0; i < spec.debug.size(); ++i)
    {
        const size_t entry = out.debugDirectory + 28 * i;
        w.PatchU32(entry + 12, spec.debug[i].type);
        w.PatchU32(entry + 16, static_cast<uint32_t>(spec.debug[i].data.size()));
        w.PatchU32(entry + 24, static_cast<uint32_t>(w.Size()));
        out.debugData.push_back(w.Size());
        w.Append(spec.debug[i].data);
    }
    out.bytes = w.bytes;
    return out;
}

inline Bytes MakeInfoStream(uint32_t version, uint32_t signature, uint32_t age, bool guid)
{
    CByteWriter w;
    w.U32(version).U32(signature).U32(age);
    if (guid)
        w.Append(Bytes(kTestGuid.begin(), kTestGuid.end()));
    w.Zeros(32);  // the named-stream table that follows in real files
    return w.bytes;
}

struct PdbSpec
{
    int msf = 7;
    uint32_t pageSize = 512;
    // Streams in index order; a null entry marks an unused stream.
    std::vector<Bytes> streams;
    std::vector<bool> nil;
};

struct BuiltPdb
{
    Bytes bytes;
    size_t directoryOffset = 0;  // file offset of the directory's first page
    size_t directorySizeField = 0;
    std::vector<size_t> streamFirstPage;  // file offset of each stream's first page, 0 if none
};

// Streams are stored last to first, so their pages are not in stream order;
// the directory follows, then (MSF 7.00) the page listing the directory's pages.
inline BuiltPdb BuildPdb(const PdbSpec& spec)
{
    const size_t page = spec.pageSize;
    const bool v7 = spec.msf == 7;
    BuiltPdb out;
    CByteWriter w;
    w.Zeros(page * (v7 ? 3 : 2));  // header and free-page map(s)
    std::vector<std::vector<uint32_t>> pages(spec.streams.size());
    out.streamFirstPage.assign(spec.streams.size(), 0);
    for (size_t s = spec.streams.size(); s-- > 0;)
    {
        for (size_t at = 0; at < spec.streams[s].size(); at += page)
        {
            pages[s].push_back(static_cast<uint32_t>(w.Size() / page));
            const size_t n = std::min(page, spec.streams[s].size() - at);
            w.Append(Bytes(spec.streams[s].begin() + at, spec.streams[s].begin() + at + n)).PadTo((pages[s].back() + 1) * page);
        }
        if (!pages[s].empty())
            out.streamFirstPage[s] = pages[s][0] * page;
    }
    CByteWriter dir;
    if (v7)
        dir.U32(static_cast<uint32_t>(spec.streams.size()));
    else
        dir.U16(static_cast<uint32_t>(spec.streams.size())).U16(0);
    for (size_t s = 0; s < spec.streams.size(); ++s)
    {
        const uint32_t size = s < spec.nil.size() && spec.nil[s] ? 0xFFFFFFFF : static_cast<uint32_t>(spec.streams[s].size());
        dir.U32(size);
        if (!v7)
            dir.U32(0);
    }
    for (const auto& list : pages)
        for (uint32_t p : list)
            v7 ? dir.U32(p) : dir.U16(p);
    std::vector<uint32_t> dirPages;
    out.directoryOffset = w.Size();
    for (size_t at = 0; at < dir.Size(); at += page)
    {
        dirPages.push_back(static_cast<uint32_t>(w.Size() / page));
        const size_t n = std::min(page, dir.Size() - at);
        w.Append(Bytes(dir.bytes.begin() + at, dir.bytes.begin() + at + n)).PadTo((dirPages.back() + 1) * page);
    }
    CByteWriter header;
    if (v7)
    {
        const uint32_t listPage = static_cast<uint32_t>(w.Size() / page);
        for (uint32_t p : dirPages)
            w.U32(p);
        w.PadTo((listPage + 1) * page);
        header.Text(std::string("Microsoft C/C++ MSF 7.00\r\n\x1a" "DS\0\0\0", 32));
        header.U32(spec.pageSize).U32(1).U32(static_cast<uint32_t>(w.Size() / page));
        out.directorySizeField = header.Size();
        header.U32(static_cast<uint32_t>(dir.Size())).U32(0).U32(listPage);
    }
    else
    {
        header.Text(std::string("Microsoft C/C++ program database 2.00\r\n\x1a" "JG\0\0", 44));
        header.U32(spec.pageSize).U16(1).U16(static_cast<uint32_t>(w.Size() / page));
        out.directorySizeField = header.Size();
        header.U32(static_cast<uint32_t>(dir.Size())).U32(0);
        for (uint32_t p : dirPages)
            header.U16(p);
    }
    std::copy(header.bytes.begin(), header.bytes.end(), w.bytes.begin());
    out.bytes = w.bytes;
    return out;
}

inline PdbSpec StandardPdb(int msf, uint32_t version, bool guid)
{
    PdbSpec spec;
    spec.msf = msf;
    spec.pageSize = msf == 7 ? 512 : 1024;
    spec.streams.push_back(Bytes(1500, 0xAA));  // several pages to skip in the lists
    spec.streams.push_back(MakeInfoStream(version, 0x3A1B2C3D, 3, guid));
    spec.streams.push_back(Bytes(100, 0xBB));
    return spec;
}
