"""Tests of the sample generator, the loopback store server and the latency proxy.

Run from anywhere:  python3 -m unittest discover -s samples/tests -v

The files are checked with readers written here and with LLVM's tools
(llvm-readobj, llvm-pdbutil), not with the generator's own code. Wine-based
checks run only with QX3_SAMPLES_WINE=1.
"""

import configparser
import contextlib
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
import uuid

from sampleout import SAMPLES, files_below, output, path, read

SERVER = os.path.join(SAMPLES, "serve_store.py")
PROXY = os.path.join(SAMPLES, "latency_proxy.py")
MAKE_CERTS = os.path.join(os.path.dirname(SAMPLES), "dbghelp", "tests", "make-test-certs.sh")

# What each image is meant to be, stated independently of the generator: its
# symbol kind, its debug directory entry types (1 COFF, 2 CodeView, 4 MISC, 16
# REPRO from lld's /Brepro) and its named exports.
IMAGES = {
    "rsds.exe": ("SymPdb", [2, 16], []), "rsds64.exe": ("SymPdb", [2, 16], []),
    "nb10.dll": ("SymPdb", [2], ["Nb10Sample"]), "nb1064.dll": ("SymPdb", [2], ["Nb1064Sample"]),
    "dbgcv.dll": ("SymCv", [4], ["DbgCvSample"]), "dbgcv64.dll": ("SymCv", [4], ["DbgCvSample"]),
    "dbgpdb.dll": ("SymPdb", [4], ["DbgPdbSample"]), "dbgpdb64.dll": ("SymPdb", [4], ["DbgPdbSample"]),
    "exports.dll": ("SymExport", [], ["ExportAlpha", "ExportBeta", "ExportGamma"]),
    "exports64.dll": ("SymExport", [], ["Export64Alpha", "Export64Beta"]),
    "embcv.exe": ("SymCv", [2], []), "coff.exe": ("SymCoff", [1], []),
    "bare.exe": ("SymNone", [], []), "bare64.exe": ("SymNone", [], []),
}
EXPECTED_KIND = {name: kind for name, (kind, _, _) in IMAGES.items()}
# The x64 (PE32+) images; every other one is i386 (PE32).
IMAGES_64 = {"rsds64.exe", "exports64.dll", "bare64.exe", "nb1064.dll", "dbgcv64.dll", "dbgpdb64.dll"}
IMAGES_32 = set(IMAGES) - IMAGES_64
# Made by lld, not by the generator's own writer.
LLD_IMAGES = {"rsds.exe", "rsds64.exe"}
SYMBOL_FILES = {"rsds.pdb", "nb10.pdb", "dbgcv.dbg", "dbgpdb.dbg", "dbgpdb.pdb", "rsds64.pdb",
                "nb1064.pdb", "dbgcv64.dbg", "dbgpdb64.dbg", "dbgpdb64.pdb"}
PDB70_FILES = {"rsds.pdb", "rsds64.pdb"}
PDB20_FILES = {name for name in SYMBOL_FILES if name.endswith(".pdb")} - PDB70_FILES
# The stripped images and the DBG file each names.
DBG_OF = {"dbgcv.dll": "dbgcv.dbg", "dbgpdb.dll": "dbgpdb.dbg",
          "dbgcv64.dll": "dbgcv64.dbg", "dbgpdb64.dll": "dbgpdb64.dbg"}
# The files that fail to match their image, by reason.
MISMATCHES = {"sig": ["nb10.pdb"], "age": ["nb10.pdb", "dbgpdb.pdb", "rsds.pdb", "rsds64.pdb"],
              "guid": ["rsds.pdb", "rsds64.pdb"], "time": ["dbgcv.dbg"], "size": ["dbgcv.dbg"]}
PDB20_MAGIC = b"Microsoft C/C++ program database 2.00\r\n\x1aJG\0\0"

OUT = None  # the Wine tests run the images where they were written


def setUpModule():
    global OUT
    OUT = output()


def tool(*args):
    return subprocess.run(list(args), check=True, capture_output=True, text=True, timeout=30).stdout


# ---------------------------------------------------------------------------
# Independent readers.

def u16(data, off):
    return struct.unpack_from("<H", data, off)[0]


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def pe_headers(data):
    pe = u32(data, 0x3C)
    opt, nsec, opt_size = pe + 24, u16(data, pe + 6), u16(data, pe + 20)
    sections = []
    for i in range(nsec):
        off = opt + opt_size + 40 * i
        vsize, rva, rsize, rptr = struct.unpack_from("<4I", data, off + 8)
        sections.append({"vsize": vsize, "rva": rva, "rsize": rsize, "rptr": rptr, "flags": u32(data, off + 36)})
    return {"pe": pe, "opt": opt, "sections": sections,
            "section_table": data[opt + opt_size:opt + opt_size + 40 * nsec]}


def image_checksum(data, field):
    """Sum of 16-bit words with end-around carry, skipping the CheckSum field,
    plus the file length."""
    total, padded = 0, data + b"\0"
    for off in range(0, len(data), 2):
        if off not in (field, field + 2):
            total += u16(padded, off)
            total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def readobj_fields(text):
    """The value of each `Name: value` line of llvm-readobj's output (the first
    line of a name wins), as a number where it ends in one."""
    fields = {}
    for name, value in re.findall(r"^\s*(\w+): (.*)$", text, re.M):
        number = re.search(r"(?:^|\()(0x[0-9A-F]+|\d+)\)?$", value)
        if number:
            value = int(number.group(1), 16 if "x" in number.group(1) else 10)
        fields.setdefault(name, value)
    return fields


def readobj_header(rel):
    return readobj_fields(tool("llvm-readobj", "--file-headers", path(rel)))


def debug_entries(rel):
    """The debug directory entries of an image, as llvm-readobj reads them, or
    of a DBG file, each with its data."""
    data = read(rel)
    if rel.endswith(".dbg"):
        return dbg_file(data)["debug"]
    text = tool("llvm-readobj", "--coff-debug-directory", path(rel))
    entries = [readobj_fields(block) for block in re.findall(r"DebugEntry \{(.*?)\n  \}", text, re.S)]
    return [dict(e, data=data[e["PointerToRawData"]:][:e["SizeOfData"]]) for e in entries]


def pdbutil_summary(rel):
    text = tool("llvm-pdbutil", "dump", "-summary", path(rel))
    return re.search(r"GUID: \{([0-9A-F-]+)\}", text).group(1), int(re.search(r"Age: (\d+)", text).group(1))


def pdbutil_dbi_age(rel):
    text = tool("llvm-pdbutil", "bytes", "--stream-data=3:8@4", path(rel))
    return struct.unpack("<I", bytes.fromhex(re.search(r"[0-9A-F]+: ([0-9A-F]{8})", text).group(1)))[0]


class Msf20:
    """Reads a PDB 2.00 file: header on page 0, 16-bit page numbers, the
    stream table's pages listed in the header."""

    def __init__(self, data):
        if not data.startswith(PDB20_MAGIC):
            raise ValueError("not a PDB 2.00 file")
        self.data = data
        self.page_size, self.fpm_page, self.page_count, size, _ = struct.unpack_from("<I2H2I", data, 44)
        self.table_pages = list(struct.unpack_from("<%dH" % -(-size // self.page_size), data, 60))
        table = self.pages(self.table_pages)[:size]
        count, reserved = struct.unpack_from("<2H", table, 0)
        if reserved:
            raise ValueError("reserved word not zero")
        self.sizes = [u32(table, 4 + 8 * i) for i in range(count)]
        cursor = 4 + 8 * count
        self.stream_pages = []
        for stream_size in self.sizes:
            n = -(-stream_size // self.page_size)
            self.stream_pages.append(list(struct.unpack_from("<%dH" % n, table, cursor)))
            cursor += 2 * n
        if cursor != size:
            raise ValueError("stream table size disagrees with its contents")

    def pages(self, numbers):
        return b"".join(self.data[p * self.page_size:(p + 1) * self.page_size] for p in numbers)

    def stream(self, index):
        return self.pages(self.stream_pages[index])[:self.sizes[index]]

    def info(self):
        """(version, signature, age)"""
        return struct.unpack_from("<3I", self.stream(1))


def nb11_publics(block):
    """Checks a packed NB11 CodeView block (raising ValueError) and returns the
    names of the S_PUB32 records in its sstGlobalPub."""
    lfo_dir = u32(block, 4)
    cb_header, cb_entry, count, next_dir, flags = struct.unpack_from("<2H3I", block, lfo_dir)
    if block[:4] != b"NB11" or (cb_header, cb_entry, next_dir, flags) != (16, 12, 0, 0):
        raise ValueError("signature or directory header")
    end = lfo_dir + 16 + 12 * count
    if block[end:] != b"NB11" + struct.pack("<I", len(block)):
        raise ValueError("trailer does not lead back to the block start")
    publics = []
    for i in range(count):
        kind, module, lfo, cb = struct.unpack_from("<2H2I", block, lfo_dir + 16 + 12 * i)
        if lfo < 8 or lfo + cb > lfo_dir or (i == 0 and (kind, module) != (0x120, 1)):
            raise ValueError("subsection %#x outside the data area, or not sstModule of module 1 first" % kind)
        pos = lfo + 16
        while kind == 0x12A and pos < lfo + 16 + u32(block, lfo + 4):
            reclen, rectyp = struct.unpack_from("<2H", block, pos)
            if rectyp == 0x1009:
                publics.append(block[pos + 15:pos + 15 + block[pos + 14]].decode())
            pos += 2 + reclen
    return publics


def dbg_file(data):
    """A DBG file's header fields (named as llvm-readobj names an image's),
    section table, exported names and debug entries."""
    sig, _, machine, _, ts, checksum, base, size, nsec, names_size, dir_size, _ = \
        struct.unpack_from("<4H8I", data, 0)
    names_at = 48 + 40 * nsec
    entries = []
    for i in range(dir_size // 28):
        _, ets, _, _, kind, esize, address, pointer = \
            struct.unpack_from("<2I2H4I", data, names_at + names_size + 28 * i)
        entries.append({"Type": kind, "TimeDateStamp": ets, "AddressOfRawData": address,
                        "data": data[pointer:pointer + esize]})
    return {"signature": sig, "Machine": machine, "TimeDateStamp": ts, "CheckSum": checksum, "ImageBase": base,
            "SizeOfImage": size, "section_table": data[48:names_at], "debug": entries,
            "exported_names": [n.decode() for n in data[names_at:names_at + names_size].split(b"\0") if n]}


def misc_name(raw):
    data_type, length, unicode_flag = struct.unpack_from("<2IB", raw, 0)
    if data_type != 1 or unicode_flag != 0 or length != len(raw) or length % 4:
        raise ValueError("bad MISC record")
    return raw[12:raw.index(b"\0", 12)].decode()


def identity(rel):
    """What a symbol file's store key is made of, read from the file: a DBG
    file's (timestamp, size of image), a PDB 2.00's (signature, age), a PDB
    7.00's (GUID, age)."""
    data = read(rel)
    if rel.endswith(".dbg"):
        return dbg_file(data)["TimeDateStamp"], dbg_file(data)["SizeOfImage"]
    return Msf20(data).info()[1:] if rel.split("/")[-1] in PDB20_FILES else pdbutil_summary(rel)


def store_key(rel):
    first, second = identity(rel)
    return (first.replace("-", "") if isinstance(first, str) else "%08X" % first) + "%x" % second


# ---------------------------------------------------------------------------

class ImageTests(unittest.TestCase):
    def test_each_image_is_a_consistent_pe_of_its_machine_with_the_intended_headers(self):
        self.assertEqual(set(os.listdir(path("images"))), set(IMAGES))
        for name, (_, debug_types, exports) in IMAGES.items():
            with self.subTest(image=name):
                rel, data, wide = "images/" + name, read("images/" + name), name in IMAGES_64
                h = pe_headers(data)
                machine, opt_size, flags = (u16(data, h["pe"] + off) for off in (4, 20, 22))
                self.assertEqual((data[:2], data[h["pe"]:h["pe"] + 4], machine, u16(data, h["opt"]), opt_size),
                                 (b"MZ", b"PE\0\0") + ((0x8664, 0x20B, 240) if wide else (0x14C, 0x10B, 224)))
                # IMAGE_FILE_DLL, IMAGE_FILE_DEBUG_STRIPPED
                self.assertEqual((bool(flags & 0x2000), bool(flags & 0x200)),
                                 (name.endswith(".dll"), name in DBG_OF))
                self.assertEqual([e["Type"] for e in debug_entries(rel)], debug_types)
                self.assertEqual(re.findall(r"Name: (\w+)", tool("llvm-readobj", "--coff-exports", path(rel))),
                                 exports)
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
                t, = [s for s in h["sections"] if s["flags"] & 0x20000000]
                self.assertTrue(t["rva"] <= entry < t["rva"] + t["vsize"])
                if name in LLD_IMAGES:
                    continue  # lld's code need only be inside .text; lld leaves the checksum 0
                # Our stubs: xor eax,eax; ret  or  mov eax,1; ret 12 (x64: ret).
                code = data[t["rptr"] + entry - t["rva"]:][:8]
                stubs = [b"\x31\xC0\xC3", b"\xB8\x01\0\0\0" + (b"\xC3" if wide else b"\xC2\x0C\0")]
                self.assertTrue(any(code.startswith(stub) for stub in stubs), code.hex())
                self.assertEqual(u32(data, h["opt"] + 64), image_checksum(data, h["opt"] + 64))

    def test_import_tables_name_each_dll_and_function_for_both_machines(self):
        sys.path.insert(0, SAMPLES)
        import gensamples
        imports = [("one.dll", ["First", "Second"]), ("two.dll", ["Third"])]
        with tempfile.TemporaryDirectory() as work:
            for machine in (gensamples.MACHINE_I386, gensamples.MACHINE_AMD64):
                with self.subTest(machine=machine):
                    image, _ = gensamples.build_image("imports.exe", False, 1, 0x400000, imports=imports,
                                                      machine=machine)
                    name = os.path.join(work, "imports.exe")
                    with open(name, "wb") as f:
                        f.write(image)
                    text = tool("llvm-readobj", "--coff-imports", name)
                    self.assertEqual(re.findall(r"Name: (\S+)|Symbol: (\w+)", text),
                                     [("one.dll", ""), ("", "First"), ("", "Second"), ("two.dll", ""), ("", "Third")])

    def test_coff_exe_symbol_table_is_reachable_from_header_and_debug_entry(self):
        names = re.findall(r"Name: (\S+)", tool("llvm-readobj", "--symbols", path("images/coff.exe")))
        self.assertEqual(names, [".text", "_mainCRTStartup", "_QuillmarCoffSampleFunction", "_coff_local"])
        header = readobj_header("images/coff.exe")
        entry, = debug_entries("images/coff.exe")
        count, lva_first = struct.unpack_from("<2I", entry["data"])
        self.assertEqual((count, entry["PointerToRawData"] + lva_first),
                         (header["SymbolCount"], header["PointerToSymbolTable"]))
        self.assertEqual((entry["AddressOfRawData"], len(entry["data"])), (0, entry["SizeOfData"]))

    def test_codeview_blocks_are_valid_nb11_with_the_expected_publics(self):
        for rel, publics in (("images/embcv.exe", ["_mainCRTStartup"]),
                             ("symbols/dbgcv.dbg", ["_DllMain@12", "_DbgCvSample@0"]),
                             ("symbols/dbgcv64.dbg", ["DllMain", "DbgCvSample"])):
            with self.subTest(file=rel):
                block, = [e["data"] for e in debug_entries(rel) if e["Type"] == 2]
                self.assertEqual(nb11_publics(block), publics)

    def test_nb10_and_rsds_records_carry_the_identity_of_the_pdb_they_name(self):
        for rel in ("images/nb10.dll", "images/nb1064.dll", "symbols/dbgpdb.dbg", "symbols/dbgpdb64.dbg",
                    "images/rsds.exe", "images/rsds64.exe"):
            with self.subTest(file=rel):
                entry = [e for e in debug_entries(rel) if e["Type"] == 2]
                self.assertEqual(len(entry), 1)
                pdb = rel.split("/")[1].split(".")[0] + ".pdb"
                if pdb in PDB70_FILES:
                    guid = str(uuid.UUID(bytes_le=bytes.fromhex(entry[0]["PDBGUID"].strip("()")))).upper()
                    name, record = entry[0]["PDBFileName"], (guid, entry[0]["PDBAge"])
                    self.assertEqual(pdbutil_dbi_age("symbols/" + pdb), record[1])
                else:  # NB10, a zero offset, signature, age, PDB path
                    raw = entry[0]["data"]
                    self.assertEqual(raw[:8], b"NB10\0\0\0\0")
                    record, name = struct.unpack_from("<2I", raw, 8), raw[16:raw.index(b"\0", 16)].decode()
                # An image's record is mapped; a DBG file has no addresses.
                self.assertEqual(entry[0]["AddressOfRawData"] != 0, rel.startswith("images/"))
                self.assertEqual(name.rsplit("\\", 1)[-1], pdb)
                self.assertEqual(tuple(record), identity("symbols/" + pdb))

    def test_each_stripped_image_and_its_dbg_file_name_each_other_and_agree_on_the_headers(self):
        for image, dbg_name in DBG_OF.items():
            with self.subTest(dbg=dbg_name):
                entry, = debug_entries("images/" + image)
                self.assertNotEqual(entry["AddressOfRawData"], 0)
                self.assertEqual(misc_name(entry["data"]), dbg_name)
                dbg, header = dbg_file(read("symbols/" + dbg_name)), readobj_header("images/" + image)
                self.assertEqual(dbg["signature"], 0x4944)
                for field in ("Machine", "TimeDateStamp", "SizeOfImage", "ImageBase"):
                    self.assertEqual(dbg[field], header[field], field)
                data = read("images/" + image)
                self.assertEqual(dbg["CheckSum"], u32(data, pe_headers(data)["opt"] + 64))
                self.assertEqual(dbg["section_table"], pe_headers(data)["section_table"])
                self.assertEqual(dbg["exported_names"], IMAGES[image][2])
                for e in dbg["debug"]:
                    self.assertEqual((e["AddressOfRawData"], e["TimeDateStamp"]), (0, header["TimeDateStamp"]))
                self.assertEqual([misc_name(e["data"]) for e in dbg["debug"] if e["Type"] == 4], [image])


class SymbolFileTests(unittest.TestCase):
    def test_every_pdb20_file_is_a_well_formed_msf_whose_dbi_repeats_the_age(self):
        files = ["symbols/" + n for n in PDB20_FILES]
        files += ["mismatch/%s/%s" % (r, n) for r, names in MISMATCHES.items() for n in names if n in PDB20_FILES]
        for rel in files:
            with self.subTest(file=rel):
                data = read(rel)
                msf = Msf20(data)
                self.assertEqual((msf.page_size, len(data)), (0x400, msf.page_count * msf.page_size))
                self.assertGreaterEqual(len(msf.sizes), 4)
                owners = [0, msf.fpm_page] + msf.table_pages + [p for s in msf.stream_pages for p in s]
                self.assertEqual(sorted(owners), list(range(msf.page_count)), "each page used once")
                fpm = msf.pages([msf.fpm_page])
                for page in range(msf.page_count):
                    self.assertFalse(fpm[page // 8] >> (page % 8) & 1, "page %d marked free" % page)
                self.assertEqual(msf.info()[0], 19970604)
                self.assertEqual(struct.unpack_from("<iII", msf.stream(3)), (-1, 19970606, msf.info()[2]))

    def test_symbols_and_store_hold_every_symbol_file_under_its_key(self):
        self.assertEqual(set(os.listdir(path("symbols"))), SYMBOL_FILES)
        expected = set()
        for name in SYMBOL_FILES:
            key = store_key("symbols/" + name)
            # Upper-case GUID, signature or timestamp; lower-case age or size.
            self.assertRegex(key, r"^[0-9A-F]{%d}[1-9a-f][0-9a-f]*$" % (32 if name in PDB70_FILES else 8))
            expected.add("%s/%s/%s" % (name, key, name))
            self.assertEqual(read("store/%s/%s/%s" % (name, key, name)), read("symbols/" + name), name)
        self.assertEqual(files_below("store"), expected)
        # Two keys spelled out, in case the readers here got a field wrong too.
        self.assertTrue({"dbgcv.dbg/39B4E2AFa000/dbgcv.dbg", "dbgpdb.pdb/3B0C7D1Ab/dbgpdb.pdb"} <= expected)

    def test_each_mismatch_differs_only_as_named_and_is_stored_under_the_key_it_fails(self):
        for reason, names in MISMATCHES.items():
            self.assertEqual(set(os.listdir(path("mismatch/" + reason))), set(names) | {"store"})
            stored = set()
            for name in names:
                with self.subTest(file="%s/%s" % (reason, name)):
                    good, bad = identity("symbols/" + name), identity("mismatch/%s/%s" % (reason, name))
                    differs = 1 if reason in ("age", "size") else 0  # the key's second part or first
                    self.assertNotEqual(good[differs], bad[differs])
                    self.assertEqual(good[1 - differs], bad[1 - differs])
                    if name in PDB70_FILES:  # the DBI stream carries the age too
                        self.assertEqual(pdbutil_dbi_age("mismatch/%s/%s" % (reason, name)), bad[1])
                    rel = "%s/%s/%s" % (name, store_key("symbols/" + name), name)
                    stored.add(rel)
                    self.assertEqual(read("mismatch/%s/store/%s" % (reason, rel)),
                                     read("mismatch/%s/%s" % (reason, name)))
            self.assertEqual(files_below("mismatch/%s/store" % reason), stored)


class ManifestTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(path("manifest.json")) as f:
            cls.manifest = json.load(f)

    def test_manifest_describes_each_image_and_mismatch_as_found_on_disk(self):
        images = {r["name"]: r for r in self.manifest["images"]}
        self.assertEqual({n: r["kind"] for n, r in images.items()}, EXPECTED_KIND)
        for name, r in images.items():
            with self.subTest(image=name):
                h = readobj_header("images/" + name)
                fields = ("timestamp", "timestamp_hex", "size_of_image", "image_base", "machine", "bits")
                self.assertEqual([r[k] for k in fields], [h["TimeDateStamp"], "%08X" % h["TimeDateStamp"],
                                 h["SizeOfImage"], h["ImageBase"], h["Machine"], 64 if name in IMAGES_64 else 32])
                pdb = name.split(".")[0] + ".pdb" if r["kind"] == "SymPdb" else ""
                for field, file in (("store_pdb", pdb), ("store_dbg", DBG_OF.get(name, ""))):
                    self.assertEqual(r[field], file and "%s/%s/%s" % (file, store_key("symbols/" + file), file))
                if pdb:
                    self.assertEqual((r["pdb_guid"] if pdb in PDB70_FILES else r["pdb_sig"], r["pdb_age"]),
                                     tuple(identity("symbols/" + pdb)))
                    self.assertEqual(r["pdb_key"], store_key("symbols/" + pdb))
        self.assertEqual(sorted((m["reason"], m["name"]) for m in self.manifest["mismatches"]),
                         sorted((reason, n) for reason, names in MISMATCHES.items() for n in names))
        for m in self.manifest["mismatches"]:
            with self.subTest(mismatch=m["id"]):
                self.assertTrue(os.path.isfile(path(m["file"])))
                self.assertTrue(os.path.isfile(path(m["store"] + "/" + m["store_path"])))

    def test_manifest_ini_repeats_the_json_with_backslashed_paths(self):
        ini = configparser.ConfigParser(interpolation=None)
        ini.optionxform = str
        ini.read(path("manifest.ini"))
        self.assertEqual(ini["samples"]["images"].split(","), [r["name"] for r in self.manifest["images"]])
        self.assertEqual(ini["samples"]["mismatches"].split(","), [m["id"] for m in self.manifest["mismatches"]])
        for r in self.manifest["images"]:
            for key in ("kind", "symtype", "timestamp", "pdb_key", "store_pdb", "store_dbg", "loaded_image",
                        "image_base", "bits"):
                with self.subTest(image=r["name"], key=key):
                    self.assertEqual(ini[r["name"]][key], str(r[key]).replace("/", "\\"))
        for m in self.manifest["mismatches"]:
            self.assertEqual(ini["mismatch." + m["id"]]["file"], m["file"].replace("/", "\\"))


class DeterminismTests(unittest.TestCase):
    def test_two_runs_write_identical_files(self):
        names = files_below("")
        self.assertEqual(names, files_below("", run=1))
        self.assertEqual([n for n in sorted(names) if read(n) != read(n, run=1)], [])


# ---------------------------------------------------------------------------
# serve_store.py

@contextlib.contextmanager
def server(*args, lifetime=30):
    """Runs serve_store.py on the store; yields its process, with the port it
    printed as .port."""
    proc = subprocess.Popen([sys.executable, SERVER, path("store"), "--lifetime", str(lifetime)] + list(args),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        ready, _, _ = select.select([proc.stdout], [], [], 10)
        match = ready and re.match(r"PORT (\d+)\n$", proc.stdout.readline().decode())
        if not match:
            raise RuntimeError("server printed no port")
        proc.port = int(match.group(1))
        yield proc
    finally:
        if proc.poll() is None:
            proc.kill()
        proc.wait(timeout=10)
        proc.stdout.close()


def raw_get(port, url_path, timeout=5):
    """Sends a GET and reads until the server closes; returns (status line,
    headers dict, body, the chunks as received)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(("GET %s HTTP/1.0\r\nHost: x\r\n\r\n" % url_path).encode())
        chunks = list(iter(lambda: s.recv(65536), b""))
    head, _, body = b"".join(chunks).partition(b"\r\n\r\n")
    lines = head.decode().split("\r\n")
    return lines[0], {k.lower(): v.strip() for k, _, v in (l.partition(":") for l in lines[1:])}, body, chunks


class ServerTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.url_of = {rel.split("/")[0]: "/" + rel for rel in files_below("store")}
        cls.body_of = {name: read("store" + url) for name, url in cls.url_of.items()}
        cls.path, cls.body = cls.url_of["nb10.pdb"], cls.body_of["nb10.pdb"]

    def fetch(self, srv, url_path):
        """(status code, body) of a GET."""
        status, _, body, _ = raw_get(srv.port, url_path)
        return int(status.split()[1]), body

    def assert_muted(self, port, url_path):
        with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
            s.sendall(("GET %s HTTP/1.0\r\n\r\n" % url_path).encode())
            s.settimeout(0.5)
            start = time.monotonic()
            with self.assertRaises(socket.timeout):
                s.recv(1)
            self.assertGreaterEqual(time.monotonic() - start, 0.45)

    def test_serves_on_loopback_applying_each_rule_under_its_prefix_only_and_logs_each_request(self):
        log = os.path.join(tempfile.mkdtemp(prefix="qx3log-"), "requests.log")
        self.addCleanup(shutil.rmtree, os.path.dirname(log))
        rsds, rsds_body, cut = self.url_of["rsds.pdb"], self.body_of["rsds.pdb"], self.url_of["dbgpdb.pdb"]
        with server("--log", log, "--status", "503=/nb10.pdb/", "--redirect-prefix", "/old/=/",
                    "--mute=/dbgcv.dbg/", "--cut", "100=/dbgpdb.pdb/") as srv:
            self.assertEqual(self.fetch(srv, rsds), (200, rsds_body))
            # Other keys, directories, paths out of the store and other case are not found.
            for missing in ("/rsds.pdb/00000000/rsds.pdb", "/rsds.pdb/", "/../gensamples.py",
                            "/%2e%2e/manifest.json", rsds.upper()):
                with self.subTest(path=missing):
                    self.assertEqual(self.fetch(srv, missing)[0], 404)
            if os.path.exists("/proc/net/tcp"):
                with open("/proc/net/tcp") as f:
                    listening = [l.split()[1] for l in f.read().splitlines()[1:] if l.split()[3] == "0A"]
                self.assertEqual([a for a in listening if int(a.split(":")[1], 16) == srv.port],
                                 ["0100007F:%04X" % srv.port])
            self.assertEqual(self.fetch(srv, self.path)[0], 503)
            status, headers, _, _ = raw_get(srv.port, "/old" + rsds)
            self.assertEqual((status.split()[1], headers["location"]), ("302", rsds))
            with urllib.request.urlopen("http://127.0.0.1:%d/old%s" % (srv.port, rsds), timeout=5) as r:
                self.assertEqual(r.read(), rsds_body)
            # A cut reply announces the whole file and sends its first bytes only.
            status, headers, body, _ = raw_get(srv.port, cut)
            self.assertIn(" 200 ", status)
            self.assertEqual(int(headers["content-length"]), len(self.body_of["dbgpdb.pdb"]))
            self.assertEqual(body, self.body_of["dbgpdb.pdb"][:100])
            with urllib.request.urlopen("http://127.0.0.1:%d%s" % (srv.port, cut), timeout=5) as r:
                with self.assertRaises(http.client.IncompleteRead):
                    r.read()
            self.assert_muted(srv.port, self.url_of["dbgcv.dbg"])
        with open(log) as f:
            lines = f.read().splitlines()
        self.assertEqual(len(lines), 13)  # one per request, the redirected one counting twice
        self.assertEqual(lines[:2], ["GET %s 200 %d" % (rsds, len(rsds_body)), "GET /rsds.pdb/00000000/rsds.pdb 404"])

    def test_ignore_case_finds_a_path_in_other_case(self):
        with server("--ignore-case") as srv:
            self.assertEqual(self.fetch(srv, self.path.upper()), (200, self.body))

    def test_rules_without_prefix_apply_everywhere_and_a_muted_client_does_not_outlive_the_server(self):
        with server("--status", "500") as srv:
            self.assertEqual(self.fetch(srv, "/anything")[0], 500)
        with server("--mute", lifetime=1.5) as srv:
            self.assert_muted(srv.port, self.path)
            srv.wait(timeout=5)

    def test_serves_https_with_the_given_certificate(self):
        with tempfile.TemporaryDirectory() as certs:
            subprocess.run(["bash", MAKE_CERTS, certs], check=True)
            with server("--cert", os.path.join(certs, "localhost.pem"),
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

    def test_keep_alive_serves_a_connection_across_a_404_and_counts_requests_and_connections(self):
        with tempfile.TemporaryDirectory() as work:
            stats = os.path.join(work, "stats")
            with server("--keep-alive", "--stats", stats) as srv:
                connection = http.client.HTTPConnection("127.0.0.1", srv.port, timeout=5)
                for url_path, status in (("/missing", 404), (self.path, 200), (self.path, 200)):
                    connection.request("GET", url_path)
                    reply = connection.getresponse()
                    self.assertEqual((reply.status, reply.version), (status, 11))
                    reply.read()
                connection.close()
                self.assertEqual(self.fetch(srv, self.path), (200, self.body))
                with open(stats) as f:
                    self.assertEqual(f.read(), "requests 4\nconnections 2\n")

    def test_latency_proxy_relays_each_way_late_a_new_connection_later_and_counts_connections(self):
        delay = 0.1
        with tempfile.TemporaryDirectory() as work, server("--keep-alive") as srv:
            stats = os.path.join(work, "stats")
            proxy = subprocess.Popen([sys.executable, PROXY, str(srv.port), "--delay-ms", str(delay * 1000),
                                      "--stats", stats, "--lifetime", "30"], stdout=subprocess.PIPE)
            self.addCleanup(proxy.wait, 10)
            self.addCleanup(proxy.kill)
            self.addCleanup(proxy.stdout.close)
            port = int(re.match(r"PORT (\d+)\n$", proxy.stdout.readline().decode()).group(1))
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
            # A round trip on a new connection costs two, on a kept one one.
            for rounds in (2, 1):
                start = time.monotonic()
                connection.request("GET", self.path)
                reply = connection.getresponse()
                self.assertEqual(reply.read(), self.body)
                self.assertGreaterEqual(time.monotonic() - start, rounds * 2 * delay)
            connection.close()
            with open(stats) as f:
                self.assertEqual(f.read(), "connections 1\n")

    def test_trickle_sends_the_reply_a_byte_at_a_time_and_trickle_body_the_head_at_once(self):
        with server("--trickle", "5=/nothing", "--trickle-body", "5=/nb10.pdb/") as srv:
            status, _, _, chunks = raw_get(srv.port, "/nothing")
            self.assertTrue(status.startswith("HTTP/1.0 404 "), status)
            # Loopback may now and then join two bytes; it cannot join many.
            self.assertGreater(len(chunks), len(b"".join(chunks)) // 4)
            with socket.create_connection(("127.0.0.1", srv.port), timeout=5) as s:
                s.sendall(("GET %s HTTP/1.0\r\n\r\n" % self.path).encode())
                parts = [s.recv(65536)]
                while b"\r\n\r\n" not in b"".join(parts):
                    parts.append(s.recv(65536))
                head = b"".join(parts)
                self.assertTrue(head.startswith(b"HTTP/1.0 200 "))
                self.assertLessEqual(len(parts), 2, "the head came a byte at a time")
                body = head.partition(b"\r\n\r\n")[2]
                self.assertLessEqual(len(body), 2)
                body += b"".join(s.recv(65536) for _ in range(10))
        self.assertEqual(body, self.body[:len(body)])
        self.assertLess(len(body), 40)


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
