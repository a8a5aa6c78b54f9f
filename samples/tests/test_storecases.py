"""Tests of the store forms and damaged files that storecases.py adds to the
samples. Cabinets are read back with a reader written here (and zlib for
the deflate data), not with the generator's code.

Run from anywhere:  python3 -m unittest discover -s samples/tests -v
"""

import os
import shutil
import struct
import sys
import tempfile
import unittest
import zlib

from sampleout import SAMPLES, WINDOWS_PATH, files_below, path, read

sys.path.insert(0, SAMPLES)
import storecases  # noqa: E402


def checksum(data, seed):
    """The cabinet checksum as MS-CAB defines it, written out byte by byte."""
    count = len(data) // 4
    for i in range(count):
        seed ^= data[4 * i] | data[4 * i + 1] << 8 | data[4 * i + 2] << 16 | data[4 * i + 3] << 24
    value = 0
    for byte in data[4 * count:]:  # the one to three bytes left, the first highest
        value = value << 8 | byte
    return seed ^ value


def read_cabinet(data):
    """(file name, declared size, expanded bytes, [block checksum right]) of a
    single-file MSZIP cabinet, checking its layout on the way."""
    (signature, _, total, _, files_offset, _, minor, major, folders, files, flags, _, _) = \
        struct.unpack_from("<4sIIIIIBBHHHHH", data, 0)
    assert signature == b"MSCF" and (major, minor) == (1, 3) and flags == 0
    assert total == len(data) and (folders, files) == (1, 1)
    at, blocks, compression = struct.unpack_from("<IHH", data, 36)
    assert compression == 1
    size, folder_start, folder, _, _, _ = struct.unpack_from("<IIHHHH", data, files_offset)
    assert folder_start == 0 and folder == 0
    name = data[files_offset + 16:data.index(b"\0", files_offset + 16)].decode()
    expanded, sums = b"", []
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


class StoreCaseTests(unittest.TestCase):
    def test_cabinet_of_several_blocks_reads_back_whole_with_checksums_as_defined(self):
        self.assertEqual(storecases.cab_checksum(bytes(range(1, 8))), 0x04030201 ^ 0x050607)
        self.assertEqual(storecases.cab_checksum(b"\x09", 0x100), 0x109)
        content = bytes((i * 31 + i // 700) & 0xFF for i in range(70000))
        self.assertEqual(read_cabinet(storecases.cabinet("big.pdb", content)),
                         ("big.pdb", 70000, content, [True, True, True]))

    def test_every_store_file_has_its_compressed_entry_only(self):
        store = files_below("store")
        self.assertEqual(files_below("compressed/store"), {rel[:-1] + "_" for rel in store})
        for rel in store:
            with self.subTest(entry=rel):
                data = read("store/" + rel)
                name, size, expanded, sums = read_cabinet(read("compressed/store/" + rel[:-1] + "_"))
                self.assertEqual((name, size, expanded, all(sums)), (rel.split("/")[0], len(data), data, True))

    def test_damaged_cabinets_are_damaged_as_named(self):
        entry, = [rel[:-1] + "_" for rel in files_below("store") if rel.startswith("nb10.pdb/")]
        good = read("compressed/store/" + entry)
        cases = {case: read("cabinet/%s/store/%s" % (case, entry))
                 for case in ("corrupt", "truncated", "othername", "undecodable", "wrongsize")}
        self.assertEqual(len(differing_offsets(good, cases["corrupt"])), 1)
        self.assertFalse(all(read_cabinet(cases["corrupt"])[3]))
        self.assertEqual(cases["truncated"], good[:len(good) // 2])
        self.assertEqual(read_cabinet(cases["othername"])[0], "other.pdb")
        # CFDATA's checksum, then CFFILE's size.
        self.assertEqual(struct.unpack_from("<I", cases["undecodable"], 36 + 8 + 16 + 9)[0], 0)
        self.assertEqual(struct.unpack_from("<I", cases["wrongsize"], 36 + 8)[0], read_cabinet(good)[1] + 32768)

    def test_damaged_pdbs_change_only_the_named_field_and_are_stored_under_the_good_key(self):
        rsds = read("symbols/rsds.pdb")
        block_size, _, _, _, _, list_block = struct.unpack_from("<6I", rsds, 32)
        # The directory starts with the stream count, then the size of each stream.
        stream_3_size_at = struct.unpack_from("<I", rsds, list_block * block_size)[0] * block_size + 16
        for case, name, offset, fmt, value in (("blocks", "rsds.pdb", 40, "<I", 0x7FFFFFFF),
                                               ("stream", "rsds.pdb", stream_3_size_at, "<I", 0x7FFFFFF0),
                                               ("blocks20", "nb10.pdb", 50, "<H", 0xFFFF)):
            with self.subTest(case=case):
                damaged = read("damaged/%s/%s" % (case, name))
                key, = os.listdir(path("store/" + name))
                self.assertEqual(read("damaged/%s/store/%s/%s/%s" % (case, name, key, name)), damaged)
                changed = differing_offsets(read("symbols/" + name), damaged)
                self.assertTrue(changed and offset <= min(changed) <= max(changed) < offset + struct.calcsize(fmt))
                self.assertEqual(struct.unpack_from(fmt, damaged, offset)[0], value)

    def test_pointers_name_the_flat_files_by_the_given_windows_path_and_need_it(self):
        for rel in files_below("store"):
            pointer = "/store/%s/file.ptr" % rel.rsplit("/", 1)[0]
            with self.subTest(entry=rel):
                self.assertEqual(read("pointer/path" + pointer),
                                 ("PATH:%s\\symbols\\%s\r\n" % (WINDOWS_PATH, rel.split("/")[0])).encode())
                self.assertTrue(read("pointer/message" + pointer).startswith(b"MSG:"))
                self.assertIn(b"\\symbols\\missing\\", read("pointer/missing" + pointer))
        with tempfile.TemporaryDirectory() as other:
            shutil.copytree(path("store"), os.path.join(other, "store"))
            storecases.generate(other)
            self.assertFalse(os.path.exists(os.path.join(other, "pointer")))
            self.assertTrue(os.path.isdir(os.path.join(other, "compressed")))


if __name__ == "__main__":
    unittest.main()
