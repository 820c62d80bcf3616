#!/usr/bin/env python3
"""Draws the Vexalune emblem and writes res/icons/vexalune.ico and
res/icons/vexalune_small.ico.

The emblem: a night-blue disc with a thin violet rim, a golden crescent moon
on its left and a bold white V standing in the hollow of the crescent.

Each .ico holds the same eight uncompressed BMP images, in this order:
32x32 4-bit, 16x16 4-bit, 48x48 8-bit, 32x32 8-bit, 16x16 8-bit,
48x48 32-bit, 32x32 32-bit, 16x16 32-bit.

The shapes are analytic (circles and polygons) and are rendered by
supersampling. The 32-bit images keep the antialiased alpha. The 8-bit ones
use an adaptive palette (median cut) and a 1-bit mask; the 4-bit ones use the
standard 16-colour palette with one flat colour per shape, so they stay crisp.
The 16x16 images use a layout of their own, drawn for that size.

Standard library only; the same script always writes the same bytes.

Usage: python3 res/make_icons.py [output-folder]   (default: res/icons)
"""

import os
import struct
import sys

# --------------------------------------------------------------------------
# Colours

# The standard Windows 16-colour palette, as (r, g, b).
VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
VGA_NAVY, VGA_YELLOW, VGA_WHITE = 4, 11, 15


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c0, c1, t):
    t = max(0.0, min(1.0, t))
    return tuple(lerp(a, b, t) for a, b in zip(c0, c1))


def hexrgb(h):
    return ((h >> 16) & 255, (h >> 8) & 255, h & 255)


SKY_TOP = hexrgb(0x33207A)
SKY_BOTTOM = hexrgb(0x0E0B36)
RIM = hexrgb(0x8C7CF4)
MOON_LIGHT = hexrgb(0xFFF0A0)
MOON_DARK = hexrgb(0xF2A81E)
V_TOP = hexrgb(0xFFFFFF)
V_BOTTOM = hexrgb(0xD9D2FF)

# --------------------------------------------------------------------------
# Geometry. Coordinates are in pixels of the target image, y downwards.


def in_circle(x, y, cx, cy, r):
    dx, dy = x - cx, y - cy
    return dx * dx + dy * dy <= r * r


def in_polygon(x, y, pts):
    inside = False
    n = len(pts)
    j = n - 1
    for i in range(n):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y):
            xc = xi + (y - yi) * (xj - xi) / (yj - yi)
            if x < xc:
                inside = not inside
        j = i
    return inside


def v_polygon(xl, xr, yt, yb, stroke, foot, bevel=0.0):
    """A bold V: two slanted arms of horizontal width `stroke`, meeting in a
    flat foot of width `foot` at the bottom. The tops of the arms are cut
    sloping down towards the middle by `bevel`."""
    xc = (xl + xr) / 2.0
    # Outer edges run from the outer top corners (xl, yt), (xr, yt) to the
    # ends of the foot; inner edges are parallel to them, `stroke` further in.
    slope = ((xr - xl) / 2.0 - foot / 2.0) / (yb - yt)   # dx per dy
    notch_y = yt + ((xc - xl) - stroke) / slope
    yi = yt + bevel                  # y of the inner top corners
    xi = stroke + slope * bevel      # their distance from xl / xr
    return [
        (xl, yt), (xl + xi, yi), (xc, notch_y), (xr - xi, yi),
        (xr, yt), (xc + foot / 2.0, yb), (xc - foot / 2.0, yb),
    ]


class Layout:
    """Where the shapes are, for one image size, in pixels."""

    def __init__(self, size):
        s = float(size)
        self.size = size
        if size <= 16:
            # Drawn for 16x16: a smaller V kept clear of the crescent, a flatter
            # V colour and no shadow, so the two shapes stay apart.
            self.disc = (8.0, 8.0, 8.0)
            self.rim_width = 1.0
            self.moon_outer = (6.5, 8.2, 5.8)
            self.moon_inner = (9.2, 6.4, 5.2)
            self.v = v_polygon(6.9, 14.9, 4.0, 12.5, 2.4, 1.0)
            self.shadow = None
            self.v_fade = 0.4
        else:
            k = s / 48.0
            self.disc = (24.0 * k, 24.0 * k, 23.6 * k)
            self.rim_width = 1.6 * k if size >= 48 else 1.25
            self.moon_outer = (21.5 * k, 24.0 * k, 17.5 * k)
            self.moon_inner = (28.2 * k, 20.6 * k, 15.2 * k)
            self.v = v_polygon(17.5 * k, 42.5 * k, 11.5 * k, 37.0 * k, 7.6 * k, 3.6 * k, 2.5 * k)
            off = 1.4 * k
            self.shadow = [(x + off * 0.6, y + off) for x, y in self.v]
            self.v_fade = 1.0


# Labels of the shapes, topmost last. NONE is the transparent outside. The
# 4-bit images paint each pixel in the flat colour of its dominant label
# (the rim is left out there: plain navy looks cleaner than a bright blue ring).
NONE, SKY, RIM_L, MOON, V = range(5)
FLAT4 = {SKY: VGA_NAVY, RIM_L: VGA_NAVY, MOON: VGA_YELLOW, V: VGA_WHITE}


def shade(layout, x, y):
    """Colour (r, g, b, a) in 0..255 and label of the point (x, y)."""
    s = layout.size
    cx, cy, r = layout.disc
    if not in_circle(x, y, cx, cy, r):
        return (0.0, 0.0, 0.0, 0.0), NONE
    colour = mix(SKY_TOP, SKY_BOTTOM, y / s)
    label = SKY
    if layout.rim_width and not in_circle(x, y, cx, cy, r - layout.rim_width):
        colour = mix(RIM, SKY_BOTTOM, 0.15 + 0.55 * (y / s))
        label = RIM_L
    mo, mi = layout.moon_outer, layout.moon_inner
    if in_circle(x, y, *mo) and not in_circle(x, y, *mi):
        # Lit from the upper left.
        t = ((x - mo[0] + mo[2]) * 0.35 + (y - mo[1] + mo[2]) * 0.65) / (2 * mo[2])
        colour = mix(MOON_LIGHT, MOON_DARK, t * 1.1 - 0.05)
        label = MOON
    if layout.shadow and in_polygon(x, y, layout.shadow):
        colour = mix(colour, (0, 0, 0), 0.45)
    if in_polygon(x, y, layout.v):
        colour = mix(V_TOP, V_BOTTOM, (y / s - 0.25) * 1.6 * layout.v_fade)
        label = V
    return colour + (255.0,), label


def render(size, ss):
    """Supersample the emblem at size x size with ss x ss samples a pixel.

    Returns rows of pixels (top row first); a pixel is
    ((r, g, b, a) straight colour in 0..255 ints, dominant label)."""
    layout = Layout(size)
    n = ss * ss
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            counts = [0] * 5
            for sy in range(ss):
                y = py + (sy + 0.5) / ss
                for sx in range(ss):
                    x = px + (sx + 0.5) / ss
                    (r, g, b, a), label = shade(layout, x, y)
                    w = a / 255.0
                    acc[0] += r * w
                    acc[1] += g * w
                    acc[2] += b * w
                    acc[3] += w
                    counts[label] += 1
            a = acc[3] / n
            if acc[3] > 0:
                rgb = tuple(int(round(c / acc[3])) for c in acc[:3])
            else:
                rgb = (0, 0, 0)
            alpha = int(round(a * 255))
            # The dominant label, ties going to the upper shape.
            best = max(range(5), key=lambda k: (counts[k], k))
            row.append((rgb + (alpha,), best))
        rows.append(row)
    return rows


# --------------------------------------------------------------------------
# Quantisation for the 8-bit images


def median_cut(colours, max_colours):
    """colours: {rgb: count}. Returns a sorted list of at most max_colours."""
    if len(colours) <= max_colours:
        return sorted(colours)
    boxes = [sorted(colours.items())]

    def spread(box):
        best = (-1, 0)
        for ch in range(3):
            vals = [c[ch] for c, _ in box]
            best = max(best, (max(vals) - min(vals), -ch))
        return best[0], -best[1]

    while len(boxes) < max_colours:
        cand = [(spread(b)[0] * sum(n for _, n in b), i) for i, b in enumerate(boxes) if len(b) > 1]
        if not cand:
            break
        _, i = max(cand)
        box = boxes.pop(i)
        ch = spread(box)[1]
        box.sort(key=lambda item: (item[0][ch], item[0]))
        total = sum(n for _, n in box)
        run = 0
        cut = 1
        for k, (_, cnt) in enumerate(box[:-1]):
            run += cnt
            cut = k + 1
            if run * 2 >= total:
                break
        boxes[i:i] = [box[:cut], box[cut:]]
    palette = []
    for b in boxes:
        total = sum(n for _, n in b)
        palette.append(tuple(int(round(sum(c[ch] * n for c, n in b) / total)) for ch in range(3)))
    return sorted(set(palette))


def nearest(palette, rgb):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = (p[0] - rgb[0]) ** 2 * 3 + (p[1] - rgb[1]) ** 2 * 4 + (p[2] - rgb[2]) ** 2 * 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


# --------------------------------------------------------------------------
# BMP icon images


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def mask_bits(opaque_rows, size):
    """AND mask, bottom-up: 1 where transparent."""
    out = bytearray()
    stride = row_bytes(size)
    for row in reversed(opaque_rows):
        line = bytearray(stride)
        for x, opaque in enumerate(row):
            if not opaque:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def bmp_header(size, bpp, data_size, colours_used):
    return struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bpp, 0, data_size,
                       0, 0, colours_used, 0)


def image_32(pixels):
    size = len(pixels)
    xor = bytearray()
    for row in reversed(pixels):
        for (r, g, b, a), _ in row:
            if a == 0:
                xor += b'\0\0\0\0'
            else:
                xor += bytes((b, g, r, a))
    opaque = [[p[0][3] >= 128 for p in row] for row in pixels]
    mask = mask_bits(opaque, size)
    return bmp_header(size, 32, len(xor) + len(mask), 0) + bytes(xor) + mask


def image_8(pixels):
    size = len(pixels)
    opaque = [[p[0][3] >= 128 for p in row] for row in pixels]
    counts = {}
    for row, orow in zip(pixels, opaque):
        for (px, _), o in zip(row, orow):
            if o:
                rgb = px[:3]
                counts[rgb] = counts.get(rgb, 0) + 1
    # Index 0 is black, used by the transparent pixels.
    palette = [(0, 0, 0)] + [c for c in median_cut(counts, 255)]
    lookup = {}
    xor = bytearray()
    stride = row_bytes(size * 8)
    for row, orow in zip(reversed(pixels), reversed(opaque)):
        line = bytearray(stride)
        for x, ((px, _), o) in enumerate(zip(row, orow)):
            if o:
                rgb = px[:3]
                if rgb not in lookup:
                    lookup[rgb] = 1 + nearest(palette[1:], rgb)
                line[x] = lookup[rgb]
        xor += line
    pal = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    pal += bytes(4 * (256 - len(palette)))
    mask = mask_bits(opaque, size)
    return bmp_header(size, 8, len(xor) + len(mask), 0) + pal + bytes(xor) + mask


def image_4(pixels):
    size = len(pixels)
    opaque = [[p[1] != NONE for p in row] for row in pixels]
    xor = bytearray()
    stride = row_bytes(size * 4)
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, (_, label) in enumerate(row):
            idx = FLAT4.get(label, 0)
            line[x // 2] |= idx << (4 if x % 2 == 0 else 0)
        xor += line
    pal = b''.join(bytes((b, g, r, 0)) for r, g, b in VGA16)
    mask = mask_bits(opaque, size)
    return bmp_header(size, 4, len(xor) + len(mask), 0) + pal + bytes(xor) + mask


# --------------------------------------------------------------------------
# The .ico file

# (size, bits per pixel), in the order they appear in the file.
IMAGES = [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)]


def build_ico():
    renders = {size: render(size, 16 if size <= 16 else 8) for size in (48, 32, 16)}
    blobs = []
    for size, bpp in IMAGES:
        px = renders[size]
        blobs.append({4: image_4, 8: image_8, 32: image_32}[bpp](px))
    out = bytearray(struct.pack('<HHH', 0, 1, len(IMAGES)))
    offset = 6 + 16 * len(IMAGES)
    for (size, bpp), blob in zip(IMAGES, blobs):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 16 if bpp == 4 else 0, 0,
                           1, bpp, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = argv[1] if len(argv) > 1 else os.path.join(here, 'icons')
    os.makedirs(outdir, exist_ok=True)
    data = build_ico()
    for name in ('vexalune.ico', 'vexalune_small.ico'):
        with open(os.path.join(outdir, name), 'wb') as f:
            f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
