#!/usr/bin/python3
"""Write the palette BMPs in this directory.

Short palettes: pixels index past the end of the palette. The decoder keeps
its palette in a 256-entry array on its stack and fills only the entries the
file has, so without care the pixels past it take whatever the stack held:
different on every run, and possibly addresses of the running program.

    bmp-short-palette-8bit.bmp   Windows header (40 bytes), 8 bits a pixel,
                                 101 palette entries, indices 0-255
    bmp-short-palette-os2.bmp    OS/2 header (12 bytes, 3-byte entries),
                                 8 bits a pixel, 101 entries, indices 0-255
    bmp-short-palette-4bit.bmp   Windows header, 4 bits a pixel, 5 entries,
                                 indices 0-15, an odd width

OS/2 bitmaps with whole palettes: the decoder counts an OS/2 palette as if
the header were 24 bytes long, so it loses the last four entries (a 1-bit
file loses both, and its pixels are read from the wrong place).

    bmp-os2-1bit.bmp             OS/2 header, 1 bit a pixel, 2 entries,
                                 a width that isn't a whole byte
    bmp-os2-4bit.bmp             OS/2 header, 4 bits, 16 entries, odd width
    bmp-os2-8bit.bmp             OS/2 header, 8 bits, 256 entries

Pixel (x, y), counted from the top left of a W-wide image, has index
(y * W + x) mod 2^bits; palette entry i is the colour
(2i + 1, 255 - i, (37i + 11) mod 256), never black. The tests recompute both.
Where Debian's python3-pil is installed, each whole-palette file is also
decoded with Pillow, an independent reader, which must give those colours.

Deterministic: running it again writes the same bytes. Needs only python3.
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def colour(i):
    return (2 * i + 1) % 256, 255 - i, (37 * i + 11) % 256


def row_bytes(indices, bits):
    per_byte = 8 // bits
    padded = list(indices) + [0] * (-len(indices) % per_byte)
    data = bytes(  # the first pixel in the high bits
        sum(padded[i + k] << (8 - bits * (k + 1)) for k in range(per_byte))
        for i in range(0, len(padded), per_byte))
    return data + b"\0" * (-len(data) % 4)  # rows are padded to 4 bytes


def index(x, y, width, bits):
    return (y * width + x) % (1 << bits)


def bmp(width, height, bits, entries, os2):
    palette = b"".join(
        bytes((b, g, r)) + (b"" if os2 else b"\0") for r, g, b in map(colour, range(entries)))
    rows = b"".join(  # bottom row first
        row_bytes([index(x, y, width, bits) for x in range(width)], bits)
        for y in reversed(range(height)))
    if os2:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(rows),
                           2835, 2835, entries, 0)
    offset = 14 + len(info) + len(palette)
    header = b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset)
    return header + info + palette + rows


FILES = {
    "bmp-short-palette-8bit.bmp": bmp(16, 16, 8, 101, os2=False),
    "bmp-short-palette-os2.bmp": bmp(16, 16, 8, 101, os2=True),
    "bmp-short-palette-4bit.bmp": bmp(13, 4, 4, 5, os2=False),
    "bmp-os2-1bit.bmp": bmp(11, 3, 1, 2, os2=True),
    "bmp-os2-4bit.bmp": bmp(13, 4, 4, 16, os2=True),
    "bmp-os2-8bit.bmp": bmp(16, 16, 8, 256, os2=True),
}


def check_with_pillow(name, width, height, bits):
    try:
        from PIL import Image
    except ImportError:
        return
    with Image.open(os.path.join(HERE, name)) as image:
        got = list(image.convert("RGB").getdata())
    want = [colour(index(x, y, width, bits)) for y in range(height) for x in range(width)]
    assert got == want, name + ": Pillow reads other colours"


if __name__ == "__main__":
    for name, data in FILES.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(data)
    check_with_pillow("bmp-os2-1bit.bmp", 11, 3, 1)
    check_with_pillow("bmp-os2-4bit.bmp", 13, 4, 4)
    check_with_pillow("bmp-os2-8bit.bmp", 16, 16, 8)
