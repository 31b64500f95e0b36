#!/usr/bin/python3
"""Writes generated test images of a chosen size for the benchmarks.

    bench/make_images.py OUTDIR WIDTH HEIGHT [KIND ...]

KIND is one or more of: photo (RGB PNG and JPEG), photo_rgba (RGBA PNG),
formats (one file in each format and layout stb_image reads: PNG 8/16-bit,
grey, grey+alpha, palette, interlaced; JPEG baseline and progressive; BMP;
GIF; PSD; TGA; HDR; PIC; PNM 8/16-bit; interlaced PNG where ImageMagick
is installed). The default is photo photo_rgba.

The picture is a colourful, photo-like mix of a fractal, gradients and
noise, so that the codecs work as hard as on a real photograph. It needs
Debian's /usr/bin/python3 with Pillow (python3-pil). Output is the same for
the same arguments.
"""
import os
import struct
import subprocess
import sys

from PIL import Image, ImageChops


def picture(w, h):
    """An RGB picture: fractal structure, smooth gradients, fine noise."""
    fractal = Image.effect_mandelbrot((w, h), (-2.2, -1.3, 0.8, 1.3), 100)
    ramp = Image.linear_gradient('L').resize((w, h))
    ring = Image.radial_gradient('L').resize((w, h))
    # Pillow's noise is seeded from the C library's rand(): fixed per size.
    noise = Image.effect_noise((w, h), 24)
    r = ImageChops.add(fractal, noise, scale=1.0, offset=-64)
    g = ImageChops.add(ramp, ImageChops.invert(ring), scale=2.0)
    b = ImageChops.add(ImageChops.multiply(fractal, ring), noise, scale=1.0, offset=-100)
    return Image.merge('RGB', (r, g, b))


def with_alpha(im):
    w, h = im.size
    alpha = Image.radial_gradient('L').resize((w, h))
    return Image.merge('RGBA', im.split() + (ImageChops.invert(alpha),))


def pic_bytes(rgba):
    w, h = rgba.size
    head = (struct.pack('>I', 0x5380F634) + struct.pack('>f', 3.71) +
            b'pixremap benchmark image'.ljust(80, b'\0') + b'PICT' +
            struct.pack('>HHfHH', w, h, 1.0, 3, 0))
    # One uncompressed packet with all four channels.
    return head + bytes((0, 8, 0, 0xf0)) + rgba.tobytes()


def psd_bytes(im):
    w, h = im.size
    planes = im.split()
    head = (b'8BPS' + struct.pack('>H', 1) + bytes(6) +
            struct.pack('>HIIHH', len(planes), h, w, 8, 3) + bytes(12))
    return head + struct.pack('>H', 0) + b''.join(p.tobytes() for p in planes)


def hdr_bytes(im):
    """Flat RGBE scanlines: the picture's values with a fixed exponent."""
    w, h = im.size
    rgbe = Image.merge('RGBA', im.split() + (Image.new('L', (w, h), 129),))
    head = b'#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y %d +X %d\n' % (h, w)
    return head + rgbe.tobytes()


def ppm16_bytes(im):
    w, h = im.size
    data = im.tobytes()
    wide = bytearray(len(data) * 2)
    wide[0::2] = data
    wide[1::2] = data
    return b'P6\n%d %d\n65535\n' % (w, h) + bytes(wide)


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    out, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    kinds = sys.argv[4:] or ['photo', 'photo_rgba']
    os.makedirs(out, exist_ok=True)
    im = picture(w, h)
    tag = '%dx%d' % (w, h)

    def path(name):
        return os.path.join(out, '%s_%s' % (tag, name))

    def save_bytes(name, data):
        with open(path(name), 'wb') as f:
            f.write(data)

    if 'photo' in kinds:
        im.save(path('rgb.png'))
        im.save(path('rgb.jpg'), quality=90)
    if 'photo_rgba' in kinds:
        with_alpha(im).save(path('rgba.png'))
    if 'formats' in kinds:
        rgba = with_alpha(im)
        grey = im.convert('L')
        im.save(path('rgb.png'))
        rgba.save(path('rgba.png'))
        grey.save(path('grey.png'))
        Image.merge('LA', (grey, rgba.split()[3])).save(path('grey_alpha.png'))
        im.convert('P', palette=Image.Palette.ADAPTIVE).save(path('palette.png'))
        grey16 = Image.frombytes('I;16', (w, h), bytes(b for v in grey.tobytes() for b in (v, v)))
        grey16.save(path('grey16.png'))
        im.save(path('baseline.jpg'), quality=90)
        im.save(path('progressive.jpg'), quality=90, progressive=True)
        im.save(path('rgb.bmp'))
        im.convert('P', palette=Image.Palette.ADAPTIVE).save(path('image.gif'))
        save_bytes('rgb.psd', psd_bytes(im))
        save_bytes('rgba.psd', psd_bytes(rgba))
        rgba.save(path('rle.tga'), compression='tga_rle')
        save_bytes('image.hdr', hdr_bytes(im))
        save_bytes('image.pic', pic_bytes(rgba))
        im.save(path('rgb.ppm'))
        save_bytes('rgb16.ppm', ppm16_bytes(im))
        # Pillow can't write interlaced PNG; ImageMagick can, where installed.
        if os.path.exists('/usr/bin/convert'):
            subprocess.run(['/usr/bin/convert', path('rgb.png'), '-interlace', 'PNG',
                            path('interlaced.png')], check=True)


if __name__ == '__main__':
    main()
