"""Tests of the store forms and damaged files that storecases.py adds to the
samples. Cabinets are read back with a reader written here (and zlib for
the deflate data), not with the generator's code.

Run from anywhere:  python3 -m unittest discover -s samples/tests -v
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.dirname(HERE)
GENERATOR = os.path.join(SAMPLES, "gensamples.py")
CLANG = os.environ.get("QX3_CLANG", "clang")
WINDOWS_PATH = "Z:\\samples\\out"

sys.path.insert(0, SAMPLES)
import storecases  # noqa: E402

OUT = None
TEMP = None


def setUpModule():
    global OUT, TEMP
    TEMP = tempfile.mkdtemp(prefix="qx3storecases-")
    OUT = os.path.join(TEMP, "out")
    subprocess.run([sys.executable, GENERATOR, "--out", OUT, "--clang", CLANG, "--windows-path", WINDOWS_PATH],
                   check=True, timeout=60)


def tearDownModule():
    shutil.rmtree(TEMP, ignore_errors=True)


def read(*parts):
    with open(os.path.join(OUT, *parts), "rb") as f:
        return f.read()


def files_below(*parts):
    root = os.path.join(OUT, *parts)
    found = set()
    for dirpath, _, files in os.walk(root):
        for name in files:
            found.add(os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/"))
    return found


def checksum(data, seed):
    """The cabinet checksum as MS-CAB defines it, written out byte by byte."""
    count = len(data) // 4
    for i in range(count):
        seed ^= data[4 * i] | data[4 * i + 1] << 8 | data[4 * i + 2] << 16 | data[4 * i + 3] << 24
    tail = data[4 * count:]
    value = 0
    if len(tail) == 3:
        value = tail[0] << 16 | tail[1] << 8 | tail[2]
    elif len(tail) == 2:
        value = tail[0] << 8 | tail[1]
    elif len(tail) == 1:
        value = tail[0]
    return seed ^ value


def read_cabinet(data):
    """(file name, declared size, expanded bytes, [block checksums]) of a
    single-file MSZIP cabinet, checking its layout on the way."""
    (signature, _, total, _, files_offset, _, minor, major, folders, files, flags, _, _) = \
        struct.unpack_from("<4sIIIIIBBHHHHH", data, 0)
    assert signature == b"MSCF" and (major, minor) == (1, 3) and flags == 0
    assert total == len(data) and (folders, files) == (1, 1)
    data_offset, blocks, compression = struct.unpack_from("<IHH", data, 36)
    assert compression == 1
    size, folder_start, folder, _, _, _ = struct.unpack_from("<IIHHHH", data, files_offset)
    assert folder_start == 0 and folder == 0
    name_end = data.index(b"\0", files_offset + 16)
    name = data[files_offset + 16:name_end].decode()
    expanded = b""
    sums = []
    at = data_offset
    for _ in range(blocks):
        stored_sum, packed, unpacked = struct.unpack_from("<IHH", data, at)
        body = data[at + 8:at + 8 + packed]
        assert len(body) == packed and body[:2] == b"CK"
        sums.append(stored_sum == 0 or stored_sum == checksum(data[at + 4:at + 8], checksum(body, 0)))
        block = zlib.decompressobj(-15)
        part = block.decompress(body[2:])
        assert block.eof and len(part) == unpacked <= 32768
        expanded += part
        at += 8 + packed
    assert at == len(data)
    return name, size, expanded, sums


def differing_offsets(a, b):
    assert len(a) == len(b)
    return [i for i in range(len(a)) if a[i] != b[i]]


class CabinetWriterTests(unittest.TestCase):
    def test_cabinet_of_several_blocks_reads_back_whole(self):
        content = bytes((i * 31 + i // 700) & 0xFF for i in range(70000))
        name, size, expanded, sums = read_cabinet(storecases.cabinet("big.pdb", content))
        self.assertEqual((name, size, expanded), ("big.pdb", 70000, content))
        self.assertEqual(sums, [True, True, True])

    def test_checksum_matches_the_definition(self):
        self.assertEqual(storecases.cab_checksum(bytes(range(1, 8))), 0x04030201 ^ 0x050607)
        self.assertEqual(storecases.cab_checksum(b"\x09", 0x100), 0x109)


class CompressedStoreTests(unittest.TestCase):
    def test_every_store_file_has_its_compressed_entry_only(self):
        store = files_below("store")
        expected = {rel[:-1] + "_" for rel in store}
        self.assertEqual(files_below("compressed", "store"), expected)
        for rel in store:
            with self.subTest(entry=rel):
                name, size, expanded, sums = read_cabinet(read("compressed", "store", *(rel[:-1] + "_").split("/")))
                data = read("store", *rel.split("/"))
                self.assertEqual((name, size, expanded), (rel.split("/")[0], len(data), data))
                self.assertTrue(all(sums))

    def test_damaged_cabinets_are_damaged_as_named(self):
        good = read("compressed", "store", *self.nb10_entry("nb10.pd_"))
        cases = {case: read("cabinet", case, "store", *self.nb10_entry("nb10.pd_"))
                 for case in ("corrupt", "truncated", "othername", "undecodable", "wrongsize")}
        self.assertEqual(len(differing_offsets(good, cases["corrupt"])), 1)
        self.assertFalse(all(read_cabinet(cases["corrupt"])[3]))
        self.assertEqual(cases["truncated"], good[:len(good) // 2])
        self.assertEqual(read_cabinet(cases["othername"])[0], "other.pdb")
        self.assertEqual(struct.unpack_from("<I", cases["undecodable"], 36 + 8 + 16 + 9)[0], 0)
        size = read_cabinet(good)[1]
        self.assertEqual(struct.unpack_from("<I", cases["wrongsize"], 36 + 8)[0], size + 32768)

    @staticmethod
    def nb10_entry(leaf):
        key, = os.listdir(os.path.join(OUT, "store", "nb10.pdb"))
        return ["nb10.pdb", key, leaf]


class DamagedPdbTests(unittest.TestCase):
    def check(self, case, name, offset, fmt, value):
        original = read("symbols", name)
        damaged = read("damaged", case, name)
        key, = os.listdir(os.path.join(OUT, "store", name))
        self.assertEqual(read("damaged", case, "store", name, key, name), damaged)
        changed = differing_offsets(original, damaged)
        self.assertTrue(changed and min(changed) >= offset and max(changed) < offset + struct.calcsize(fmt), changed)
        self.assertEqual(struct.unpack_from(fmt, damaged, offset)[0], value)

    def test_msf7_header_claims_too_many_blocks(self):
        self.check("blocks", "rsds.pdb", 40, "<I", 0x7FFFFFFF)

    def test_msf7_stream_3_claims_too_many_bytes(self):
        # The sizes of streams 0 to 3 follow the stream count in the directory.
        original = read("symbols", "rsds.pdb")
        changed = differing_offsets(original, read("damaged", "stream", "rsds.pdb"))
        self.assertTrue(changed)
        block_size, _, _, _, _, list_block = struct.unpack_from("<6I", original, 32)
        first_directory_block = struct.unpack_from("<I", original, list_block * block_size)[0]
        self.check("stream", "rsds.pdb", first_directory_block * block_size + 16, "<I", 0x7FFFFFF0)

    def test_pdb20_header_claims_every_page_number(self):
        self.check("blocks20", "nb10.pdb", 50, "<H", 0xFFFF)


class PointerTests(unittest.TestCase):
    def test_pointers_name_the_flat_files_by_the_given_windows_path(self):
        store = files_below("store")
        for rel in store:
            name = rel.split("/")[0]
            directory = rel.rsplit("/", 1)[0].split("/")
            with self.subTest(entry=rel):
                self.assertEqual(read("pointer", "path", "store", *directory, "file.ptr"),
                                 ("PATH:%s\\symbols\\%s\r\n" % (WINDOWS_PATH, name)).encode())
                self.assertTrue(read("pointer", "message", "store", *directory, "file.ptr").startswith(b"MSG:"))
                self.assertIn(b"\\symbols\\missing\\", read("pointer", "missing", "store", *directory, "file.ptr"))

    def test_no_pointer_without_a_windows_path(self):
        with tempfile.TemporaryDirectory() as other:
            shutil.copytree(os.path.join(OUT, "store"), os.path.join(other, "store"))
            storecases.generate(other)
            self.assertFalse(os.path.exists(os.path.join(other, "pointer")))
            self.assertTrue(os.path.isdir(os.path.join(other, "compressed")))


if __name__ == "__main__":
    unittest.main()
