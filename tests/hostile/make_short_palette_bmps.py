#!/usr/bin/python3
"""Write the short-palette BMPs in this directory.

Each is a palette BMP whose pixels index past the end of its palette. The
decoder keeps its palette in a 256-entry array on its stack and fills only
the entries the file has, so without care the pixels past it take whatever
the stack held: different on every run, and possibly addresses of the
running program.

    bmp-short-palette-8bit.bmp   Windows header (40 bytes), 8 bits a pixel,
                                 101 palette entries, indices 0-255
    bmp-short-palette-os2.bmp    OS/2 header (12 bytes, 3-byte entries),
                                 8 bits a pixel, 101 entries, indices 0-255
    bmp-short-palette-4bit.bmp   Windows header, 4 bits a pixel, 5 entries,
                                 indices 0-15, an odd width

Pixel (x, y), counted from the top left of a W-wide image, has index
(y * W + x) mod 2^bits; palette entry i is the colour
(2i + 1, 255 - i, (37i + 11) mod 256), never black. The tests recompute both.

Deterministic: running it again writes the same bytes. Needs only python3.
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def colour(i):
    return (2 * i + 1) % 256, 255 - i, (37 * i + 11) % 256


def row_bytes(indices, bits):
    if bits == 8:
        data = bytes(indices)
    else:  # 4 bits: two pixels a byte, the first in the high half
        padded = list(indices) + [0] * (len(indices) % 2)
        data = bytes(padded[i] << 4 | padded[i + 1] for i in range(0, len(padded), 2))
    return data + b"\0" * (-len(data) % 4)  # rows are padded to 4 bytes


def bmp(width, height, bits, entries, os2):
    palette = b"".join(
        bytes((b, g, r)) + (b"" if os2 else b"\0") for r, g, b in map(colour, range(entries)))
    rows = b"".join(  # bottom row first
        row_bytes([(y * width + x) % (1 << bits) for x in range(width)], bits)
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
}

if __name__ == "__main__":
    for name, data in FILES.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(data)
