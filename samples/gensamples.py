#!/usr/bin/env python3
"""Generates the sample images and symbol files used by the symbol library's
tests, `make demo` and `make bench`.

    python3 samples/gensamples.py --out DIR [--clang clang]

Writes, under DIR:
  images/     PE images, one per symbol kind (no symbol files beside them):
              32-bit (PE32, i386) of every kind, and 64-bit (PE32+, x64, names
              ending in 64) of the kinds a 64-bit debuggee shows: RSDS with a
              PDB 7.00, NB10 with a PDB 2.00, DBG, DBG with a PDB 2.00,
              exports only, nothing
  symbols/    every matching symbol file, flat
  store/      the same files in symbol store layout (name\\KEY\\name)
  compressed/, cabinet/, damaged/, pointer/   other store forms and damaged
              files, written by storecases.py (see there)
  reindexed/  PDBs that match their image but whose info stream's age was
              raised after linking, flat and in store layout (reindexed/store/)
  mismatch/   symbol files that do not match their image, by reason
              (sig/, age/, guid/, time/, size/), and mismatch/store/ holding
              them under the keys of the images they fail to match
  manifest.json, manifest.ini   what each image is and where its files are

Everything except rsds(64).exe and rsds(64).pdb is written byte by byte from
the public format descriptions (PE/COFF, CodeView NB09/NB11, MSF, DBG). rsds.*
and rsds64.* come from clang and lld, made reproducible with /Brepro, relative paths and a fixed
/pdbsourcepath. Output is identical from run to run.
"""

import argparse
import configparser
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import storecases

# ---------------------------------------------------------------------------
# Constants of the PE/COFF format.

MACHINE_I386 = 0x014C
MACHINE_AMD64 = 0x8664

FILE_RELOCS_STRIPPED = 0x0001
FILE_EXECUTABLE_IMAGE = 0x0002
FILE_LINE_NUMS_STRIPPED = 0x0004
FILE_LOCAL_SYMS_STRIPPED = 0x0008
FILE_LARGE_ADDRESS_AWARE = 0x0020
FILE_32BIT_MACHINE = 0x0100
FILE_DEBUG_STRIPPED = 0x0200
FILE_DLL = 0x2000

SCN_CNT_CODE = 0x00000020
SCN_CNT_INITIALIZED_DATA = 0x00000040
SCN_CNT_UNINITIALIZED_DATA = 0x00000080
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_READ = 0x40000000
SCN_MEM_WRITE = 0x80000000

DEBUG_TYPE_COFF = 1
DEBUG_TYPE_CODEVIEW = 2
DEBUG_TYPE_MISC = 4

DIR_EXPORT = 0
DIR_DEBUG = 6
DIR_IMPORT = 1
DIR_IAT = 12

# Optional header magic and size: PE32 for i386, PE32+ for x64 (a 64-bit
# ImageBase and stack/heap sizes, no BaseOfData).
PE32_MAGIC, PE32_OPTIONAL_SIZE = 0x10B, 224
PE32PLUS_MAGIC, PE32PLUS_OPTIONAL_SIZE = 0x20B, 240

FILE_ALIGNMENT = 0x200
SECTION_ALIGNMENT = 0x1000
PE_OFFSET = 0x80  # e_lfanew: DOS header (64 bytes) plus our stub fit below it

SYMBOL_TYPES = {"SymNone": 0, "SymCoff": 1, "SymCv": 2, "SymPdb": 3, "SymExport": 4}

# Visual C++ 6.0 version stamps, as its PDB files carry them.
PDB_INFO_VERSION_VC6 = 19970604
PDB_TPI_VERSION_VC6 = 19961031
PDB_DBI_VERSION_VC6 = 19970606

# Where the images say their symbol files were built: a directory that exists
# on no test machine, so the recorded path never finds anything by accident.
BUILD_DIR = "C:\\qsamples\\build\\"


def align(value, boundary):
    return (value + boundary - 1) // boundary * boundary


def pad_to(data, boundary):
    return data + b"\0" * (align(len(data), boundary) - len(data))


# ---------------------------------------------------------------------------
# PE32 and PE32+ image writer.

def dos_header_and_stub():
    """The 64-byte MZ header and a small real-mode program that prints a line
    and exits with code 1, padded to PE_OFFSET."""
    code = bytes([
        0x0E,              # push cs
        0x1F,              # pop ds
        0xBA, 0x0E, 0x00,  # mov dx, offset message (0x0E, right after the code)
        0xB4, 0x09,        # mov ah, 9   (print '$'-terminated string)
        0xCD, 0x21,        # int 21h
        0xB8, 0x01, 0x4C,  # mov ax, 4C01h (exit, code 1)
        0xCD, 0x21,        # int 21h
    ])
    message = b"Win32 image: it does not run under DOS.\r\n$"
    stub = code + message
    header = struct.pack(
        "<2s13H8s2H20sI",
        b"MZ",
        PE_OFFSET % 512,   # e_cblp: bytes used in the last 512-byte page
        1,                 # e_cp: pages in the DOS image
        0,                 # e_crlc: relocations
        4,                 # e_cparhdr: header size in 16-byte paragraphs
        0, 0xFFFF,         # e_minalloc, e_maxalloc
        0, 0xB8,           # e_ss, e_sp
        0,                 # e_csum
        0, 0,              # e_ip, e_cs: code starts right after the header
        0x40,              # e_lfarlc
        0,                 # e_ovno
        b"\0" * 8,         # e_res
        0, 0,              # e_oemid, e_oeminfo
        b"\0" * 20,        # e_res2
        PE_OFFSET)         # e_lfanew
    assert len(header) == 64 and len(header) + len(stub) <= PE_OFFSET
    return (header + stub).ljust(PE_OFFSET, b"\0")


def pe_checksum(data, checksum_offset):
    """The image checksum: 16-bit one's-complement-style sum of the file with
    the CheckSum field taken as zero, plus the file length."""
    if len(data) % 2:
        data += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    # The checksum field's own two words were counted; take them out again.
    for off in (checksum_offset, checksum_offset + 2):
        word = struct.unpack_from("<H", data, off)[0]
        total -= word
        if total < 0:
            total += 0xFFFF
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


class Debug:
    """One debug directory entry. `data` is bytes, or for unmapped data a
    callable that receives the finished layout (a dict) and returns bytes of
    exactly `size` bytes. Mapped data lives in .rdata (it has an RVA); unmapped
    data is appended after the last section, as linkers place full CodeView
    and COFF symbol data."""

    def __init__(self, kind, data, mapped, size=None):
        self.kind = kind
        self.data = data
        self.mapped = mapped
        self.size = len(data) if size is None else size


def section_header(name, vsize, rva, raw_size, raw_ptr, characteristics):
    return struct.pack("<8s6I2HI", name, vsize, rva, raw_size, raw_ptr,
                       0, 0, 0, 0, characteristics)


def export_table(dll_name, rva, functions, timestamp):
    """An export directory at `rva` for `functions` [(name, function RVA)],
    with names sorted as the loader's binary search expects."""
    functions = sorted(functions)
    count = len(functions)
    dir_size = 40
    eat = rva + dir_size
    npt = eat + 4 * count
    ordinals = npt + 4 * count
    strings = ordinals + 2 * count
    name_blob = dll_name.encode() + b"\0"
    name_rvas = []
    for name, _ in functions:
        name_rvas.append(strings + len(name_blob))
        name_blob += name.encode() + b"\0"
    out = struct.pack("<2I2H7I", 0, timestamp, 0, 0, strings, 1, count, count,
                      eat, npt, ordinals)
    out += b"".join(struct.pack("<I", f) for _, f in functions)
    out += b"".join(struct.pack("<I", r) for r in name_rvas)
    out += b"".join(struct.pack("<H", i) for i in range(count))
    return out + name_blob


def import_tables(rva, imports, wide):
    """The import directory at `rva` for `imports` [(DLL name, [function
    names])], by name. Returns (bytes, (IAT RVA, IAT size)): descriptors, then
    the address table of every DLL in one block, the lookup tables, hint/name
    entries and DLL names."""
    thunk = "<Q" if wide else "<I"
    width = struct.calcsize(thunk)
    descriptors = 20 * (len(imports) + 1)
    table_size = width * sum(len(functions) + 1 for _, functions in imports)
    iat = rva + descriptors
    lookup = iat + table_size
    strings = lookup + table_size
    blob = b""
    name_rvas, dll_rvas = [], []
    for dll_name, functions in imports:
        rvas = []
        for function in functions:
            rvas.append(strings + len(blob))
            blob = pad_to(blob + struct.pack("<H", 0) + function.encode() + b"\0", 2)
        name_rvas.append(rvas)
    for dll_name, _ in imports:
        dll_rvas.append(strings + len(blob))
        blob = pad_to(blob + dll_name.encode() + b"\0", 2)
    out = b""
    tables = b""
    offset = 0
    for (dll_name, functions), rvas, dll_rva in zip(imports, name_rvas, dll_rvas):
        out += struct.pack("<5I", lookup + offset, 0, 0, dll_rva, iat + offset)
        tables += b"".join(struct.pack(thunk, r) for r in rvas) + struct.pack(thunk, 0)
        offset += width * (len(functions) + 1)
    out += bytes(20)
    # The loader overwrites the address table; the lookup table keeps the names.
    return out + tables + tables + blob, (iat, table_size)


def build_image(name, dll, timestamp, image_base, exports=(), debug=(),
                stripped=False, coff_symbols=None, size_of_image=None, machine=MACHINE_I386,
                imports=()):
    """Writes a PE32 image for i386 (or, with machine=MACHINE_AMD64, a PE32+
    image for x64) and returns (bytes, layout).

    .text holds the entry point (`xor eax,eax; ret` for an EXE, `mov eax,1;
    ret 12` for a 32-bit DLL's entry, `mov eax,1; ret` for a 64-bit one) and
    one `xor eax,eax; ret` per export (the same bytes in both modes). .rdata
    holds the export table, the debug directory and mapped debug data. An
    uninitialised .data section pads the image to `size_of_image` when given.
    `coff_symbols`, when given, is the index of the unmapped debug entry whose
    data holds IMAGE_COFF_SYMBOLS_HEADER; the file header then points at the
    symbol table inside it. `imports` [(DLL name, [function names])] adds an
    import directory at the end of .rdata; the loader makes its address table
    writable while it binds it."""
    wide = machine == MACHINE_AMD64
    if not dll:
        entry = bytes([0x31, 0xC0, 0xC3])
    elif wide:
        entry = bytes([0xB8, 1, 0, 0, 0, 0xC3])
    else:
        entry = bytes([0xB8, 1, 0, 0, 0, 0xC2, 0x0C, 0x00])
    optional_size = PE32PLUS_OPTIONAL_SIZE if wide else PE32_OPTIONAL_SIZE
    text = pad_to(entry, 16)
    export_offsets = []
    for export in exports:
        export_offsets.append((export, len(text)))
        text = pad_to(text + bytes([0x31, 0xC0, 0xC3]), 16)

    text_rva = SECTION_ALIGNMENT
    rdata_rva = text_rva + align(len(text), SECTION_ALIGNMENT)

    # .rdata layout: export table, debug directory, mapped debug data.
    exp = b""
    if exports:
        exp = export_table(name, rdata_rva,
                           [(e, text_rva + off) for e, off in export_offsets], timestamp)
    debug_dir_off = align(len(exp), 4)
    cursor = debug_dir_off + 28 * len(debug)
    mapped_offsets = {}
    for i, entry_ in enumerate(debug):
        if entry_.mapped:
            cursor = align(cursor, 4)
            mapped_offsets[i] = cursor
            cursor += entry_.size
    imp, iat = b"", (0, 0)
    if imports:
        import_off = align(cursor, 8)
        imp, iat = import_tables(rdata_rva + import_off, imports, wide)
        cursor = import_off + len(imp)
    rdata_size = cursor if (exports or debug or imports) else 0

    sections = [(b".text", len(text), text_rva, SCN_CNT_CODE | SCN_MEM_EXECUTE | SCN_MEM_READ)]
    if rdata_size:
        sections.append((b".rdata", rdata_size, rdata_rva, SCN_CNT_INITIALIZED_DATA | SCN_MEM_READ))
    end_rva = sections[-1][2] + align(sections[-1][1], SECTION_ALIGNMENT)
    bss_size = 0
    if size_of_image is not None:
        assert size_of_image > end_rva and size_of_image % SECTION_ALIGNMENT == 0
        bss_size = size_of_image - end_rva
        sections.append((b".data", bss_size, end_rva,
                         SCN_CNT_UNINITIALIZED_DATA | SCN_MEM_READ | SCN_MEM_WRITE))
        end_rva = size_of_image

    headers_size = align(PE_OFFSET + 4 + 20 + optional_size + 40 * len(sections), FILE_ALIGNMENT)
    raw = {}
    file_cursor = headers_size
    for sname, vsize, _, chars in sections:
        if chars & SCN_CNT_UNINITIALIZED_DATA:
            raw[sname] = (0, 0)
        else:
            raw[sname] = (file_cursor, align(vsize, FILE_ALIGNMENT))
            file_cursor += align(vsize, FILE_ALIGNMENT)

    layout = {
        "text_rva": text_rva, "text_size": len(text),
        "rdata_rva": rdata_rva if rdata_size else 0, "rdata_size": rdata_size,
        "size_of_image": end_rva, "image_base": image_base,
    }

    # Unmapped debug data goes after the last section's raw data.
    tail = b""
    tail_offsets = {}
    for i, entry_ in enumerate(debug):
        if not entry_.mapped:
            tail = pad_to(tail, 4)
            tail_offsets[i] = file_cursor + len(tail)
            layout["tail_%d" % i] = tail_offsets[i]
            blob = entry_.data(layout) if callable(entry_.data) else entry_.data
            assert len(blob) == entry_.size
            tail += blob

    rdata = bytearray(rdata_size)
    rdata[0:len(exp)] = exp
    if imports:
        rdata[import_off:import_off + len(imp)] = imp
    for i, entry_ in enumerate(debug):
        if entry_.mapped:
            off = mapped_offsets[i]
            rdata[off:off + entry_.size] = entry_.data
            address, pointer = rdata_rva + off, raw[b".rdata"][0] + off
        else:
            address, pointer = 0, tail_offsets[i]
        struct.pack_into("<2I2H4I", rdata, debug_dir_off + 28 * i, 0, timestamp, 0, 0,
                         entry_.kind, entry_.size, address, pointer)

    characteristics = FILE_EXECUTABLE_IMAGE | FILE_LINE_NUMS_STRIPPED
    characteristics |= FILE_LARGE_ADDRESS_AWARE if wide else FILE_32BIT_MACHINE
    if coff_symbols is None:
        characteristics |= FILE_LOCAL_SYMS_STRIPPED
    characteristics |= FILE_DLL if dll else FILE_RELOCS_STRIPPED
    if stripped:
        characteristics |= FILE_DEBUG_STRIPPED

    symbol_table, symbol_count = 0, 0
    if coff_symbols is not None:
        header_at = tail_offsets[coff_symbols]
        blob = tail[header_at - file_cursor:]
        symbol_count, lva_first = struct.unpack_from("<2I", blob, 0)
        symbol_table = header_at + lva_first

    file_header = struct.pack("<2H3I2H", machine, len(sections), timestamp,
                              symbol_table, symbol_count, optional_size, characteristics)

    data_dirs = [(0, 0)] * 16
    if exports:
        data_dirs[DIR_EXPORT] = (rdata_rva, len(exp))
    if debug:
        data_dirs[DIR_DEBUG] = (rdata_rva + debug_dir_off, 28 * len(debug))
    if imports:
        data_dirs[DIR_IMPORT] = (rdata_rva + import_off, 20 * (len(imports) + 1))
        data_dirs[DIR_IAT] = iat
    size_code = align(len(text), FILE_ALIGNMENT)
    size_init = align(rdata_size, FILE_ALIGNMENT)
    code_and_data = (size_code, size_init, align(bss_size, FILE_ALIGNMENT),
                     text_rva,             # AddressOfEntryPoint: entry code is first
                     text_rva)             # BaseOfCode
    subsystem = (2 if dll else 3,          # GUI subsystem for DLLs, console for EXEs
                 0)                        # DllCharacteristics
    if wide:
        optional = struct.pack(
            "<HBB5IQ2I6H4I2H4Q2I",
            PE32PLUS_MAGIC, 8, 0,          # linker 8.0 (Visual C++ 2005, the first for x64)
            *code_and_data,
            image_base, SECTION_ALIGNMENT, FILE_ALIGNMENT,
            5, 2, 0, 0, 5, 2,              # OS, image and subsystem versions: x64 Windows 5.2
            0,                             # Win32VersionValue
            end_rva, headers_size,
            0,                             # CheckSum, filled in below
            *subsystem,
            0x100000, 0x1000, 0x100000, 0x1000,  # stack and heap reserve/commit
            0, 16)
    else:
        optional = struct.pack(
            "<HBB9I6H4I2H6I",
            PE32_MAGIC, 6, 0,              # linker 6.0 (Visual C++ 6.0)
            *code_and_data,
            rdata_rva if rdata_size else end_rva,  # BaseOfData
            image_base, SECTION_ALIGNMENT, FILE_ALIGNMENT,
            4, 0, 0, 0, 4, 0,              # OS, image and subsystem versions
            0,                             # Win32VersionValue
            end_rva, headers_size,
            0,                             # CheckSum, filled in below
            *subsystem,
            0x100000, 0x1000, 0x100000, 0x1000,  # stack and heap reserve/commit
            0, 16)
    optional += b"".join(struct.pack("<2I", *d) for d in data_dirs)
    assert len(optional) == optional_size

    headers = bytearray(dos_header_and_stub() + b"PE\0\0" + file_header + optional)
    for sname, vsize, rva, chars in sections:
        ptr, size = raw[sname]
        headers += section_header(sname, vsize, rva, size, ptr, chars)
    headers = pad_to(bytes(headers), FILE_ALIGNMENT)
    assert len(headers) == headers_size

    image = bytearray(headers + pad_to(text, FILE_ALIGNMENT))
    if rdata_size:
        image += pad_to(bytes(rdata), FILE_ALIGNMENT)
    image += tail
    checksum_offset = PE_OFFSET + 4 + 20 + 64
    struct.pack_into("<I", image, checksum_offset, pe_checksum(bytes(image), checksum_offset))
    return bytes(image), layout


# ---------------------------------------------------------------------------
# PE reader, used on what lld wrote and on our own output.

def read_pe(data):
    """Returns the fields the manifest and the DBG files need, and the debug
    directory entries as dicts."""
    if data[:2] != b"MZ":
        raise ValueError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    machine, nsec, timestamp, _, _, opt_size, characteristics = struct.unpack_from(
        "<2H3I2H", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    if magic == PE32_MAGIC:
        image_base, section_alignment = struct.unpack_from("<2I", data, opt + 28)
        dirs_at = opt + 96
    elif magic == PE32PLUS_MAGIC:
        image_base, section_alignment = struct.unpack_from("<QI", data, opt + 24)
        dirs_at = opt + 112
    else:
        raise ValueError("neither PE32 nor PE32+")
    size_of_image, _, checksum = struct.unpack_from("<3I", data, opt + 56)
    dirs = [struct.unpack_from("<2I", data, dirs_at + 8 * i) for i in range(16)]
    sec_off = opt + opt_size
    section_headers = data[sec_off:sec_off + 40 * nsec]
    sections = []
    for i in range(nsec):
        name, vsize, rva, rsize, rptr = struct.unpack_from("<8s4I", section_headers, 40 * i)
        sections.append((name.rstrip(b"\0").decode(), vsize, rva, rsize, rptr))

    def rva_to_offset(rva):
        for _, vsize, srva, rsize, rptr in sections:
            if srva <= rva < srva + max(vsize, rsize):
                return rptr + rva - srva
        raise ValueError("RVA %#x outside every section" % rva)

    debug = []
    drva, dsize = dirs[DIR_DEBUG]
    if dsize:
        base = rva_to_offset(drva)
        for i in range(dsize // 28):
            _, _, _, _, kind, size, address, pointer = struct.unpack_from(
                "<2I2H4I", data, base + 28 * i)
            debug.append({"type": kind, "size": size, "address": address,
                          "pointer": pointer, "data": data[pointer:pointer + size]})
    return {
        "machine": machine, "timestamp": timestamp, "characteristics": characteristics,
        "image_base": image_base, "section_alignment": section_alignment,
        "size_of_image": size_of_image, "checksum": checksum,
        "section_headers": section_headers, "sections": sections, "debug": debug,
    }


# ---------------------------------------------------------------------------
# CodeView records.

def nb10_record(signature, age, pdb_path):
    """NB10: the image's debug data lives in a PDB 2.00 file. Fields: "NB10",
    a zero offset, the PDB's 32-bit signature and age, the PDB path."""
    return b"NB10" + struct.pack("<3I", 0, signature, age) + pdb_path.encode() + b"\0"


def length_prefixed(text):
    raw = text.encode()
    assert len(raw) < 256
    return bytes([len(raw)]) + raw


def codeview_nb11(module, segments, publics):
    """A packed Visual C++ 5.0/6.0 CodeView block ("NB11": 32-bit type
    indices) as a linker or CVPACK leaves it.

    Layout: "NB11" and the offset of the subsection directory from the start
    of the block (lfoDir); the subsections, each 4-byte aligned; the directory:
    a 16-byte header (cbDirHeader=16, cbDirEntry=12, cDir, lfoNextDir=0,
    flags=0) and cDir entries (u16 subsection type, u16 module index or 0xFFFF
    for global tables, u32 offset from the block start, u32 size); last, "NB11"
    again and the size of the whole block, so that a reader at the end of a
    file can find its start.

    Subsections written: sstModule (0x120) for module 1 with one code segment,
    sstGlobalPub (0x12A) with one public symbol (S_PUB32, 0x1009) per entry of
    `publics` [(name, segment, offset)], an empty sstGlobalSym (0x129) and
    sstSegMap (0x12D) describing `segments` [(flags, size)]."""
    subsections = []

    code_seg = 1
    code_size = segments[0][1]
    module_body = struct.pack("<3H2s", 0, 0, 1, b"CV")
    module_body += struct.pack("<2H2I", code_seg, 0, 0, code_size)
    module_body += length_prefixed(module)
    subsections.append((0x120, 1, module_body))

    def symbol_hash_table(records):
        body = b"".join(records)
        # OMFSymHash: symbol hash and address hash function indices (0 = no
        # hash tables follow), then the byte sizes of symbols and both tables.
        return struct.pack("<2H3I", 0, 0, len(body), 0, 0) + body

    records = []
    for name, seg, off in publics:
        rec = struct.pack("<HIIH", 0x1009, 0, off, seg) + length_prefixed(name)
        rec += b"\0" * ((-(len(rec) + 2)) % 4)  # records stay 4-byte aligned
        records.append(struct.pack("<H", len(rec)) + rec)
    subsections.append((0x12A, 0xFFFF, symbol_hash_table(records)))
    subsections.append((0x129, 0xFFFF, symbol_hash_table([])))

    segmap = struct.pack("<2H", len(segments), len(segments))
    for index, (flags, size) in enumerate(segments, start=1):
        # SegDesc: flags, overlay, group, frame (the segment number), segment
        # and class name indices (none), offset, size.
        segmap += struct.pack("<6H2I", flags, 0, 0, index, 0xFFFF, 0xFFFF, 0, size)
    subsections.append((0x12D, 0xFFFF, segmap))

    block = bytearray(b"NB11" + b"\0" * 4)
    entries = []
    for kind, module_index, body in subsections:
        block = bytearray(pad_to(bytes(block), 4))
        entries.append((kind, module_index, len(block), len(body)))
        block += body
    block = bytearray(pad_to(bytes(block), 4))
    struct.pack_into("<I", block, 4, len(block))
    block += struct.pack("<2H3I", 16, 12, len(entries), 0, 0)
    for entry in entries:
        block += struct.pack("<2H2I", *entry)
    block += b"NB11" + struct.pack("<I", len(block) + 8)
    return bytes(block)


# CodeView segment flags: read, execute, 32-bit, selector.
SEG_CODE = 0x0001 | 0x0004 | 0x0008 | 0x0100
SEG_DATA = 0x0001 | 0x0008 | 0x0100


def misc_exename(name):
    """IMAGE_DEBUG_MISC of type IMAGE_DEBUG_MISC_EXENAME: u32 DataType (1),
    u32 Length of the whole record (a multiple of 4), u8 Unicode (0), three
    reserved bytes, then the zero-terminated name."""
    body = name.encode() + b"\0"
    length = align(12 + len(body), 4)
    return pad_to(struct.pack("<2IB3x", 1, length, 0) + body, 4)


# ---------------------------------------------------------------------------
# COFF symbol table.

def coff_symbols_blob(symbols, layout):
    """IMAGE_COFF_SYMBOLS_HEADER followed by the symbol table and its string
    table, as the COFF debug directory entry and the file header reference it.

    `symbols` is [(name, value, section, type, storage class, aux records)].
    Names longer than 8 bytes go to the string table (first four name bytes
    zero, then the string's offset)."""
    strings = b""
    table = b""
    count = 0
    for name, value, section, typ, storage, aux in symbols:
        raw = name.encode()
        if len(raw) <= 8:
            name_field = raw.ljust(8, b"\0")
        else:
            name_field = struct.pack("<2I", 0, 4 + len(strings))
            strings += raw + b"\0"
        table += name_field + struct.pack("<IhHBB", value, section, typ, storage, len(aux))
        count += 1 + len(aux)
        for record in aux:
            assert len(record) == 18
            table += record
    string_table = struct.pack("<I", 4 + len(strings)) + strings
    header = struct.pack(
        "<8I", count,
        32,                       # LvaToFirstSymbol: the table follows this header
        0, 0,                     # no line numbers
        layout["text_rva"], layout["text_rva"] + layout["text_size"] - 1,
        layout["rdata_rva"], layout["rdata_rva"] + layout["rdata_size"] - 1)
    return header + table + string_table


def coff_sample_symbols(text_size):
    section_aux = struct.pack("<I2HIHB3x", text_size, 0, 0, 0, 1, 0)
    return [
        (".text", 0, 1, 0, 3, [section_aux]),            # section symbol, static
        ("_mainCRTStartup", 0, 1, 0x20, 2, []),           # function, external
        ("_QuillmarCoffSampleFunction", 0, 1, 0x20, 2, []),  # long name: string table
        ("_coff_local", 0, 1, 0x20, 3, []),               # static function
    ]


# ---------------------------------------------------------------------------
# MSF files: PDB 2.00 writer, PDB 7.00 patcher.

PDB20_MAGIC = b"Microsoft C/C++ program database 2.00\r\n\x1aJG\0\0"
PDB20_PAGE_SIZE = 0x400


def write_pdb20(streams):
    """Writes an MSF file in the PDB 2.00 ("JG") format of Visual C++ 2.0-6.0.

    Layout, in our words:
      page 0, header: the 44-byte magic string "Microsoft C/C++ program
        database 2.00\\r\\n\\x1aJG\\0\\0"; u32 page size; u16 page number of
        the free page map; u16 number of pages in the file; u32 byte size of
        the stream table; u32 reserved (0); then the u16 page numbers of the
        pages holding the stream table, in order.
      free page map: a page of bits, bit n (byte n/8, bit n%8) set when page n
        is free; bits past the end of the file are set.
      stream table: u16 stream count; u16 reserved (0); per stream a u32 byte
        size and a u32 reserved word (0); then, per stream in order, the u16
        numbers of the ceil(size/page size) pages holding its bytes.
    Page numbers are 16 bits wide, and the header lists the stream table's
    pages directly: MSF 7.00 widened page numbers to 32 bits and added a page
    of page numbers between the header and the stream table.

    Pages here: 0 header, 1 free page map, then the streams in order, then the
    stream table."""
    ps = PDB20_PAGE_SIZE
    next_page = 2
    stream_pages = []
    body = b""
    for stream in streams:
        count = (len(stream) + ps - 1) // ps
        stream_pages.append(list(range(next_page, next_page + count)))
        next_page += count
        body += pad_to(stream, ps)
    table = struct.pack("<2H", len(streams), 0)
    table += b"".join(struct.pack("<2I", len(s), 0) for s in streams)
    table += b"".join(struct.pack("<H", p) for pages in stream_pages for p in pages)
    table_pages = list(range(next_page, next_page + (len(table) + ps - 1) // ps))
    page_count = table_pages[-1] + 1
    assert page_count < 0x10000 and 60 + 2 * len(table_pages) <= ps

    header = PDB20_MAGIC + struct.pack("<I2H2I", ps, 1, page_count, len(table), 0)
    header += b"".join(struct.pack("<H", p) for p in table_pages)
    fpm = bytearray(ps)
    for page in range(page_count, ps * 8):
        fpm[page // 8] |= 1 << (page % 8)
    return pad_to(header, ps) + bytes(fpm) + body + pad_to(table, ps)


def pdb20_streams(signature, age, info_age=None):
    """The streams of a small Visual C++ 6.0 PDB with no symbols in it:
      0: the previous stream table (empty: the file was written once);
      1: PDB info: u32 version 19970604, u32 signature, u32 age; an NB10
         record in an image or DBG file matches this signature and the age
         in stream 3 (`info_age`, when given, stands for a PDB rewritten
         after linking, which raises only this stream's age);
      2: type information (TPI) header, VC6 version 19961031, no types
         (type indices 0x1000 up to 0x1000), its hash values in stream 4;
      3: debug information (DBI) header, VC6 version 19970606, the same age,
         no symbol streams (0xFFFF), empty substreams, machine i386;
      4: the TPI hash values: none, as there are no types."""
    info = struct.pack("<3I", PDB_INFO_VERSION_VC6, signature, age if info_age is None else info_age)
    # TPI header: version, header size, first and end type index, size of the
    # type records, hash stream and auxiliary hash stream, hash key size,
    # bucket count, then offset/size pairs of hash values, type index
    # offsets and hash adjustments within the hash stream.
    tpi = struct.pack("<5I2HiI6I", PDB_TPI_VERSION_VC6, 56, 0x1000, 0x1000, 0,
                      4, 0xFFFF, 4, 0x1000, 0, 0, 0, 0, 0, 0)
    assert len(tpi) == 56
    dbi = struct.pack("<iII6H8i2HI", -1, PDB_DBI_VERSION_VC6, age,
                      0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0,
                      0, 0, 0, 0, 0, 0, 0, 0,
                      0, MACHINE_I386, 0)
    assert len(dbi) == 64
    return [b"", info, tpi, dbi, b""]


def msf70_stream_locator(data):
    """For an MSF 7.00 file: a function mapping (stream, byte offset) to the
    file offset of that byte. Layout (see LLVM's MSF notes): 32-byte magic,
    u32 block size, free block map block, block count, directory size,
    reserved, block of the directory's block list; directory: u32 stream
    count, u32 sizes, then each stream's u32 block numbers."""
    if not data.startswith(b"Microsoft C/C++ MSF 7.00\r\n\x1aDS\0\0\0"):
        raise ValueError("not an MSF 7.00 file")
    bs, _, _, dir_size, _, dir_map = struct.unpack_from("<6I", data, 32)
    dir_blocks = [struct.unpack_from("<I", data, dir_map * bs + 4 * i)[0]
                  for i in range((dir_size + bs - 1) // bs)]
    directory = b"".join(data[b * bs:(b + 1) * bs] for b in dir_blocks)[:dir_size]
    count = struct.unpack_from("<I", directory, 0)[0]
    sizes = struct.unpack_from("<%dI" % count, directory, 4)
    cursor = 4 + 4 * count
    blocks = []
    for size in sizes:
        n = 0 if size == 0xFFFFFFFF else (size + bs - 1) // bs
        blocks.append(struct.unpack_from("<%dI" % n, directory, cursor))
        cursor += 4 * n

    def locate(stream, offset):
        return blocks[stream][offset // bs] * bs + offset % bs
    return locate


def patch_pdb70(data, age=None, guid=None, info_age=None):
    """Copy of a PDB 7.00 file with another age (in the info stream and the
    DBI stream, which both carry it) and/or another GUID (info stream), or
    with another age in the info stream only (`info_age`), as tools that
    rewrite a PDB after linking leave it."""
    out = bytearray(data)
    locate = msf70_stream_locator(data)

    def put(stream, offset, raw):
        for i, byte in enumerate(raw):
            out[locate(stream, offset + i)] = byte
    if age is not None:
        put(1, 8, struct.pack("<I", age))   # PdbStreamHeader.Age
        put(3, 8, struct.pack("<I", age))   # DbiStreamHeader.Age
    if info_age is not None:
        put(1, 8, struct.pack("<I", info_age))
    if guid is not None:
        put(1, 12, guid)                    # PdbStreamHeader.UniqueId
    return bytes(out)


# ---------------------------------------------------------------------------
# DBG files.

def build_dbg(image_info, entries, exported_names, timestamp=None, size_of_image=None):
    """A separate debug file: IMAGE_SEPARATE_DEBUG_HEADER ("DI", flags 0, and
    Machine, Characteristics, TimeDateStamp, CheckSum, ImageBase, SizeOfImage,
    NumberOfSections, SectionAlignment copied from the image, plus the sizes
    of the two tables below), the image's section headers, the exported names
    (zero-terminated, padded to 4 bytes), the debug directory, then the debug
    data, each 4-byte aligned. A debug entry's PointerToRawData is its offset in
    this file; AddressOfRawData is 0. `timestamp` and `size_of_image` override
    the image's values for mismatched variants."""
    ts = image_info["timestamp"] if timestamp is None else timestamp
    size = image_info["size_of_image"] if size_of_image is None else size_of_image
    names = pad_to(b"".join(n.encode() + b"\0" for n in exported_names), 4)
    sections = image_info["section_headers"]
    nsec = len(sections) // 40
    header_size = 48
    dir_offset = header_size + len(sections) + len(names)
    cursor = dir_offset + 28 * len(entries)
    placed = []
    for kind, blob in entries:
        cursor = align(cursor, 4)
        placed.append((kind, blob, cursor))
        cursor += len(blob)
    out = bytearray(struct.pack(
        "<4H8I2I", 0x4944, 0, image_info["machine"], image_info["characteristics"],
        ts, image_info["checksum"], image_info["image_base"], size, nsec,
        len(names), 28 * len(entries), image_info["section_alignment"], 0, 0))
    out += sections + names
    for kind, blob, offset in placed:
        out += struct.pack("<2I2H4I", 0, ts, 0, 0, kind, len(blob), 0, offset)
    for kind, blob, offset in placed:
        out += b"\0" * (offset - len(out)) + blob
    return bytes(out)


# ---------------------------------------------------------------------------
# Symbol store keys.

def guid_text(raw):
    d1, d2, d3 = struct.unpack_from("<IHH", raw)
    d4 = raw[8:16]
    return "%08X-%04X-%04X-%s-%s" % (d1, d2, d3, d4[:2].hex().upper(), d4[2:].hex().upper())


def key_pdb70(guid, age):
    """GUID as Data1 %08X, Data2 %04X, Data3 %04X, Data4 bytes %02X each,
    then the age in lower-case hexadecimal without leading zeros."""
    return guid_text(guid).replace("-", "") + "%x" % age


def key_pdb20(signature, age):
    return "%08X%x" % (signature, age)


def key_dbg(timestamp, size_of_image):
    return "%08X%x" % (timestamp, size_of_image)


# ---------------------------------------------------------------------------
# The clang/lld sample.

RSDS_SOURCE = """\
/* Sample program for the symbol library's tests: an entry point and a helper,
   so that the PDB holds a couple of functions and a global. */
int rsds_value = 7;
int rsds_helper(int x) { return x + rsds_value; }
int rsds_entry(void) { return rsds_helper(-7); }
"""


# The two clang/lld samples: (image base name, clang target, subsystem version).
RSDS_TARGETS = {
    "rsds": ("i686-pc-windows-msvc", "4.0"),
    "rsds64": ("x86_64-pc-windows-msvc", "5.02"),
}


def build_rsds(clang, workdir, name="rsds"):
    """Compiles and links NAME.exe with an RSDS record and NAME.pdb (PDB 7.00)
    for the target RSDS_TARGETS names: rsds is i386, rsds64 x64. The MSVC
    targets need no C library (-nostdlib, our own entry point). Relative file
    names, -fdebug-compilation-dir, /pdbsourcepath and /Brepro (timestamp and
    GUID from a content hash) make both files the same on every run and in
    every directory."""
    target, subsystem = RSDS_TARGETS[name]
    with open(os.path.join(workdir, name + ".c"), "w") as f:
        f.write(RSDS_SOURCE)
    common = ["--target=" + target]
    subprocess.run([clang] + common + [
        "-c", "-g", "-gcodeview", "-O1", "-ffreestanding", "-fno-builtin",
        "-fdebug-compilation-dir=.", "-fcoverage-compilation-dir=.",
        "-o", name + ".obj", name + ".c"], cwd=workdir, check=True)
    linker = ["/entry:rsds_entry", "/subsystem:console," + subsystem, "/dynamicbase:no", "/fixed",
              "/pdb:%s.pdb" % name, "/pdbaltpath:%s%s.pdb" % (BUILD_DIR, name),
              "/pdbsourcepath:C:\\qsamples\\src", "/Brepro"]
    args = [clang] + common + ["-fuse-ld=lld", "-nostdlib", "-g", "-o", name + ".exe", name + ".obj"]
    for option in linker:
        args += ["-Xlinker", option]
    subprocess.run(args, cwd=workdir, check=True)
    with open(os.path.join(workdir, name + ".exe"), "rb") as f:
        image = f.read()
    with open(os.path.join(workdir, name + ".pdb"), "rb") as f:
        pdb = f.read()
    return image, pdb


def rsds_fields(info):
    for entry in info["debug"]:
        if entry["type"] == DEBUG_TYPE_CODEVIEW and entry["data"][:4] == b"RSDS":
            raw = entry["data"]
            guid = raw[4:20]
            age = struct.unpack_from("<I", raw, 20)[0]
            path = raw[24:raw.index(b"\0", 24)].decode()
            return guid, age, path
    raise ValueError("rsds.exe has no RSDS record")


# ---------------------------------------------------------------------------
# The samples.

def basename(path):
    return path.replace("\\", "/").rsplit("/", 1)[-1]


class Writer:
    def __init__(self, out):
        self.out = out
        self.images = []
        self.mismatches = []

    def put(self, rel, data):
        path = os.path.join(self.out, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def symbol(self, name, key, data):
        """Puts a matching symbol file into symbols/ and store/; returns its
        store-relative path."""
        self.put("symbols/" + name, data)
        rel = "%s/%s/%s" % (name, key, name)
        self.put("store/" + rel, data)
        return rel

    def reindexed(self, name, key, data):
        """Puts a matching PDB whose info stream's age was raised after
        linking into reindexed/ and reindexed/store/."""
        self.put("reindexed/" + name, data)
        self.put("reindexed/store/%s/%s/%s" % (name, key, name), data)

    def mismatch(self, reason, name, image, key, data, what):
        self.put("mismatch/%s/%s" % (reason, name), data)
        rel = "%s/%s/%s" % (name, key, name)
        self.put("mismatch/%s/store/%s" % (reason, rel), data)
        self.mismatches.append({
            "id": "%s.%s" % (reason, name), "file": "mismatch/%s/%s" % (reason, name),
            "name": name, "image": image, "reason": reason, "differs": what,
            "store": "mismatch/%s/store" % reason, "store_path": rel,
        })


def image_record(name, kind, info, **extra):
    record = {
        "name": name, "file": "images/" + name, "kind": kind, "symtype": SYMBOL_TYPES[kind],
        "timestamp": info["timestamp"], "timestamp_hex": "%08X" % info["timestamp"],
        "size_of_image": info["size_of_image"], "size_of_image_hex": "%x" % info["size_of_image"],
        "image_base": info["image_base"], "checksum": info["checksum"],
        "machine": info["machine"], "bits": 64 if info["machine"] == MACHINE_AMD64 else 32,
        "image_key": key_dbg(info["timestamp"], info["size_of_image"]),
        "stripped": bool(info["characteristics"] & FILE_DEBUG_STRIPPED),
        "exports": [],
        "pdb_format": "", "pdb_name": "", "pdb_path": "", "pdb_sig": 0, "pdb_sig_hex": "",
        "pdb_guid": "", "pdb_age": 0, "pdb_key": "", "store_pdb": "",
        "dbg_name": "", "dbg_key": "", "store_dbg": "",
        "loaded_image": name, "loaded_pdb": "", "symbol_files": [],
    }
    record.update(extra)
    return record


def add_rsds(w, clang, name):
    """NAME.exe from clang + lld with its RSDS record and PDB 7.00, and the
    PDB's age and GUID mismatches."""
    exe, pdb_name = name + ".exe", name + ".pdb"
    with tempfile.TemporaryDirectory() as work:
        image, pdb = build_rsds(clang, work, name)
    info = read_pe(image)
    guid, age, pdb_path = rsds_fields(info)
    w.put("images/" + exe, image)
    key = key_pdb70(guid, age)
    store = w.symbol(pdb_name, key, pdb)
    w.images.append(image_record(
        exe, "SymPdb", info, pdb_format="7.00", pdb_name=pdb_name,
        pdb_path=pdb_path, pdb_guid=guid_text(guid), pdb_age=age, pdb_key=key,
        store_pdb=store, loaded_pdb=pdb_name, symbol_files=[pdb_name]))
    w.mismatch("age", pdb_name, exe, key, patch_pdb70(pdb, age=age + 1), "age")
    w.reindexed(pdb_name, key, patch_pdb70(pdb, info_age=age + 2))
    other_guid = bytes(b ^ 0x5A for b in guid)
    w.mismatch("guid", pdb_name, exe, key, patch_pdb70(pdb, guid=other_guid), "guid")


def export_name(name, machine):
    """An exported function's public symbol: stdcall-decorated for i386."""
    return name if machine == MACHINE_AMD64 else "_%s@0" % name


def add_nb10(w, name, sig, age, timestamp, base, machine=MACHINE_I386, mismatches=False):
    """NAME.dll with an NB10 record in .rdata and its PDB 2.00 (and, with
    `mismatches`, PDBs of another signature and another age, and a matching
    one rewritten after linking)."""
    dll, pdb = name + ".dll", name + ".pdb"
    export = name.capitalize() + "Sample"
    path = BUILD_DIR + pdb
    image, _ = build_image(dll, True, timestamp, base, exports=[export], machine=machine,
                           debug=[Debug(DEBUG_TYPE_CODEVIEW, nb10_record(sig, age, path), True)])
    info = read_pe(image)
    w.put("images/" + dll, image)
    key = key_pdb20(sig, age)
    store = w.symbol(pdb, key, write_pdb20(pdb20_streams(sig, age)))
    w.images.append(image_record(
        dll, "SymPdb", info, exports=[export], pdb_format="2.00",
        pdb_name=pdb, pdb_path=path, pdb_sig=sig, pdb_sig_hex="%08X" % sig,
        pdb_age=age, pdb_key=key, store_pdb=store, loaded_pdb=pdb, symbol_files=[pdb]))
    if mismatches:
        w.mismatch("sig", pdb, dll, key, write_pdb20(pdb20_streams(sig ^ 0x3762, age)), "signature")
        w.mismatch("age", pdb, dll, key, write_pdb20(pdb20_streams(sig, age - 1)), "age")
        w.reindexed(pdb, key, write_pdb20(pdb20_streams(sig, age, info_age=age + 2)))


def add_dbgcv(w, name, timestamp, base, machine=MACHINE_I386, mismatches=False):
    """NAME.dll, stripped, whose MISC entry names NAME.dbg; the DBG holds NB11
    CodeView (and, with `mismatches`, DBGs of another timestamp and size)."""
    dll, dbg = name + ".dll", name + ".dbg"
    export = "DbgCvSample"
    image, layout = build_image(
        dll, True, timestamp, base, exports=[export], stripped=True, machine=machine,
        debug=[Debug(DEBUG_TYPE_MISC, misc_exename(dbg), True)], size_of_image=0xA000)
    info = read_pe(image)
    w.put("images/" + dll, image)
    entry = "DllMain" if machine == MACHINE_AMD64 else "_DllMain@12"
    cv = codeview_nb11("C:\\qsamples\\build\\%s.obj" % name,
                       [(SEG_CODE, layout["text_size"]), (SEG_DATA, layout["rdata_size"])],
                       [(entry, 1, 0), (export_name(export, machine), 1, 16)])
    entries = [(DEBUG_TYPE_CODEVIEW, cv), (DEBUG_TYPE_MISC, misc_exename(dll))]
    key = key_dbg(info["timestamp"], info["size_of_image"])
    store = w.symbol(dbg, key, build_dbg(info, entries, [export]))
    w.images.append(image_record(
        dll, "SymCv", info, exports=[export], dbg_name=dbg,
        dbg_key=key, store_dbg=store, loaded_image=dbg, symbol_files=[dbg]))
    if mismatches:
        w.mismatch("time", dbg, dll, key,
                   build_dbg(info, entries, [export], timestamp=info["timestamp"] + 0x100), "timestamp")
        w.mismatch("size", dbg, dll, key,
                   build_dbg(info, entries, [export], size_of_image=info["size_of_image"] + 0x1000),
                   "size_of_image")


def add_dbgpdb(w, name, sig, age, timestamp, base, machine=MACHINE_I386, mismatches=False):
    """NAME.dll, stripped, whose MISC entry names NAME.dbg; the DBG's NB10
    record names NAME.pdb, a PDB 2.00 (and, with `mismatches`, a PDB of
    another age)."""
    dll, dbg, pdb = name + ".dll", name + ".dbg", name + ".pdb"
    export = "DbgPdbSample"
    path = BUILD_DIR + pdb
    image, _ = build_image(
        dll, True, timestamp, base, exports=[export], stripped=True, machine=machine,
        debug=[Debug(DEBUG_TYPE_MISC, misc_exename(dbg), True)], size_of_image=0xC000)
    info = read_pe(image)
    w.put("images/" + dll, image)
    entries = [(DEBUG_TYPE_CODEVIEW, nb10_record(sig, age, path)), (DEBUG_TYPE_MISC, misc_exename(dll))]
    dkey = key_dbg(info["timestamp"], info["size_of_image"])
    pkey = key_pdb20(sig, age)
    store_dbg = w.symbol(dbg, dkey, build_dbg(info, entries, [export]))
    store_pdb = w.symbol(pdb, pkey, write_pdb20(pdb20_streams(sig, age)))
    w.images.append(image_record(
        dll, "SymPdb", info, exports=[export], pdb_format="2.00",
        pdb_name=pdb, pdb_path=path, pdb_sig=sig, pdb_sig_hex="%08X" % sig,
        pdb_age=age, pdb_key=pkey, store_pdb=store_pdb, dbg_name=dbg,
        dbg_key=dkey, store_dbg=store_dbg, loaded_image=dbg, loaded_pdb=pdb,
        symbol_files=[dbg, pdb]))
    if mismatches:
        w.mismatch("age", pdb, dll, pkey, write_pdb20(pdb20_streams(sig, age + 1)), "age")


def generate(out, clang):
    w = Writer(out)

    # 1. rsds.exe: clang + lld, RSDS record, PDB 7.00.
    add_rsds(w, clang, "rsds")

    # 2. nb10.dll: NB10 record in .rdata, PDB 2.00 written here.
    add_nb10(w, "nb10", 0x3A5F1C1E, 2, 0x3A5F1C20, 0x10000000, mismatches=True)

    # 3. dbgcv.dll: stripped, MISC names dbgcv.dbg; the DBG holds NB11 CodeView.
    add_dbgcv(w, "dbgcv", 0x39B4E2AF, 0x10100000, mismatches=True)

    # 4. dbgpdb.dll: stripped, MISC names dbgpdb.dbg; the DBG's NB10 record
    #    names dbgpdb.pdb. Age 0xB puts a hex letter into the store key.
    add_dbgpdb(w, "dbgpdb", 0x3B0C7D1A, 0xB, 0x3B0C7D1E, 0x10200000, mismatches=True)

    # 5. embcv.exe: NB11 CodeView after the last section, unmapped.
    def embedded_cv(layout):
        return codeview_nb11("C:\\qsamples\\build\\embcv.obj",
                             [(SEG_CODE, layout["text_size"]), (SEG_DATA, layout["rdata_size"])],
                             [("_mainCRTStartup", 1, 0)])
    size = len(embedded_cv({"text_size": 0, "rdata_size": 0}))
    image, _ = build_image("embcv.exe", False, 0x38D2F0AB, 0x400000,
                           debug=[Debug(DEBUG_TYPE_CODEVIEW, embedded_cv, False, size)])
    info = read_pe(image)
    w.put("images/embcv.exe", image)
    w.images.append(image_record("embcv.exe", "SymCv", info))

    # 6. coff.exe: COFF symbol table after the last section, referenced by the
    #    file header and by a COFF debug directory entry.
    text_size = 16
    symbols = coff_sample_symbols(text_size)
    size = len(coff_symbols_blob(symbols, {"text_rva": 0, "text_size": 1,
                                           "rdata_rva": 0, "rdata_size": 1}))
    image, _ = build_image("coff.exe", False, 0x37E6A4C9, 0x400000,
                           debug=[Debug(DEBUG_TYPE_COFF, lambda l: coff_symbols_blob(symbols, l),
                                        False, size)], coff_symbols=0)
    info = read_pe(image)
    w.put("images/coff.exe", image)
    w.images.append(image_record("coff.exe", "SymCoff", info,
                                 coff_symbols=[s[0] for s in symbols]))

    # 7. exports.dll: named exports, no debug directory.
    names = ["ExportAlpha", "ExportBeta", "ExportGamma"]
    image, _ = build_image("exports.dll", True, 0x3C1D5E8F, 0x10300000, exports=names)
    info = read_pe(image)
    w.put("images/exports.dll", image)
    w.images.append(image_record("exports.dll", "SymExport", info, exports=names,
                                 loaded_image="exports.dll"))

    # 8. bare.exe: nothing at all.
    image, _ = build_image("bare.exe", False, 0x3D2E6F70, 0x400000)
    info = read_pe(image)
    w.put("images/bare.exe", image)
    w.images.append(image_record("bare.exe", "SymNone", info, loaded_image=""))

    # The x64 images, PE32+, of the kinds that exist for them: what a 64-bit
    # debuggee's images look like to the symbol library.
    # 9. rsds64.exe: clang + lld for x64, RSDS record, PDB 7.00.
    add_rsds(w, clang, "rsds64")

    # 10. exports64.dll: named exports, no debug directory.
    names = ["Export64Alpha", "Export64Beta"]
    image, _ = build_image("exports64.dll", True, 0x4A3B2C1D, 0x180000000, exports=names,
                           machine=MACHINE_AMD64)
    info = read_pe(image)
    w.put("images/exports64.dll", image)
    w.images.append(image_record("exports64.dll", "SymExport", info, exports=names,
                                 loaded_image="exports64.dll"))

    # 11.-13. nb1064.dll, dbgcv64.dll, dbgpdb64.dll: the PDB 2.00 and DBG
    #    kinds in PE32+ images, so that a 64-bit debugger sees every kind. A
    #    DBG file records a 32-bit image base: these bases fit.
    add_nb10(w, "nb1064", 0x4C1D2E3F, 3, 0x4C1D2E40, 0x10400000, machine=MACHINE_AMD64)
    add_dbgcv(w, "dbgcv64", 0x4D2E3F40, 0x10500000, machine=MACHINE_AMD64)
    add_dbgpdb(w, "dbgpdb64", 0x4E3F4051, 0xC, 0x4E3F4052, 0x10600000, machine=MACHINE_AMD64)

    # 14. bare64.exe: nothing at all.
    image, _ = build_image("bare64.exe", False, 0x4B4C4D4E, 0x140000000, machine=MACHINE_AMD64)
    info = read_pe(image)
    w.put("images/bare64.exe", image)
    w.images.append(image_record("bare64.exe", "SymNone", info, loaded_image=""))

    write_manifests(w)


def ini_value(value):
    if isinstance(value, bool):
        return "1" if value else "0"
    if isinstance(value, list):
        return ",".join(value)
    if isinstance(value, str):
        return value.replace("/", "\\") if "/" in value else value
    return str(value)


def write_manifests(w):
    manifest = {"version": 1, "images": w.images, "mismatches": w.mismatches}
    w.put("manifest.json", (json.dumps(manifest, indent=1, sort_keys=True) + "\n").encode())

    ini = configparser.ConfigParser(interpolation=None)
    ini.optionxform = str
    ini["samples"] = {
        "images": ",".join(r["name"] for r in w.images),
        "mismatches": ",".join(m["id"] for m in w.mismatches),
    }
    for record in w.images:
        ini[record["name"]] = {k: ini_value(v) for k, v in sorted(record.items())}
    for record in w.mismatches:
        ini["mismatch." + record["id"]] = {k: ini_value(v) for k, v in sorted(record.items())}
    text = io.StringIO()
    # No blanks around "=": GetPrivateProfileString then needs no trimming.
    ini.write(text, space_around_delimiters=False)
    w.put("manifest.ini", text.getvalue().replace("\n", "\r\n").encode())


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", required=True, help="output directory")
    parser.add_argument("--clang", default="clang", help="clang driver (with lld) to build rsds.exe")
    parser.add_argument("--windows-path", help="the output directory as Windows programs see it "
                        "(under Wine: Z: and the host path); file.ptr samples are written only with it")
    args = parser.parse_args(argv)
    if shutil.which(args.clang) is None:
        parser.error("%s not found: rsds.exe needs clang and lld" % args.clang)
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    for sub in ("images", "symbols", "store", "mismatch", "reindexed"):
        shutil.rmtree(os.path.join(out, sub), ignore_errors=True)
    generate(out, args.clang)
    storecases.generate(out, args.windows_path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
