"""The store forms and damaged files of the samples, written after the rest
by gensamples.py from what it put into store/ and symbols/.

Writes, under the output directory:
  compressed/store/   every symbol file of store/ in its compressed form only:
                      NAME/KEY/NAM_ (the name's last character replaced by
                      "_"), a cabinet holding the one file, MSZIP
  cabinet/CASE/store/ nb10.pdb's compressed entry, damaged: "corrupt" (a data
                      byte changed, its checksum kept), "truncated" (cut in
                      half), "othername" (holds other.pdb), "undecodable" (no
                      checksum, deflate data that does not decode), "wrongsize"
                      (claims more bytes than its blocks hold), "overflow"
                      (a block whose deflate data expands 32 KB past what it
                      claims)
  damaged/CASE/       symbol files whose container is damaged, flat and in
                      store layout (damaged/CASE/store/): "blocks" (rsds.pdb,
                      PDB 7.00, header claims 0x7FFFFFFF blocks), "stream"
                      (rsds.pdb, stream 3 claims 0x7FFFFFF0 bytes), "blocks20"
                      (nb10.pdb, PDB 2.00, header claims 0xFFFF pages)
  pointer/CASE/store/ NAME/KEY/file.ptr for every symbol file of store/, only
                      when the output directory's Windows path is given (a
                      pointer names an absolute path): "path" ("PATH:" the
                      file in symbols/), "message" ("MSG:" a text), "missing"
                      ("PATH:" a file that does not exist)

MSZIP, as cabinets hold it: each data block is "CK" and one raw deflate
stream of at most 32768 bytes of the file, ended with its final block.
"""

import os
import shutil
import struct
import zlib

MSZIP_BLOCK = 32768
CAB_HEADER_SIZE = 36
CAB_FOLDER_SIZE = 8
CAB_FILE_FIXED_SIZE = 16
CAB_DATA_HEADER_SIZE = 8
COMPRESS_MSZIP = 1
# A fixed date and time (2001-01-01 12:00) keep the output the same on every run.
DOS_DATE = ((2001 - 1980) << 9) | (1 << 5) | 1
DOS_TIME = 12 << 11
ATTRIBUTE_ARCHIVE = 0x20

MESSAGE = "This file was withdrawn from the sample store."
SUBDIRS = ("compressed", "cabinet", "damaged", "pointer")


def compressed_name(name):
    return name[:-1] + "_"


def cab_checksum(data, seed=0):
    """The cabinet checksum: the XOR of the data's little-endian 32-bit words,
    then of the one to three bytes left over taken with the first highest."""
    whole = len(data) // 4 * 4
    for (word,) in struct.iter_unpack("<I", data[:whole]):
        seed ^= word
    rest = 0
    for byte in data[whole:]:
        rest = (rest << 8) | byte
    return seed ^ rest


def mszip_blocks(data):
    """[(packed, unpacked size)]: one raw deflate stream per 32 KB block."""
    blocks = []
    for at in range(0, max(len(data), 1), MSZIP_BLOCK):
        chunk = data[at:at + MSZIP_BLOCK]
        deflate = zlib.compressobj(9, zlib.DEFLATED, -15)
        blocks.append((b"CK" + deflate.compress(chunk) + deflate.flush(), len(chunk)))
    return blocks


def cabinet(name, data, blocks=None, checksums=True, file_size=None):
    """A cabinet with one folder holding one file `name`: CFHEADER, CFFOLDER,
    CFFILE, then the CFDATA blocks (u32 checksum, u16 packed size, u16
    unpacked size, the packed bytes)."""
    if blocks is None:
        blocks = mszip_blocks(data)
    raw_name = name.encode() + b"\0"
    files_offset = CAB_HEADER_SIZE + CAB_FOLDER_SIZE
    data_offset = files_offset + CAB_FILE_FIXED_SIZE + len(raw_name)
    body = b""
    for packed, unpacked in blocks:
        sizes = struct.pack("<2H", len(packed), unpacked)
        checksum = cab_checksum(sizes, cab_checksum(packed)) if checksums else 0
        body += struct.pack("<I", checksum) + sizes + packed
    total = data_offset + len(body)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, total, 0, files_offset, 0, 3, 1,
                         1, 1, 0, 0x5153, 0)
    folder = struct.pack("<IHH", data_offset, len(blocks), COMPRESS_MSZIP)
    entry = struct.pack("<IIHHHH", len(data) if file_size is None else file_size, 0, 0,
                        DOS_DATE, DOS_TIME, ATTRIBUTE_ARCHIVE) + raw_name
    out = header + folder + entry + body
    assert len(out) == total
    return out


def damaged_cabinets(name, data):
    """nb10.pdb's compressed entry in each damaged form, by case name."""
    good = cabinet(name, data)
    first_data = CAB_HEADER_SIZE + CAB_FOLDER_SIZE + CAB_FILE_FIXED_SIZE + len(name) + 1
    corrupt = bytearray(good)
    corrupt[first_data + CAB_DATA_HEADER_SIZE + 40] ^= 0x55
    garbage = bytes((i * 73 + 11) & 0xFF for i in range(600))
    return {
        "corrupt": bytes(corrupt),
        "truncated": good[:len(good) // 2],
        "othername": cabinet("other" + name[name.index("."):], data),
        "undecodable": cabinet(name, data, blocks=[(b"CK" + garbage, len(data))], checksums=False),
        "wrongsize": cabinet(name, data, file_size=len(data) + MSZIP_BLOCK),
        # Claims the file's size, but its deflate data holds a further 32 KB:
        # more than any data block may expand to.
        "overflow": cabinet(name, data, blocks=[(b"CK" + zlib.compress(data + bytes(MSZIP_BLOCK), 9, -15),
                                                 len(data))]),
    }


def msf70_directory_offset(data, index):
    """File offset of byte `index` of an MSF 7.00 file's stream directory.
    Header after the 32-byte magic: u32 block size, free block map, block
    count, directory size, reserved, block holding the directory's block list."""
    block_size, _, _, _, _, list_block = struct.unpack_from("<6I", data, 32)
    directory_block = struct.unpack_from("<I", data, list_block * block_size + 4 * (index // block_size))[0]
    return directory_block * block_size + index % block_size


def damaged_pdbs(symbols):
    """{case: (name, bytes)}: rsds.pdb and nb10.pdb with a damaged container."""
    rsds = bytearray(symbols["rsds.pdb"])
    blocks = bytearray(rsds)
    struct.pack_into("<I", blocks, 40, 0x7FFFFFFF)                 # block count
    stream = bytearray(rsds)
    # Directory: u32 stream count, then the u32 size of each stream.
    struct.pack_into("<I", stream, msf70_directory_offset(rsds, 4 + 4 * 3), 0x7FFFFFF0)
    pages20 = bytearray(symbols["nb10.pdb"])
    struct.pack_into("<H", pages20, 50, 0xFFFF)                    # page count
    return {"blocks": ("rsds.pdb", bytes(blocks)), "stream": ("rsds.pdb", bytes(stream)),
            "blocks20": ("nb10.pdb", bytes(pages20))}


def store_entries(out):
    """[(name, key, bytes)] of every file in store/."""
    entries = []
    root = os.path.join(out, "store")
    for name in sorted(os.listdir(root)):
        for key in sorted(os.listdir(os.path.join(root, name))):
            with open(os.path.join(root, name, key, name), "rb") as f:
                entries.append((name, key, f.read()))
    return entries


def put(out, rel, data):
    path = os.path.join(out, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def generate(out, windows_path=None):
    """Writes the directories listed above into `out`, whose store/ and
    symbols/ are already written. `windows_path` is `out` as a Windows
    program sees it; without it no pointer is written."""
    for sub in SUBDIRS:
        shutil.rmtree(os.path.join(out, sub), ignore_errors=True)
    entries = store_entries(out)
    keys = {name: key for name, key, _ in entries}
    symbols = {name: data for name, _, data in entries}

    for name, key, data in entries:
        put(out, "compressed/store/%s/%s/%s" % (name, key, compressed_name(name)), cabinet(name, data))

    for case, data in damaged_cabinets("nb10.pdb", symbols["nb10.pdb"]).items():
        put(out, "cabinet/%s/store/nb10.pdb/%s/nb10.pd_" % (case, keys["nb10.pdb"]), data)

    for case, (name, data) in damaged_pdbs(symbols).items():
        put(out, "damaged/%s/%s" % (case, name), data)
        put(out, "damaged/%s/store/%s/%s/%s" % (case, name, keys[name], name), data)

    if windows_path:
        base = windows_path.rstrip("\\/").replace("/", "\\")
        for name, key, _ in entries:
            pointers = {
                "path": "PATH:%s\\symbols\\%s\r\n" % (base, name),
                "message": "MSG:%s\r\n" % MESSAGE,
                "missing": "PATH:%s\\symbols\\missing\\%s\r\n" % (base, name),
            }
            for case, text in pointers.items():
                put(out, "pointer/%s/store/%s/%s/file.ptr" % (case, name, key), text.encode())
