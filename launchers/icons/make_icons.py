#!/usr/bin/env python3
"""Draws the launchers' icons and writes them as .ico files.

    make_icons.py [OUTPUT_FOLDER]

Writes vont48.ico and zendra48.ico (default: the folder of this script).
Each file holds one 48x48 image with 32 bits per pixel (BGRA with a real
alpha channel, plus the 1-bit AND mask that older renderers read). The
output is the same byte for byte on every run, so the committed files can be
checked against a fresh run of this script.

The drawings are plain geometry: a rounded square with a vertical colour
ramp and a white letter made of thick strokes, edges smoothed by 4x4
supersampling.
"""

import math
import os
import struct
import sys

SIZE = 48
SAMPLES = 4  # supersampling per axis


def segment_distance(px, py, ax, ay, bx, by):
    """Distance from point p to the segment a-b."""
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def inside_rounded_square(x, y, margin=2.0, radius=9.0):
    lo, hi = margin, SIZE - margin
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return math.hypot(x - cx, y - cy) <= radius


def strokes(segments, width):
    """Inside test for a letter drawn as round-capped strokes."""
    half = width / 2.0

    def inside(x, y):
        return any(segment_distance(x, y, *s) <= half for s in segments)

    return inside


# "V" for vont: two strokes meeting at the bottom.
VONT_LETTER = strokes([(13, 13, 24, 35), (35, 13, 24, 35)], 7.0)
# "Z" for zendra: top bar, diagonal, bottom bar.
ZENDRA_LETTER = strokes([(14, 14, 34, 14), (34, 14, 14, 34), (14, 34, 34, 34)], 6.0)

# (top colour, bottom colour) of the background ramp, as RGB.
VONT_COLOURS = ((0x2A, 0x9D, 0x8F), (0x13, 0x4E, 0x5E))     # teal
ZENDRA_COLOURS = ((0xF4, 0xA2, 0x61), (0xC0, 0x4E, 0x1E))   # amber to rust
LETTER_COLOUR = (0xFF, 0xFF, 0xFF)


def render(letter, colours):
    """Answers rows top to bottom of (r, g, b, a) tuples."""
    top, bottom = colours
    rows = []
    step = 1.0 / SAMPLES
    for y in range(SIZE):
        ramp = y / (SIZE - 1)
        base = tuple(t + (b - t) * ramp for t, b in zip(top, bottom))
        row = []
        for x in range(SIZE):
            square = glyph = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    px = x + (sx + 0.5) * step
                    py = y + (sy + 0.5) * step
                    if inside_rounded_square(px, py):
                        square += 1
                        if letter(px, py):
                            glyph += 1
            total = SAMPLES * SAMPLES
            alpha = square / total
            # Share of the letter within the covered part of the pixel.
            mix = glyph / square if square else 0.0
            rgb = tuple(round(c + (l - c) * mix) for c, l in zip(base, LETTER_COLOUR))
            row.append(rgb + (round(alpha * 255),))
        rows.append(row)
    return rows


def ico_bytes(rows):
    """One-image .ico file: header, directory entry, DIB with AND mask."""
    pixels = bytearray()
    for row in reversed(rows):  # DIB rows run bottom-up
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:  # transparent where the alpha channel is empty
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    image_size = len(pixels) + len(mask)
    # BITMAPINFOHEADER: the height counts the colour image and the mask.
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, 2 * SIZE, 1, 32, 0,
                         image_size, 0, 0, 0, 0)
    dib = header + pixels + mask
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 32, len(dib), 6 + 16)
    return icondir + entry + dib


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    for name, letter, colours in (("vont48.ico", VONT_LETTER, VONT_COLOURS),
                                  ("zendra48.ico", ZENDRA_LETTER, ZENDRA_COLOURS)):
        with open(os.path.join(out, name), "wb") as f:
            f.write(ico_bytes(render(letter, colours)))


if __name__ == "__main__":
    main()
