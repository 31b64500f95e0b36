#!/usr/bin/python3
# Writes into DIR one 1024x1024 photograph-like image of each kind whose
# decoding memory the tests hold to its budget (codec_test): the JPEG
# modes (baseline and progressive, 1, 3 and 4 components, 4:4:4, and one
# whose frame header comes after 1.2 MB of extended-XMP segments), and the
# other formats stb_image decodes that Pillow writes, or that are simple
# enough to write here (Radiance HDR, Photoshop).
#
#     /usr/bin/python3 tests/make_budget_images.py DIR
import struct
import sys

from PIL import Image

out = sys.argv[1]
side = 1024

grey = Image.radial_gradient('L').resize((side, side))
noise = Image.effect_noise((side, side), 40)
grey = Image.blend(grey, noise, 0.3)
rgb = Image.merge('RGB', [grey, grey.rotate(90), grey.transpose(Image.FLIP_LEFT_RIGHT)])
cmyk = Image.merge('CMYK', [grey, grey.rotate(90), grey.transpose(Image.FLIP_LEFT_RIGHT),
                            grey.rotate(180)])


def path(name):
    return f'{out}/{name}'


cmyk.save(path('jpeg_progressive_cmyk.jpg'), quality=90, progressive=True)
cmyk.save(path('jpeg_baseline_cmyk.jpg'), quality=90)
rgb.save(path('jpeg_progressive_444.jpg'), quality=90, progressive=True, subsampling=0)
grey.save(path('jpeg_progressive_grey.jpg'), quality=90, progressive=True)

# The frame header past the first MiB: APP1 segments of 64 KiB after SOI.
rgb.save(path('plain.jpg'), quality=90, subsampling=0)
with open(path('plain.jpg'), 'rb') as f:
    jpeg = f.read()
payload = b'http://ns.adobe.com/xmp/extension/\0' + b'x' * 65000
segments = b''
while len(segments) < 1200000:
    segments += b'\xff\xe1' + struct.pack('>H', len(payload) + 2) + payload
with open(path('jpeg_metadata_first.jpg'), 'wb') as f:
    f.write(jpeg[:2] + segments + jpeg[2:])

rgb.convert('RGBA').save(path('png_rgba.png'))
grey.point(lambda v: v * 257, 'I').convert('I;16').save(path('png_grey16.png'))
rgb.save(path('bmp_rgb.bmp'))
rgb.convert('RGBA').save(path('tga_rle_rgba.tga'), compression='tga_rle')
rgb.convert('P').save(path('gif_palette.gif'))
grey.point(lambda v: v * 257, 'I').save(path('pgm_16.pgm'))

# Radiance HDR, scanlines stored flat (no run-length coding).
with open(path('hdr_flat.hdr'), 'wb') as f:
    f.write(b'#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y %d +X %d\n' % (side, side))
    f.write(b''.join(bytes((r, g, b, 128)) for r, g, b in rgb.getdata()))

# Photoshop, RGB, 8 bits, no compression: the header, three empty
# sections, and the channels one plane after another.
with open(path('psd_rgb.psd'), 'wb') as f:
    f.write(b'8BPS' + struct.pack('>H6xHIIHH', 1, 3, side, side, 8, 3))
    f.write(struct.pack('>IIIH', 0, 0, 0, 0))
    for band in rgb.split():
        f.write(band.tobytes())
