#!/usr/bin/env python3
"""Writes the add-in's toolbar glyph strips as 4-bit Windows bitmaps.

The IDE takes glyph 0 of each strip for the settings command: a 32 x 16 strip
for medium buttons and a 64 x 32 strip (each glyph drawn at twice the size)
for large ones. Light grey is the background the IDE treats as transparent.

usage: glyphs.py MEDIUM_BMP LARGE_BMP
"""
import struct
import sys

# The 16 colours of the standard VGA palette, as (blue, green, red).
PALETTE = [
    (0x00, 0x00, 0x00), (0x00, 0x00, 0x80), (0x00, 0x80, 0x00), (0x00, 0x80, 0x80),
    (0x80, 0x00, 0x00), (0x80, 0x00, 0x80), (0x80, 0x80, 0x00), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0x00, 0x00, 0xFF), (0x00, 0xFF, 0x00), (0x00, 0xFF, 0xFF),
    (0xFF, 0x00, 0x00), (0xFF, 0x00, 0xFF), (0xFF, 0xFF, 0x00), (0xFF, 0xFF, 0xFF),
]
# Palette index of each character of the drawing.
INK = {".": 7, "k": 0, "w": 15, "g": 8, "b": 4, "B": 12}

# A page with a blue arrow coming down into it: symbols arriving.
GLYPH = [
    "................",
    "......bb........",
    "......bB........",
    "......bB........",
    "....bbbBbb......",
    ".kkkkbBBbkkkk...",
    ".kwwwwbBwwwwk...",
    ".kwwwwwbwwwwk...",
    ".kwgggggggwwk...",
    ".kwwwwwwwwwwk...",
    ".kwgggggggwwk...",
    ".kwwwwwwwwwwk...",
    ".kwgggggwwwwk...",
    ".kwwwwwwwwwwk...",
    ".kkkkkkkkkkkk...",
    "................",
]


def strip(scale):
    """Two glyph cells side by side: glyph 0, then an empty cell."""
    size = 16 * scale
    rows = []
    for y in range(size):
        line = GLYPH[y // scale]
        rows.append([INK[line[x // scale]] for x in range(size)] + [INK["."]] * size)
    return rows


def bitmap(rows):
    height, width = len(rows), len(rows[0])
    stride = ((width * 4 + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        packed = bytearray((row[x] << 4) | row[x + 1] for x in range(0, width, 2))
        pixels += packed + bytes(stride - len(packed))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for b, g, r in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(pixels), 0, 0, 16, 0)
    offset = 14 + len(info) + len(palette)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + palette + bytes(pixels)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    for path, scale in ((sys.argv[1], 1), (sys.argv[2], 2)):
        with open(path, "wb") as out:
            out.write(bitmap(strip(scale)))


if __name__ == "__main__":
    main()
