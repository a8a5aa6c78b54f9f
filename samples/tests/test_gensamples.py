"""Tests of the sample generator and the loopback store server.

Run from anywhere:  python3 -m unittest discover -s samples/tests -v

The files are checked with readers written here and with LLVM's tools
(llvm-readobj, llvm-pdbutil), not with the generator's own code. Wine-based
checks run only with QX3_SAMPLES_WINE=1.
"""

import configparser
import http.client
import json
import os
import re
import select
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.dirname(HERE)
GENERATOR = os.path.join(SAMPLES, "gensamples.py")
SERVER = os.path.join(SAMPLES, "serve_store.py")
MAKE_CERTS = os.path.join(os.path.dirname(SAMPLES), "dbghelp", "tests", "make-test-certs.sh")
CLANG = os.environ.get("QX3_CLANG", "clang")

# What each image is meant to be, stated independently of the generator.
EXPECTED_KIND = {
    "rsds.exe": "SymPdb", "nb10.dll": "SymPdb", "dbgcv.dll": "SymCv", "dbgpdb.dll": "SymPdb",
    "embcv.exe": "SymCv", "coff.exe": "SymCoff", "exports.dll": "SymExport", "bare.exe": "SymNone",
    "rsds64.exe": "SymPdb", "exports64.dll": "SymExport", "bare64.exe": "SymNone",
    "nb1064.dll": "SymPdb", "dbgcv64.dll": "SymCv", "dbgpdb64.dll": "SymPdb",
}
# The x64 (PE32+) images; every other one is i386 (PE32).
IMAGES_64 = {"rsds64.exe", "exports64.dll", "bare64.exe", "nb1064.dll", "dbgcv64.dll", "dbgpdb64.dll"}
IMAGES_32 = set(EXPECTED_KIND) - IMAGES_64
# Made by lld, not by the generator's own writer.
LLD_IMAGES = {"rsds.exe", "rsds64.exe"}
# Debug directory entry types: 1 COFF, 2 CodeView, 4 MISC, 16 REPRO (lld's /Brepro).
EXPECTED_DEBUG_TYPES = {
    "rsds.exe": [2, 16], "nb10.dll": [2], "dbgcv.dll": [4], "dbgpdb.dll": [4],
    "embcv.exe": [2], "coff.exe": [1], "exports.dll": [], "bare.exe": [],
    "rsds64.exe": [2, 16], "exports64.dll": [], "bare64.exe": [],
    "nb1064.dll": [2], "dbgcv64.dll": [4], "dbgpdb64.dll": [4],
}
SYMBOL_FILES = {"rsds.pdb", "nb10.pdb", "dbgcv.dbg", "dbgpdb.dbg", "dbgpdb.pdb", "rsds64.pdb",
                "nb1064.pdb", "dbgcv64.dbg", "dbgpdb64.dbg", "dbgpdb64.pdb"}
PDB70_FILES = {"rsds.pdb", "rsds64.pdb"}
# The stripped images and the DBG file each names.
DBG_OF = {"dbgcv.dll": "dbgcv.dbg", "dbgpdb.dll": "dbgpdb.dbg",
          "dbgcv64.dll": "dbgcv64.dbg", "dbgpdb64.dll": "dbgpdb64.dbg"}
PDB20_MAGIC = b"Microsoft C/C++ program database 2.00\r\n\x1aJG\0\0"

OUT = None        # first generator run
OUT_AGAIN = None  # second run, for the determinism check
TEMP = None


def run_generator(out):
    subprocess.run([sys.executable, GENERATOR, "--out", out, "--clang", CLANG],
                   check=True, timeout=60)


def setUpModule():
    global OUT, OUT_AGAIN, TEMP
    TEMP = tempfile.mkdtemp(prefix="qx3samples-")
    OUT = os.path.join(TEMP, "a")
    OUT_AGAIN = os.path.join(TEMP, "b")
    run_generator(OUT)
    run_generator(OUT_AGAIN)


def tearDownModule():
    shutil.rmtree(TEMP, ignore_errors=True)


def read(*parts):
    with open(os.path.join(OUT, *parts), "rb") as f:
        return f.read()


def tool(*args):
    return subprocess.run(list(args), check=True, capture_output=True, text=True,
                          timeout=30).stdout


# ---------------------------------------------------------------------------
# Independent readers.

def u16(data, off):
    return struct.unpack_from("<H", data, off)[0]


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def pe_headers(data):
    pe = u32(data, 0x3C)
    opt = pe + 24
    nsec = u16(data, pe + 6)
    opt_size = u16(data, pe + 20)
    sections = []
    for i in range(nsec):
        off = opt + opt_size + 40 * i
        name = data[off:off + 8].rstrip(b"\0").decode()
        vsize, rva, rsize, rptr = struct.unpack_from("<4I", data, off + 8)
        sections.append({"name": name, "vsize": vsize, "rva": rva, "rsize": rsize, "rptr": rptr,
                         "flags": u32(data, off + 36)})
    return {"pe": pe, "opt": opt, "sections": sections,
            "section_table": data[opt + opt_size:opt + opt_size + 40 * nsec]}


def image_checksum(data, field):
    """Sum of 16-bit words with end-around carry, skipping the CheckSum field,
    plus the file length."""
    total = 0
    padded = data + (b"\0" if len(data) % 2 else b"")
    for off in range(0, len(padded), 2):
        if off in (field, field + 2):
            continue
        total += u16(padded, off)
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def readobj_debug_entries(path):
    text = tool("llvm-readobj", "--coff-debug-directory", path)
    entries = []
    for block in re.findall(r"DebugEntry \{(.*?)\n  \}", text, re.S):
        fields = dict(re.findall(r"^\s+(\w+): (.*)$", block, re.M))
        entries.append({
            "type": int(re.search(r"\((0x[0-9A-F]+)\)", fields["Type"]).group(1), 16),
            "size": int(fields["SizeOfData"], 16),
            "address": int(fields["AddressOfRawData"], 16),
            "pointer": int(fields["PointerToRawData"], 16),
            "timestamp": int(re.search(r"\((0x[0-9A-F]+)\)", fields["TimeDateStamp"]).group(1), 16),
            "text": block,
        })
    return entries


def readobj_file_header(path):
    text = tool("llvm-readobj", "--file-headers", path)
    return {
        "timestamp": int(re.search(r"TimeDateStamp: .*\((0x[0-9A-F]+)\)", text).group(1), 16),
        "size_of_image": int(re.search(r"SizeOfImage: (\d+)", text).group(1)),
        "image_base": int(re.search(r"ImageBase: (0x[0-9A-F]+)", text).group(1), 16),
        "checksum": int(re.search(r"  CheckSum: (0x[0-9A-F]+|\d+)", text, re.I).group(1), 0),
        "stripped": "IMAGE_FILE_DEBUG_STRIPPED" in text,
        "symbol_table": int(re.search(r"PointerToSymbolTable: (0x[0-9A-F]+)", text).group(1), 16),
        "symbol_count": int(re.search(r"SymbolCount: (\d+)", text).group(1)),
        "machine": int(re.search(r"Machine: .*\((0x[0-9A-F]+)\)", text).group(1), 16),
    }


def pdbutil_summary(path):
    text = tool("llvm-pdbutil", "dump", "-summary", path)
    guid = re.search(r"GUID: \{([0-9A-F-]+)\}", text).group(1)
    age = int(re.search(r"Age: (\d+)", text).group(1))
    return guid, age


def pdbutil_dbi_age(path):
    text = tool("llvm-pdbutil", "bytes", "--stream-data=3:8@4", path)
    word = re.search(r"[0-9A-F]+: ([0-9A-F]{8})", text).group(1)
    return struct.unpack("<I", bytes.fromhex(word))[0]


def guid_from_readobj(entry_text):
    raw = bytes(int(b, 16) for b in re.search(r"PDBGUID: \(([0-9A-F ]+)\)", entry_text).group(1).split())
    d1, d2, d3 = struct.unpack_from("<IHH", raw)
    return "%08X-%04X-%04X-%s-%s" % (d1, d2, d3, raw[8:10].hex().upper(), raw[10:].hex().upper())


class Msf20:
    """Reads a PDB 2.00 file: header on page 0, 16-bit page numbers, the
    stream table's pages listed in the header."""

    def __init__(self, data):
        if not data.startswith(PDB20_MAGIC):
            raise ValueError("not a PDB 2.00 file")
        self.data = data
        self.page_size, self.fpm_page, self.page_count, self.table_size, _ = \
            struct.unpack_from("<I2H2I", data, 44)
        ps = self.page_size
        count = -(-self.table_size // ps)
        self.table_pages = list(struct.unpack_from("<%dH" % count, data, 60))
        table = b"".join(data[p * ps:(p + 1) * ps] for p in self.table_pages)[:self.table_size]
        nstreams, reserved = struct.unpack_from("<2H", table, 0)
        if reserved:
            raise ValueError("reserved word not zero")
        self.sizes = [u32(table, 4 + 8 * i) for i in range(nstreams)]
        cursor = 4 + 8 * nstreams
        self.stream_pages = []
        for size in self.sizes:
            n = -(-size // ps)
            self.stream_pages.append(list(struct.unpack_from("<%dH" % n, table, cursor)))
            cursor += 2 * n
        if cursor != self.table_size:
            raise ValueError("stream table size disagrees with its contents")

    def stream(self, index):
        ps = self.page_size
        raw = b"".join(self.data[p * ps:(p + 1) * ps] for p in self.stream_pages[index])
        return raw[:self.sizes[index]]

    def info(self):
        version, signature, age = struct.unpack_from("<3I", self.stream(1))
        return version, signature, age


def codeview_block_problems(block):
    """Checks a packed NB09/NB11 block; returns a list of problems (empty when
    valid) and the subsections found."""
    problems = []
    if block[:4] not in (b"NB09", b"NB11"):
        return ["signature %r" % block[:4]], []
    lfo_dir = u32(block, 4)
    if lfo_dir + 16 > len(block):
        return ["directory outside block"], []
    cb_header, cb_entry, count, next_dir, flags = struct.unpack_from("<2H3I", block, lfo_dir)
    if (cb_header, cb_entry, next_dir, flags) != (16, 12, 0, 0):
        problems.append("directory header %r" % ((cb_header, cb_entry, next_dir, flags),))
    subsections = []
    for i in range(count):
        kind, module, lfo, cb = struct.unpack_from("<2H2I", block, lfo_dir + 16 + 12 * i)
        if lfo + cb > lfo_dir or lfo < 8:
            problems.append("subsection %#x outside the data area" % kind)
        subsections.append((kind, module, block[lfo:lfo + cb]))
    end = lfo_dir + 16 + 12 * count
    if block[end:end + 4] != block[:4] or u32(block, end + 4) != len(block) or end + 8 != len(block):
        problems.append("trailer does not lead back to the block start")
    if not subsections or subsections[0][:2] != (0x120, 1):
        problems.append("first subsection is not sstModule of module 1")
    return problems, subsections


def public_names(subsections):
    names = []
    for kind, _, body in subsections:
        if kind != 0x12A:
            continue
        cb_symbols = u32(body, 4)
        pos, end = 16, 16 + cb_symbols
        while pos < end:
            reclen, rectyp = struct.unpack_from("<2H", body, pos)
            if rectyp == 0x1009:
                name_len = body[pos + 14]
                names.append(body[pos + 15:pos + 15 + name_len].decode())
            pos += 2 + reclen
    return names


def dbg_file(data):
    fields = struct.unpack_from("<4H8I", data, 0)
    sig, flags, machine, chars, ts, checksum, base, size, nsec, names_size, dir_size, salign = fields
    table_end = 48 + 40 * nsec
    entries = []
    dir_at = table_end + names_size
    for i in range(dir_size // 28):
        _, ets, _, _, kind, esize, address, pointer = struct.unpack_from("<2I2H4I", data, dir_at + 28 * i)
        entries.append({"type": kind, "timestamp": ets, "address": address,
                        "data": data[pointer:pointer + esize]})
    names = [n.decode() for n in data[table_end:table_end + names_size].split(b"\0") if n]
    return {"signature": sig, "machine": machine, "timestamp": ts, "checksum": checksum,
            "image_base": base, "size_of_image": size, "section_table": data[48:table_end],
            "exported_names": names, "debug": entries}


def nb10_fields(raw):
    if raw[:4] != b"NB10" or u32(raw, 4) != 0:
        raise ValueError("not an NB10 record")
    signature, age = struct.unpack_from("<2I", raw, 8)
    return signature, age, raw[16:raw.index(b"\0", 16)].decode()


def misc_name(raw):
    data_type, length, unicode_flag = struct.unpack_from("<2IB", raw, 0)
    if data_type != 1 or unicode_flag != 0 or length != len(raw) or length % 4:
        raise ValueError("bad MISC record")
    return raw[12:raw.index(b"\0", 12)].decode()


# ---------------------------------------------------------------------------

class ImageTests(unittest.TestCase):
    def test_images_directory_holds_exactly_the_expected_images(self):
        self.assertEqual(set(os.listdir(os.path.join(OUT, "images"))), set(EXPECTED_KIND))

    def test_every_image_is_an_i386_pe32_or_x64_pe32plus_with_a_consistent_layout(self):
        for name in EXPECTED_KIND:
            with self.subTest(image=name):
                data = read("images", name)
                self.assertEqual(data[:2], b"MZ")
                h = pe_headers(data)
                wide = name in IMAGES_64
                self.assertEqual(data[h["pe"]:h["pe"] + 4], b"PE\0\0")
                self.assertEqual(u16(data, h["pe"] + 4), 0x8664 if wide else 0x14C)
                self.assertEqual(u16(data, h["opt"]), 0x20B if wide else 0x10B)
                self.assertEqual(u16(data, h["pe"] + 20), 240 if wide else 224)
                entry, = struct.unpack_from("<I", data, h["opt"] + 16)
                salign, falign = struct.unpack_from("<2I", data, h["opt"] + 32)
                size_of_image, size_of_headers = struct.unpack_from("<2I", data, h["opt"] + 56)
                self.assertEqual(size_of_headers % falign, 0)
                end = size_of_headers
                for s in h["sections"]:
                    self.assertEqual(s["rva"] % salign, 0)
                    if s["rsize"]:
                        self.assertEqual(s["rptr"] % falign, 0)
                        self.assertGreaterEqual(s["rptr"], end)
                        self.assertLessEqual(s["rptr"] + s["rsize"], len(data))
                        end = s["rptr"] + s["rsize"]
                last = h["sections"][-1]
                self.assertEqual(size_of_image, last["rva"] + -(-last["vsize"] // salign) * salign)
                text = [s for s in h["sections"] if s["flags"] & 0x20000000]
                self.assertEqual(len(text), 1)
                t = text[0]
                self.assertTrue(t["rva"] <= entry < t["rva"] + t["vsize"])
                code = data[t["rptr"] + entry - t["rva"]:][:8]
                # Our stubs: xor eax,eax; ret  or  mov eax,1; ret 12 (x64:
                # ret). lld's code is only required to be inside .text.
                if name not in LLD_IMAGES:
                    stubs = [b"\x31\xC0\xC3", b"\xB8\x01\0\0\0" + (b"\xC3" if wide else b"\xC2\x0C\0")]
                    self.assertTrue(any(code.startswith(stub) for stub in stubs), code.hex())

    def test_generated_images_carry_a_correct_checksum(self):
        for name in EXPECTED_KIND:
            if name in LLD_IMAGES:
                continue  # lld leaves it 0
            with self.subTest(image=name):
                data = read("images", name)
                field = pe_headers(data)["opt"] + 64
                self.assertEqual(u32(data, field), image_checksum(data, field))

    def test_dlls_are_dlls_and_exes_are_not(self):
        for name in EXPECTED_KIND:
            with self.subTest(image=name):
                data = read("images", name)
                is_dll = bool(u16(data, pe_headers(data)["pe"] + 22) & 0x2000)
                self.assertEqual(is_dll, name.endswith(".dll"))

    def test_debug_directories_hold_the_expected_entry_types(self):
        for name, types in EXPECTED_DEBUG_TYPES.items():
            with self.subTest(image=name):
                entries = readobj_debug_entries(os.path.join(OUT, "images", name))
                self.assertEqual([e["type"] for e in entries], types)

    def test_only_the_dbg_images_are_debug_stripped(self):
        for name in EXPECTED_KIND:
            with self.subTest(image=name):
                header = readobj_file_header(os.path.join(OUT, "images", name))
                self.assertEqual(header["stripped"], name in DBG_OF)

    def test_misc_entry_of_a_stripped_image_names_its_dbg_file(self):
        for name, dbg in DBG_OF.items():
            with self.subTest(image=name):
                data = read("images", name)
                entry, = readobj_debug_entries(os.path.join(OUT, "images", name))
                self.assertNotEqual(entry["address"], 0)
                self.assertEqual(misc_name(data[entry["pointer"]:entry["pointer"] + entry["size"]]), dbg)

    def test_exports_dlls_list_their_named_exports(self):
        for name, exports in (("exports.dll", ["ExportAlpha", "ExportBeta", "ExportGamma"]),
                              ("exports64.dll", ["Export64Alpha", "Export64Beta"])):
            with self.subTest(image=name):
                text = tool("llvm-readobj", "--coff-exports", os.path.join(OUT, "images", name))
                self.assertEqual(re.findall(r"Name: (\w+)", text), exports)

    def test_bare_images_have_no_exports_and_no_debug_data(self):
        for name in ("bare.exe", "bare64.exe"):
            with self.subTest(image=name):
                text = tool("llvm-readobj", "--coff-exports", "--coff-debug-directory",
                            os.path.join(OUT, "images", name))
                self.assertNotIn("Export {", text)
                self.assertNotIn("DebugEntry", text)

    def test_coff_exe_symbol_table_is_reachable_from_header_and_debug_entry(self):
        path = os.path.join(OUT, "images", "coff.exe")
        names = re.findall(r"Name: (\S+)", tool("llvm-readobj", "--symbols", path))
        self.assertEqual(names, [".text", "_mainCRTStartup", "_QuillmarCoffSampleFunction", "_coff_local"])
        header = readobj_file_header(path)
        entry, = readobj_debug_entries(path)
        data = read("images", "coff.exe")
        count, lva_first = struct.unpack_from("<2I", data, entry["pointer"])
        self.assertEqual(count, header["symbol_count"])
        self.assertEqual(entry["pointer"] + lva_first, header["symbol_table"])
        self.assertEqual(entry["address"], 0)
        self.assertLessEqual(entry["pointer"] + entry["size"], len(data))

    def test_embedded_codeview_is_a_valid_nb11_block(self):
        entry, = readobj_debug_entries(os.path.join(OUT, "images", "embcv.exe"))
        data = read("images", "embcv.exe")
        block = data[entry["pointer"]:entry["pointer"] + entry["size"]]
        self.assertEqual(block[:4], b"NB11")
        problems, subsections = codeview_block_problems(block)
        self.assertEqual(problems, [])
        self.assertEqual(public_names(subsections), ["_mainCRTStartup"])

    def test_rsds_records_match_the_pdbs_that_lld_wrote(self):
        for image, pdb in (("rsds.exe", "rsds.pdb"), ("rsds64.exe", "rsds64.pdb")):
            with self.subTest(image=image):
                entry = readobj_debug_entries(os.path.join(OUT, "images", image))[0]
                guid, age = pdbutil_summary(os.path.join(OUT, "symbols", pdb))
                self.assertEqual(guid_from_readobj(entry["text"]), guid)
                self.assertEqual(int(re.search(r"PDBAge: (\d+)", entry["text"]).group(1)), age)
                self.assertEqual(re.search(r"PDBFileName: (\S+)", entry["text"]).group(1).rsplit("\\", 1)[-1], pdb)
                self.assertEqual(pdbutil_dbi_age(os.path.join(OUT, "symbols", pdb)), age)


class Pdb20Tests(unittest.TestCase):
    FILES = ["symbols/nb10.pdb", "symbols/dbgpdb.pdb", "mismatch/sig/nb10.pdb",
             "mismatch/age/nb10.pdb", "mismatch/age/dbgpdb.pdb"]

    def test_pdb20_files_are_well_formed(self):
        for rel in self.FILES:
            with self.subTest(file=rel):
                data = read(*rel.split("/"))
                msf = Msf20(data)
                self.assertEqual(msf.page_size, 0x400)
                self.assertEqual(len(data), msf.page_count * msf.page_size)
                self.assertGreaterEqual(len(msf.sizes), 4)
                owners = [0, msf.fpm_page] + msf.table_pages + [p for s in msf.stream_pages for p in s]
                self.assertEqual(sorted(owners), list(range(msf.page_count)), "each page used once")
                fpm = data[msf.fpm_page * msf.page_size:][:msf.page_size]
                for page in range(msf.page_count):
                    self.assertFalse(fpm[page // 8] >> (page % 8) & 1, "page %d marked free" % page)
                self.assertEqual(msf.info()[0], 19970604)

    def test_dbi_stream_repeats_the_info_age(self):
        for rel in self.FILES:
            with self.subTest(file=rel):
                msf = Msf20(read(*rel.split("/")))
                dbi = msf.stream(3)
                self.assertEqual(struct.unpack_from("<iI", dbi), (-1, 19970606))
                self.assertEqual(u32(dbi, 8), msf.info()[2])

    def test_nb10_image_record_matches_its_pdb(self):
        for name in ("nb10", "nb1064"):
            with self.subTest(image=name):
                entry, = readobj_debug_entries(os.path.join(OUT, "images", name + ".dll"))
                self.assertNotEqual(entry["address"], 0)
                data = read("images", name + ".dll")
                sig, age, path = nb10_fields(data[entry["pointer"]:entry["pointer"] + entry["size"]])
                self.assertEqual(path.rsplit("\\", 1)[-1], name + ".pdb")
                self.assertEqual(Msf20(read("symbols", name + ".pdb")).info()[1:], (sig, age))

    def test_dbg_nb10_record_matches_dbgpdb_pdb(self):
        for name in ("dbgpdb", "dbgpdb64"):
            with self.subTest(dbg=name):
                dbg = dbg_file(read("symbols", name + ".dbg"))
                cv = [e for e in dbg["debug"] if e["type"] == 2]
                self.assertEqual(len(cv), 1)
                sig, age, path = nb10_fields(cv[0]["data"])
                self.assertEqual(path.rsplit("\\", 1)[-1], name + ".pdb")
                self.assertEqual(Msf20(read("symbols", name + ".pdb")).info()[1:], (sig, age))


class DbgTests(unittest.TestCase):
    def test_dbg_headers_match_their_images(self):
        for image, dbg_name in DBG_OF.items():
            with self.subTest(dbg=dbg_name):
                dbg = dbg_file(read("symbols", dbg_name))
                header = readobj_file_header(os.path.join(OUT, "images", image))
                data = read("images", image)
                self.assertEqual(dbg["signature"], 0x4944)
                self.assertEqual(dbg["machine"], header["machine"])
                self.assertEqual(dbg["timestamp"], header["timestamp"])
                self.assertEqual(dbg["size_of_image"], header["size_of_image"])
                self.assertEqual(dbg["image_base"], header["image_base"])
                self.assertEqual(dbg["checksum"], u32(data, pe_headers(data)["opt"] + 64))
                self.assertEqual(dbg["section_table"], pe_headers(data)["section_table"])
                for entry in dbg["debug"]:
                    self.assertEqual(entry["address"], 0)
                    self.assertEqual(entry["timestamp"], header["timestamp"])

    def test_dbgcv_dbg_holds_nb11_codeview_with_publics(self):
        dbg = dbg_file(read("symbols", "dbgcv.dbg"))
        cv = [e for e in dbg["debug"] if e["type"] == 2]
        self.assertEqual(len(cv), 1)
        problems, subsections = codeview_block_problems(cv[0]["data"])
        self.assertEqual(problems, [])
        self.assertEqual(public_names(subsections), ["_DllMain@12", "_DbgCvSample@0"])
        self.assertEqual(dbg["exported_names"], ["DbgCvSample"])

    def test_dbg_misc_entries_name_the_image(self):
        for image, dbg_name in DBG_OF.items():
            with self.subTest(dbg=dbg_name):
                misc = [e for e in dbg_file(read("symbols", dbg_name))["debug"] if e["type"] == 4]
                self.assertEqual([misc_name(e["data"]) for e in misc], [image])


def expected_store_key(name, data):
    """The store directory key, from the file's own contents."""
    if name.endswith(".dbg"):
        d = dbg_file(data)
        return "%08X%x" % (d["timestamp"], d["size_of_image"])
    if data.startswith(PDB20_MAGIC):
        _, sig, age = Msf20(data).info()
        return "%08X%x" % (sig, age)
    with tempfile.NamedTemporaryFile(suffix=".pdb") as f:
        f.write(data)
        f.flush()
        guid, age = pdbutil_summary(f.name)
    return guid.replace("-", "") + "%x" % age


class StoreTests(unittest.TestCase):
    def test_symbols_directory_is_flat_and_complete(self):
        self.assertEqual(set(os.listdir(os.path.join(OUT, "symbols"))), SYMBOL_FILES)

    def test_store_holds_every_symbol_file_under_its_key(self):
        found = set()
        root = os.path.join(OUT, "store")
        for dirpath, _, files in os.walk(root):
            for f in files:
                found.add(os.path.relpath(os.path.join(dirpath, f), root).replace(os.sep, "/"))
        expected = set()
        for name in SYMBOL_FILES:
            data = read("symbols", name)
            rel = "%s/%s/%s" % (name, expected_store_key(name, data), name)
            expected.add(rel)
            if rel in found:
                self.assertEqual(read("store", *rel.split("/")), data, rel)
        self.assertEqual(found, expected)

    def test_store_keys_follow_the_symbol_store_spelling(self):
        # Upper-case GUID/signature/timestamp, lower-case age and size.
        for name in SYMBOL_FILES:
            key, = os.listdir(os.path.join(OUT, "store", name))
            with self.subTest(key=key):
                if name in PDB70_FILES:
                    self.assertRegex(key, r"^[0-9A-F]{32}[1-9a-f][0-9a-f]*$")
                else:
                    self.assertRegex(key, r"^[0-9A-F]{8}[1-9a-f][0-9a-f]*$")
        self.assertTrue(os.path.isdir(os.path.join(OUT, "store", "dbgcv.dbg", "39B4E2AFa000")))
        self.assertTrue(os.path.isdir(os.path.join(OUT, "store", "dbgpdb.pdb", "3B0C7D1Ab")))


class MismatchTests(unittest.TestCase):
    def pdb20(self, *parts):
        return Msf20(read(*parts)).info()

    def test_nb10_signature_variant_differs_only_in_signature(self):
        good, bad = self.pdb20("symbols", "nb10.pdb"), self.pdb20("mismatch", "sig", "nb10.pdb")
        self.assertNotEqual(good[1], bad[1])
        self.assertEqual(good[2], bad[2])

    def test_age_variants_differ_only_in_age(self):
        for name in ("nb10.pdb", "dbgpdb.pdb"):
            with self.subTest(file=name):
                good, bad = self.pdb20("symbols", name), self.pdb20("mismatch", "age", name)
                self.assertEqual(good[1], bad[1])
                self.assertNotEqual(good[2], bad[2])
        for name in PDB70_FILES:
            with self.subTest(file=name):
                good = pdbutil_summary(os.path.join(OUT, "symbols", name))
                bad_path = os.path.join(OUT, "mismatch", "age", name)
                bad = pdbutil_summary(bad_path)
                self.assertEqual(good[0], bad[0])
                self.assertNotEqual(good[1], bad[1])
                self.assertEqual(pdbutil_dbi_age(bad_path), bad[1])

    def test_rsds_guid_variants_differ_only_in_guid(self):
        for name in PDB70_FILES:
            with self.subTest(file=name):
                good = pdbutil_summary(os.path.join(OUT, "symbols", name))
                bad = pdbutil_summary(os.path.join(OUT, "mismatch", "guid", name))
                self.assertNotEqual(good[0], bad[0])
                self.assertEqual(good[1], bad[1])

    def test_dbg_variants_differ_in_timestamp_or_size(self):
        good = dbg_file(read("symbols", "dbgcv.dbg"))
        time_ = dbg_file(read("mismatch", "time", "dbgcv.dbg"))
        size = dbg_file(read("mismatch", "size", "dbgcv.dbg"))
        self.assertNotEqual(time_["timestamp"], good["timestamp"])
        self.assertEqual(time_["size_of_image"], good["size_of_image"])
        self.assertEqual(size["timestamp"], good["timestamp"])
        self.assertNotEqual(size["size_of_image"], good["size_of_image"])

    def test_mismatch_stores_put_each_variant_under_the_matching_key(self):
        for reason in ("sig", "age", "guid", "time", "size"):
            for name in os.listdir(os.path.join(OUT, "mismatch", reason)):
                if name == "store":
                    continue
                with self.subTest(variant="%s/%s" % (reason, name)):
                    key = expected_store_key(name, read("symbols", name))
                    self.assertEqual(read("mismatch", reason, "store", name, key, name),
                                     read("mismatch", reason, name))


class ManifestTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(OUT, "manifest.json")) as f:
            cls.manifest = json.load(f)
        cls.images = {r["name"]: r for r in cls.manifest["images"]}
        cls.ini = configparser.ConfigParser(interpolation=None)
        cls.ini.optionxform = str
        cls.ini.read(os.path.join(OUT, "manifest.ini"))

    def test_manifest_lists_every_image_with_its_intended_kind(self):
        self.assertEqual({n: r["kind"] for n, r in self.images.items()}, EXPECTED_KIND)

    def test_manifest_numbers_agree_with_the_images(self):
        for name, record in self.images.items():
            with self.subTest(image=name):
                header = readobj_file_header(os.path.join(OUT, "images", name))
                self.assertEqual(record["timestamp"], header["timestamp"])
                self.assertEqual(record["size_of_image"], header["size_of_image"])
                self.assertEqual(record["timestamp_hex"], "%08X" % header["timestamp"])
                self.assertEqual(record["image_base"], header["image_base"])
                self.assertEqual(record["machine"], header["machine"])
                self.assertEqual(record["bits"], 64 if name in IMAGES_64 else 32)

    def test_manifest_pdb_identity_agrees_with_the_pdbs(self):
        for image, pdb in (("rsds.exe", "rsds.pdb"), ("rsds64.exe", "rsds64.pdb")):
            guid, age = pdbutil_summary(os.path.join(OUT, "symbols", pdb))
            self.assertEqual((self.images[image]["pdb_guid"], self.images[image]["pdb_age"]), (guid, age))
        for image, pdb in (("nb10.dll", "nb10.pdb"), ("dbgpdb.dll", "dbgpdb.pdb")):
            _, sig, age = Msf20(read("symbols", pdb)).info()
            self.assertEqual((self.images[image]["pdb_sig"], self.images[image]["pdb_age"]), (sig, age))

    def test_manifest_store_paths_exist(self):
        for name, record in self.images.items():
            for key in ("store_pdb", "store_dbg"):
                if record[key]:
                    with self.subTest(image=name, key=key):
                        self.assertTrue(os.path.isfile(os.path.join(OUT, "store", *record[key].split("/"))))
        for m in self.manifest["mismatches"]:
            with self.subTest(mismatch=m["id"]):
                self.assertTrue(os.path.isfile(os.path.join(OUT, *m["file"].split("/"))))
                self.assertTrue(os.path.isfile(os.path.join(OUT, *m["store"].split("/"),
                                                            *m["store_path"].split("/"))))

    def test_ini_agrees_with_json(self):
        self.assertEqual(self.ini["samples"]["images"].split(","), [r["name"] for r in self.manifest["images"]])
        for name, record in self.images.items():
            section = self.ini[name]
            with self.subTest(image=name):
                self.assertEqual(section["kind"], record["kind"])
                self.assertEqual(int(section["symtype"]), record["symtype"])
                self.assertEqual(int(section["timestamp"]), record["timestamp"])
                self.assertEqual(section["pdb_key"], record["pdb_key"])
                self.assertEqual(section["store_pdb"], record["store_pdb"].replace("/", "\\"))
                self.assertEqual(section["store_dbg"], record["store_dbg"].replace("/", "\\"))
                self.assertEqual(section["loaded_image"], record["loaded_image"])
                self.assertEqual(int(section["image_base"]), record["image_base"])
                self.assertEqual(int(section["bits"]), record["bits"])
        ids = self.ini["samples"]["mismatches"].split(",")
        self.assertEqual(ids, [m["id"] for m in self.manifest["mismatches"]])
        for m in self.manifest["mismatches"]:
            self.assertEqual(self.ini["mismatch." + m["id"]]["file"], m["file"].replace("/", "\\"))


class DeterminismTests(unittest.TestCase):
    def test_two_runs_write_identical_files(self):
        def tree(root):
            out = {}
            for dirpath, _, files in os.walk(root):
                for f in files:
                    path = os.path.join(dirpath, f)
                    with open(path, "rb") as fh:
                        out[os.path.relpath(path, root)] = fh.read()
            return out
        first, second = tree(OUT), tree(OUT_AGAIN)
        self.assertEqual(sorted(first), sorted(second))
        differing = [p for p in first if first[p] != second[p]]
        self.assertEqual(differing, [])


# ---------------------------------------------------------------------------
# serve_store.py

class Server:
    def __init__(self, root, *args, lifetime=30):
        self.proc = subprocess.Popen(
            [sys.executable, SERVER, root, "--lifetime", str(lifetime)] + list(args),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        if not ready:
            self.stop()
            raise RuntimeError("server printed no port")
        line = self.proc.stdout.readline().decode()
        match = re.match(r"PORT (\d+)\n$", line)
        if not match:
            self.stop()
            raise RuntimeError("unexpected first line %r" % line)
        self.port = int(match.group(1))

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=10)
        self.proc.stdout.close()
        self.proc.stderr.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def raw_get(port, path, timeout=5):
    """Sends a GET and reads until the server closes; returns (status line,
    headers dict, body)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(("GET %s HTTP/1.0\r\nHost: x\r\n\r\n" % path).encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode().split("\r\n")
    headers = {k.lower(): v.strip() for k, _, v in (l.partition(":") for l in lines[1:])}
    return lines[0], headers, body


class ServerTests(unittest.TestCase):
    NB10 = "/nb10.pdb/%s/nb10.pdb"

    @classmethod
    def setUpClass(cls):
        cls.store = os.path.join(OUT, "store")
        cls.key = os.listdir(os.path.join(cls.store, "nb10.pdb"))[0]
        cls.path = cls.NB10 % cls.key
        cls.body = read("store", "nb10.pdb", cls.key, "nb10.pdb")

    def test_serves_store_files_and_404_for_others(self):
        with Server(self.store) as srv:
            with urllib.request.urlopen(srv.url(self.path), timeout=5) as r:
                self.assertEqual(r.read(), self.body)
            for missing in ("/nb10.pdb/00000000/nb10.pdb", "/nb10.pdb/", "/../gensamples.py",
                            "/%2e%2e/manifest.json"):
                with self.subTest(path=missing):
                    with self.assertRaises(urllib.error.HTTPError) as cm:
                        urllib.request.urlopen(srv.url(missing), timeout=5)
                    self.assertEqual(cm.exception.code, 404)

    def test_paths_are_case_sensitive_unless_asked(self):
        upper = self.path.upper()
        with Server(self.store) as srv:
            with self.assertRaises(urllib.error.HTTPError):
                urllib.request.urlopen(srv.url(upper), timeout=5)
        with Server(self.store, "--ignore-case") as srv:
            with urllib.request.urlopen(srv.url(upper), timeout=5) as r:
                self.assertEqual(r.read(), self.body)

    def test_listens_on_loopback_only(self):
        if not os.path.exists("/proc/net/tcp"):
            self.skipTest("no /proc/net/tcp")
        with Server(self.store) as srv:
            with open("/proc/net/tcp") as f:
                table = f.read().splitlines()[1:]
            listening = [l.split()[1] for l in table if l.split()[3] == "0A"]
            mine = [a for a in listening if int(a.split(":")[1], 16) == srv.port]
            self.assertEqual(mine, ["0100007F:%04X" % srv.port])

    def test_mute_accepts_and_never_answers(self):
        with Server(self.store, "--mute") as srv:
            with socket.create_connection(("127.0.0.1", srv.port), timeout=5) as s:
                s.sendall(("GET %s HTTP/1.0\r\n\r\n" % self.path).encode())
                s.settimeout(0.5)
                start = time.monotonic()
                with self.assertRaises(socket.timeout):
                    s.recv(1)
                self.assertGreaterEqual(time.monotonic() - start, 0.45)

    def test_mute_prefix_leaves_other_paths_answered(self):
        with Server(self.store, "--mute=/rsds.pdb/") as srv:
            with urllib.request.urlopen(srv.url(self.path), timeout=5) as r:
                self.assertEqual(r.read(), self.body)

    def test_cut_sends_full_length_then_fewer_bytes(self):
        with Server(self.store, "--cut", "100") as srv:
            status, headers, body = raw_get(srv.port, self.path)
        self.assertIn(" 200 ", status)
        self.assertEqual(int(headers["content-length"]), len(self.body))
        self.assertEqual(body, self.body[:100])

    def test_cut_makes_urllib_report_an_incomplete_read(self):
        with Server(self.store, "--cut", "10") as srv:
            with urllib.request.urlopen(srv.url(self.path), timeout=5) as r:
                with self.assertRaises(http.client.IncompleteRead):
                    r.read()

    def test_redirect_answers_302_with_the_rewritten_location(self):
        with Server(self.store, "--redirect-prefix", "/old/=/") as srv:
            status, headers, _ = raw_get(srv.port, "/old" + self.path)
            self.assertIn(" 302 ", status)
            self.assertEqual(headers["location"], self.path)
            with urllib.request.urlopen(srv.url("/old" + self.path), timeout=5) as r:
                self.assertEqual(r.read(), self.body)

    def test_status_applies_under_its_prefix_only(self):
        with Server(self.store, "--status", "503=/nb10.pdb/", "--status", "403=/secret/") as srv:
            with self.assertRaises(urllib.error.HTTPError) as cm:
                urllib.request.urlopen(srv.url(self.path), timeout=5)
            self.assertEqual(cm.exception.code, 503)
            rsds_key = os.listdir(os.path.join(self.store, "rsds.pdb"))[0]
            with urllib.request.urlopen(srv.url("/rsds.pdb/%s/rsds.pdb" % rsds_key), timeout=5) as r:
                self.assertEqual(r.status, 200)

    def test_status_without_prefix_applies_everywhere(self):
        with Server(self.store, "--status", "500") as srv:
            with self.assertRaises(urllib.error.HTTPError) as cm:
                urllib.request.urlopen(srv.url("/anything"), timeout=5)
            self.assertEqual(cm.exception.code, 500)

    def test_log_records_each_request(self):
        log = os.path.join(TEMP, "requests.log")
        with Server(self.store, "--log", log) as srv:
            urllib.request.urlopen(srv.url(self.path), timeout=5).close()
            with self.assertRaises(urllib.error.HTTPError):
                urllib.request.urlopen(srv.url("/nope"), timeout=5)
        with open(log) as f:
            self.assertEqual(f.read().splitlines(),
                             ["GET %s 200 %d" % (self.path, len(self.body)), "GET /nope 404"])

    def test_serves_https_with_the_given_certificate(self):
        certs = os.path.join(TEMP, "certs")
        subprocess.run(["bash", MAKE_CERTS, certs], check=True)
        with Server(self.store, "--cert", os.path.join(certs, "localhost.pem"),
                    "--key", os.path.join(certs, "server.key")) as srv:
            context = ssl.create_default_context(cafile=os.path.join(certs, "ca.pem"))
            url = "https://localhost:%d%s" % (srv.port, self.path)
            with urllib.request.urlopen(url, timeout=5, context=context) as r:
                self.assertEqual(r.read(), self.body)
            # The test CA is trusted by this client only; the system's are not enough.
            with self.assertRaises(urllib.error.URLError):
                urllib.request.urlopen(url, timeout=5, context=ssl.create_default_context())
            # The server still answers after a client refused it.
            with urllib.request.urlopen(url, timeout=5, context=context) as r:
                self.assertEqual(r.status, 200)

    def test_trickle_sends_the_reply_a_byte_at_a_time(self):
        with Server(self.store, "--trickle", "5") as srv:
            with socket.create_connection(("127.0.0.1", srv.port), timeout=5) as s:
                s.sendall(b"GET /nothing HTTP/1.0\r\n\r\n")
                chunks = []
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    chunks.append(chunk)
        reply = b"".join(chunks)
        self.assertTrue(reply.startswith(b"HTTP/1.0 404 "), reply[:20])
        # Loopback may now and then join two bytes; it cannot join many.
        self.assertGreater(len(chunks), len(reply) // 4)

    def test_trickle_body_sends_the_head_at_once(self):
        with Server(self.store, "--trickle-body", "5") as srv:
            with socket.create_connection(("127.0.0.1", srv.port), timeout=5) as s:
                s.sendall(("GET %s HTTP/1.0\r\n\r\n" % self.path).encode())
                head = b""
                while b"\r\n\r\n" not in head:
                    head += s.recv(65536)
                self.assertTrue(head.startswith(b"HTTP/1.0 200 "))
                body = head.partition(b"\r\n\r\n")[2]
                self.assertLessEqual(len(body), 2)
                body += b"".join(s.recv(65536) for _ in range(10))
        self.assertEqual(body, self.body[:len(body)])
        self.assertLess(len(body), 40)

    def test_server_exits_after_its_lifetime_even_with_a_muted_client(self):
        srv = Server(self.store, "--mute", lifetime=0.5)
        try:
            s = socket.create_connection(("127.0.0.1", srv.port), timeout=5)
            s.sendall(b"GET / HTTP/1.0\r\n\r\n")
            srv.proc.wait(timeout=5)
            s.close()
        finally:
            srv.stop()


# ---------------------------------------------------------------------------
# Optional: load the images under Wine and let Wine's own dbghelp classify
# them. Needs wine, wine64 and the i686 and x86_64 mingw-w64 compilers; takes
# about half a minute.

WINE_CHECKER = r"""
#include <windows.h>
#include <dbghelp.h>
#include <stdio.h>
#include <string.h>
/* symcheck PATH IMAGE...: prints "name SymType" for each image, or
   "name load-failed"; then "dll-ok name" for each DLL that LoadLibrary maps. */
int main(int argc, char **argv) {
  HANDLE p = GetCurrentProcess();
  int i;
  if (!SymInitialize(p, argv[1], FALSE)) return 2;
  for (i = 2; i < argc; i++) {
    IMAGEHLP_MODULE64 m;
    DWORD64 base = SymLoadModule64(p, NULL, argv[i], NULL, 0, 0);
    memset(&m, 0, sizeof m);
    m.SizeOfStruct = sizeof m;
    if (!base || !SymGetModuleInfo64(p, base, &m)) { printf("%s load-failed\n", argv[i]); continue; }
    printf("%s %d\n", argv[i], (int)m.SymType);
    SymUnloadModule64(p, base);
    if (strstr(argv[i], ".dll") && LoadLibraryA(argv[i])) printf("dll-ok %s\n", argv[i]);
  }
  return 0;
}
"""


@unittest.skipUnless(os.environ.get("QX3_SAMPLES_WINE") == "1", "set QX3_SAMPLES_WINE=1 to run")
class WineTests(unittest.TestCase):
    """A win32 prefix with the i386 images; Wine64Tests below does the same
    for the x64 images in a win64 prefix."""
    ARCH = "win32"
    CC = "i686-w64-mingw32-gcc"
    WINE = "wine"
    WINESERVER = "wineserver"
    ENV = {}
    IMAGES = IMAGES_32

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="qx3samples-wine-")
        cls.env = dict(os.environ, WINEPREFIX=os.path.join(cls.dir, "prefix"), WINEARCH=cls.ARCH,
                       WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", **cls.ENV)
        src = os.path.join(cls.dir, "symcheck.c")
        with open(src, "w") as f:
            f.write(WINE_CHECKER)
        subprocess.run([cls.CC, "-O1", "-o", os.path.join(cls.dir, "symcheck.exe"),
                        src, "-ldbghelp"], check=True, timeout=60)
        subprocess.run([cls.WINE, "wineboot", "-i"], env=cls.env, check=True, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        subprocess.run([cls.WINESERVER, "-k"], env=cls.env, timeout=30)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def wine(self, *args):
        return subprocess.run([self.WINE] + list(args), env=self.env, cwd=os.path.join(OUT, "images"),
                              capture_output=True, text=True, timeout=60)

    def test_exes_run_and_return_zero(self):
        for name in sorted(self.IMAGES):
            if name.endswith(".exe"):
                with self.subTest(image=name):
                    self.assertEqual(self.wine(name).returncode, 0)

    def test_wine_dbghelp_classifies_each_image_and_loader_maps_each_dll(self):
        symbols = "Z:" + os.path.join(OUT, "symbols").replace("/", "\\")
        result = self.wine(os.path.join(self.dir, "symcheck.exe"), symbols, *sorted(self.IMAGES))
        types = {}
        for line in result.stdout.splitlines():
            first, _, second = line.partition(" ")
            if first != "dll-ok":
                types[first] = second
        wanted = {"SymPdb": "3", "SymCv": "2", "SymCoff": "1", "SymExport": "4"}
        for name in self.IMAGES:
            if EXPECTED_KIND[name] in wanted:
                with self.subTest(image=name):
                    self.assertEqual(types.get(name), wanted[EXPECTED_KIND[name]])
        for name in self.IMAGES:
            if name.endswith(".dll"):
                self.assertIn("dll-ok " + name, result.stdout)


class Wine64Tests(WineTests):
    # Debian's wine wrapper picks the 32-bit loader when it exists: name the 64-bit one.
    ARCH = "win64"
    CC = "x86_64-w64-mingw32-gcc"
    WINE = "/usr/lib/wine/wine64"
    WINESERVER = "/usr/lib/wine/wineserver64"
    ENV = {"WINELOADER": WINE, "WINESERVER": WINESERVER}
    IMAGES = IMAGES_64


if __name__ == "__main__":
    unittest.main()
