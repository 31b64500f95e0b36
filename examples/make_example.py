#!/usr/bin/python3
"""Draw examples/default.png, the bundled example input for pixremap.

A 320x200 RGBA picture: a rounded card filled with a smooth hue gradient,
a glowing sun, translucent bubbles and two rolling hills, with a round hole
punched through it.  Outside the card's rounded corners and inside the hole
the picture is fully transparent, and every shape edge is soft, so the image
has the whole range of alpha values.

Everything is computed per pixel from closed-form shapes (no randomness,
no fonts, no timestamps), so running the script again writes the same bytes.
"""

import colorsys
import math
import os

from PIL import Image

W, H = 320, 200
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'default.png')


def smoothstep(e0, e1, v):
    t = min(1.0, max(0.0, (v - e0) / (e1 - e0)))
    return t * t * (3 - 2 * t)


def coverage(dist, soft):
    """Opacity of a shape at signed distance dist (negative inside), with an
    edge that fades out over `soft` pixels."""
    return 1.0 - smoothstep(-soft / 2, soft / 2, dist)


def rounded_rect_dist(x, y, x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def hsv(h, s, v):
    return colorsys.hsv_to_rgb(h % 1.0, s, v)


# Translucent bubbles: centre x, centre y, radius, hue, opacity
BUBBLES = (
    (118, 92, 30, 0.92, 0.45),
    (156, 58, 18, 0.12, 0.40),
    (190, 112, 24, 0.33, 0.38),
    (92, 140, 14, 0.58, 0.50),
    (272, 138, 20, 0.75, 0.42),
)


def pixel(px, py):
    x, y = px + 0.5, py + 0.5            # sample at the pixel centre

    # Card: hue sweeps from teal (left) through violet to pink (right),
    # slightly shifted with height; fades to transparent at its rim.
    card = coverage(rounded_rect_dist(x, y, 8, 8, W - 8, H - 8, 30), 3.0)
    hue = 0.50 + 0.42 * (x / W) - 0.10 * (y / H)
    r, g, b = hsv(hue, 0.55 - 0.25 * (y / H), 0.97)
    cr, cg, cb, ca = r * card, g * card, b * card, card   # premultiplied

    def over(col, a):
        nonlocal cr, cg, cb, ca
        a *= card                        # keep everything inside the card
        cr = col[0] * a + cr * (1 - a)
        cg = col[1] * a + cg * (1 - a)
        cb = col[2] * a + cb * (1 - a)
        ca = a + ca * (1 - a)

    # Sun: warm radial gradient with a glow that dies out past the disc.
    d = math.hypot(x - 250, y - 62)
    t = min(1.0, d / 34)
    sun = hsv(0.14 - 0.07 * t, 0.35 + 0.6 * t, 1.0)
    over(sun, coverage(d - 34, 3.0))
    glow = math.exp(-max(0.0, d - 34) / 14) * 0.55 if d > 34 else 0.0
    over(hsv(0.10, 0.7, 1.0), glow)

    # Bubbles: lighter towards the upper-left, as if lit from there.
    for bx, by, br, bh, bo in BUBBLES:
        d = math.hypot(x - bx, y - by)
        shade = 1.0 - 0.35 * min(1.0, math.hypot(x - bx + br * 0.4,
                                                 y - by + br * 0.4) / (br * 1.6))
        over(hsv(bh, 0.6, shade), bo * coverage(d - br, 4.0))

    # Two hills along the bottom, the nearer one darker.
    far = H - 62 + 14 * math.sin(x / 37.0) + 6 * math.sin(x / 13.0 + 1.0)
    over(hsv(0.40 + 0.1 * (x / W), 0.55, 0.70), 0.85 * coverage(far - y, 2.5))
    near = H - 38 + 10 * math.sin(x / 29.0 + 2.0)
    over(hsv(0.36 + 0.08 * (x / W), 0.65, 0.48), 0.95 * coverage(near - y, 2.5))

    # A soft-edged hole straight through the picture.
    hole = coverage(math.hypot(x - 58, y - 58) - 22, 6.0)
    cr, cg, cb, ca = (v * (1 - hole) for v in (cr, cg, cb, ca))

    if ca <= 0.0:
        return (0, 0, 0, 0)
    return tuple(int(round(min(1.0, v / ca) * 255)) for v in (cr, cg, cb)) + \
        (int(round(ca * 255)),)


def main():
    data = bytearray()
    for py in range(H):
        for px in range(W):
            data.extend(pixel(px, py))
    Image.frombytes('RGBA', (W, H), bytes(data)).save(OUT, 'PNG', optimize=True)


if __name__ == '__main__':
    main()
