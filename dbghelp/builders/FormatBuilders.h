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

// Parses a whole built file with any of the readers.
template <typename Reader>
bool Parse(Reader& reader, const Bytes& bytes)
{
    return reader.Parse(bytes.data(), bytes.size());
}

inline void PatchU16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
inline void PatchU32(Bytes& b, size_t at, uint32_t v)
{
    PatchU16(b, at, v);
    PatchU16(b, at + 2, v >> 16);
}

struct CByteWriter
{
    Bytes bytes;

    size_t Size() const { return bytes.size(); }
    CByteWriter& U8(uint32_t v)
    {
        bytes.push_back(uint8_t(v));
        return *this;
    }
    CByteWriter& U16(uint32_t v) { return U8(v).U8(v >> 8); }
    CByteWriter& U32(uint32_t v) { return U16(v).U16(v >> 16); }
    CByteWriter& Append(const Bytes& b)
    {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    CByteWriter& Text(const std::string& s)
    {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    CByteWriter& CString(const std::string& s) { return Text(s).U8(0); }
    CByteWriter& Zeros(size_t n)
    {
        bytes.resize(bytes.size() + n, 0);
        return *this;
    }
    CByteWriter& PadTo(size_t size)
    {
        bytes.resize(std::max(size, bytes.size()), 0);
        return *this;
    }
    uint32_t At() const { return uint32_t(bytes.size()); }
};

const std::array<uint8_t, 16> kTestGuid = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE,
                                           0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

inline Bytes MakeRsds(const std::array<uint8_t, 16>& guid, uint32_t age, const std::string& name)
{
    return CByteWriter().Text("RSDS").Append(Bytes(guid.begin(), guid.end())).U32(age).CString(name).bytes;
}

inline Bytes MakeNb10(uint32_t signature, uint32_t age, const std::string& name)
{
    return CByteWriter().Text("NB10").U32(0).U32(signature).U32(age).CString(name).bytes;
}

// Header, one 8-byte subsection at 8, then the subsection directory at 16
// (16-byte header, one 12-byte entry at 32).
inline Bytes MakeEmbeddedCodeView(const char* magic)
{
    return CByteWriter()
        .Text(magic)
        .U32(16)
        .Text("SUBSECT1")
        .U16(16)
        .U16(12)
        .U32(1)
        .U32(0)
        .U32(0)
        .U16(0x120)
        .U16(1)
        .U32(8)
        .U32(8)
        .bytes;
}

inline Bytes MakeMiscExeName(const std::string& name, bool unicode)
{
    CByteWriter w;
    w.U32(1).U32(0).U8(unicode).Zeros(3);
    for (char c : name + std::string(1, '\0'))
        unicode ? w.U16(uint8_t(c)) : w.U8(uint8_t(c));
    w.PadTo((w.Size() + 3) / 4 * 4);
    PatchU32(w.bytes, 4, w.At());
    return w.bytes;
}

// IMAGE_COFF_SYMBOLS_HEADER (count, offset 32 of the first symbol, six more
// fields) followed by the symbol table.
inline Bytes MakeCoffSymbols(uint32_t count)
{
    return CByteWriter().U32(count).U32(32).Zeros(24).Zeros(count * 18).bytes;
}

struct DebugEntrySpec
{
    uint32_t type;
    Bytes data;
    bool dataOutsideFile = false;
};

struct BuiltFile
{
    Bytes bytes;
    size_t optionalHeader = 0;
    size_t dataDirectories = 0;
    size_t sectionTable = 0;
    size_t exportDirectory = 0;
    size_t importDirectory = 0;
    size_t debugDirectory = 0;
    std::vector<size_t> debugData;
};

// Appends the debug directory and then each entry's data. rvaOf turns a file
// offset into the RVA recorded in AddressOfRawData (0 for DBG files).
template <typename RvaOf>
void AppendDebugDirectory(CByteWriter& w, BuiltFile& out, const std::vector<DebugEntrySpec>& entries, RvaOf rvaOf)
{
    out.debugDirectory = w.Size();
    w.Zeros(28 * entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
    {
        const size_t entry = out.debugDirectory + 28 * i;
        PatchU32(w.bytes, entry + 12, entries[i].type);
        PatchU32(w.bytes, entry + 16, uint32_t(entries[i].data.size()));
        out.debugData.push_back(entries[i].dataOutsideFile ? 0 : w.Size());
        if (entries[i].dataOutsideFile)
        {
            PatchU32(w.bytes, entry + 24, 0x100000);
            continue;
        }
        PatchU32(w.bytes, entry + 20, rvaOf(w.Size()));
        PatchU32(w.bytes, entry + 24, w.At());
        w.Append(entries[i].data);
    }
}

struct PeSpec
{
    uint16_t magic = 0x10b; // 0x20b: PE32+ for x64
    uint16_t characteristics = 0x0102;
    bool exports = false;
    uint32_t fileHeaderSymbols = 0;
    std::vector<DebugEntrySpec> debug;
    // DLL names of the import directory (descriptors, ending descriptor, names).
    std::vector<std::string> imports;
};

// TimeDateStamp 0x3A1B2C3D, SizeOfImage 0x5000, ImageBase 0x400000 (PE32+:
// 0x140000000, machine x64). One section at RVA 0x1000, file offset 0x200,
// holds the export tables, the debug directory and the debug data; the file
// header's COFF symbol table comes last.
inline BuiltFile BuildPe(const PeSpec& spec)
{
    BuiltFile out;
    CByteWriter w;
    auto rva = [](size_t fileOffset) { return uint32_t(fileOffset - 0x200 + 0x1000); };
    // PE32+ widens ImageBase to 64 bits and drops BaseOfData: the data directories start 16 bytes later.
    const bool plus = spec.magic == 0x20b;
    w.Text("MZ").PadTo(0x3C).U32(0x40).Text(std::string("PE\0\0", 4)).U16(plus ? 0x8664 : 0x14C).U16(1);
    w.U32(0x3A1B2C3D).U32(0).U32(spec.fileHeaderSymbols).U16(plus ? 240 : 224).U16(spec.characteristics);
    out.optionalHeader = w.Size();
    w.U16(spec.magic);
    if (plus)
        w.PadTo(out.optionalHeader + 24).U32(0x40000000).U32(1);
    else
        w.PadTo(out.optionalHeader + 28).U32(0x400000);
    w.PadTo(out.optionalHeader + 56).U32(0x5000).U32(0x200);
    out.dataDirectories = out.optionalHeader + (plus ? 112 : 96);
    w.PadTo(out.dataDirectories - 4).U32(16).Zeros(16 * 8);
    out.sectionTable = w.Size();
    w.Text(std::string(".rdata\0\0", 8)).U32(0).U32(0x1000).U32(0).U32(0x200).Zeros(16).PadTo(0x200);
    if (spec.exports)
    {
        // Directory, then the function, name and ordinal tables, then the name.
        out.exportDirectory = w.Size();
        const size_t table = out.exportDirectory + 40;
        w.Zeros(20).U32(1).U32(1).U32(rva(table)).U32(rva(table + 4)).U32(rva(table + 8));
        w.U32(0x1100).U32(rva(table + 12)).U16(0).U16(0).CString("Func").PadTo(table + 20);
        PatchU32(w.bytes, out.dataDirectories, rva(out.exportDirectory));
        PatchU32(w.bytes, out.dataDirectories + 4, 40);
    }
    if (!spec.imports.empty())
    {
        out.importDirectory = w.Size();
        const size_t descriptors = spec.imports.size() + 1;
        w.Zeros(20 * descriptors);
        for (size_t i = 0; i < spec.imports.size(); ++i)
        {
            PatchU32(w.bytes, out.importDirectory + 20 * i + 12, rva(w.Size()));
            w.CString(spec.imports[i]);
        }
        PatchU32(w.bytes, out.dataDirectories + 8, rva(out.importDirectory));
        PatchU32(w.bytes, out.dataDirectories + 12, uint32_t(20 * descriptors));
    }
    if (!spec.debug.empty())
    {
        PatchU32(w.bytes, out.dataDirectories + 48, rva(w.Size()));
        PatchU32(w.bytes, out.dataDirectories + 52, uint32_t(28 * spec.debug.size()));
        AppendDebugDirectory(w, out, spec.debug, rva);
    }
    PatchU32(w.bytes, out.sectionTable + 8, w.At() - 0x200);
    PatchU32(w.bytes, out.sectionTable + 16, w.At() - 0x200);
    if (spec.fileHeaderSymbols != 0)
    {
        PatchU32(w.bytes, 0x40 + 12, w.At());
        w.Zeros(18 * spec.fileHeaderSymbols);
    }
    out.bytes = w.bytes;
    return out;
}

// TimeDateStamp 0x3A1B2C3D, SizeOfImage 0x5000, ImageBase 0x400000: header,
// one section header, 8 bytes of exported names, debug directory, data.
inline BuiltFile BuildDbg(const std::vector<DebugEntrySpec>& debug)
{
    BuiltFile out;
    CByteWriter w;
    w.U16(0x4944).U16(0).U16(0x14C).U16(0x0102).U32(0x3A1B2C3D).U32(0).U32(0x400000).U32(0x5000);
    w.U32(1).U32(8).U32(uint32_t(28 * debug.size())).U32(0x1000).Zeros(8);
    w.Text(std::string(".text\0\0\0", 8)).U32(0x100).U32(0x1000).U32(0x200).U32(0x400).Zeros(16);
    w.CString("Func").Zeros(3);
    AppendDebugDirectory(w, out, debug, [](size_t) { return 0u; });
    out.bytes = w.bytes;
    return out;
}

struct BuiltPdb
{
    Bytes bytes;
    size_t directoryOffset = 0; // file offset of the directory's first page
    size_t directorySizeField = 0;
};

// streams[i] empty with nil[i] set is an unused stream. Streams are stored
// last to first, so their pages are not in stream order; the directory
// follows, then (MSF 7.00) the page listing the directory's pages.
inline BuiltPdb BuildPdb(int msf, uint32_t pageSize, const std::vector<Bytes>& streams,
                         const std::vector<bool>& nil = {})
{
    const bool v7 = msf == 7;
    BuiltPdb out;
    CByteWriter w;
    w.Zeros(pageSize * (v7 ? 3 : 2)); // header and free-page map(s)
    auto store = [&](const Bytes& data, std::vector<uint32_t>& pages)
    {
        for (size_t at = 0; at < data.size(); at += pageSize)
        {
            pages.push_back(w.At() / pageSize);
            w.Append(Bytes(data.begin() + at, data.begin() + std::min(data.size(), at + pageSize)));
            w.PadTo(w.Size() + pageSize - 1 - (w.Size() - 1) % pageSize);
        }
    };
    std::vector<std::vector<uint32_t>> pages(streams.size());
    for (size_t s = streams.size(); s-- > 0;)
        store(streams[s], pages[s]);
    CByteWriter dir;
    v7 ? dir.U32(uint32_t(streams.size())) : dir.U16(uint32_t(streams.size())).U16(0);
    for (size_t s = 0; s < streams.size(); ++s)
    {
        dir.U32(s < nil.size() && nil[s] ? 0xFFFFFFFF : uint32_t(streams[s].size()));
        if (!v7)
            dir.U32(0);
    }
    for (const auto& list : pages)
        for (uint32_t p : list)
            v7 ? dir.U32(p) : dir.U16(p);
    std::vector<uint32_t> dirPages;
    out.directoryOffset = w.Size();
    store(dir.bytes, dirPages);
    CByteWriter header;
    if (v7)
    {
        const uint32_t listPage = w.At() / pageSize;
        for (uint32_t p : dirPages)
            w.U32(p);
        w.PadTo((listPage + 1) * pageSize);
        header
            .Text(std::string("Microsoft C/C++ MSF 7.00\r\n\x1a"
                              "DS\0\0\0",
                              32))
            .U32(pageSize)
            .U32(1);
        header.U32(w.At() / pageSize);
        out.directorySizeField = header.Size();
        header.U32(dir.At()).U32(0).U32(listPage);
    }
    else
    {
        header
            .Text(std::string("Microsoft C/C++ program database 2.00\r\n\x1a"
                              "JG\0\0",
                              44))
            .U32(pageSize)
            .U16(1);
        header.U16(w.At() / pageSize);
        out.directorySizeField = header.Size();
        header.U32(dir.At()).U32(0);
        for (uint32_t p : dirPages)
            header.U16(p);
    }
    std::copy(header.bytes.begin(), header.bytes.end(), w.bytes.begin());
    out.bytes = w.bytes;
    return out;
}

// Info stream: version, signature 0x3A1B2C3D, age 3, the GUID when asked,
// then 32 bytes standing for the named-stream table of real files.
inline Bytes MakeInfoStream(uint32_t version, bool guid)
{
    CByteWriter w;
    w.U32(version).U32(0x3A1B2C3D).U32(3);
    if (guid)
        w.Append(Bytes(kTestGuid.begin(), kTestGuid.end()));
    return w.Zeros(32).bytes;
}

// Stream 0 spans several pages, so that its page list must be skipped.
inline std::vector<Bytes> StandardStreams(uint32_t version, bool guid)
{
    return {Bytes(1500, 0xAA), MakeInfoStream(version, guid), Bytes(100, 0xBB)};
}

inline uint32_t StandardPageSize(int msf)
{
    return msf == 7 ? 512 : 1024;
}
