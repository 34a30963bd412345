#!/usr/bin/env python3
"""Draws the pages' images as PNG files: the download panel, the product mark, the progress bar's
parts and the close button. The output is the same byte for byte on every run.

The page background #31669b is the host window's colour key: a pixel of exactly that colour is
see-through. The panel therefore has fully transparent corners (alpha 0 over the page background,
which becomes see-through) and no half-transparent edge, which would leave a blue fringe; no
opaque pixel of any image has the key colour itself.

usage: make-ui-images.py OUTPUT_FOLDER
"""
import os
import struct
import sys
import zlib

KEY = (0x31, 0x66, 0x9B)
PANEL_W, PANEL_H = 651, 272
BAND_H = 48  # the title band, which the page uses as its drag area
TRACK_W, BAR_H = 571, 16


def png(width, height, pixel):
    """PNG bytes of an RGBA image; pixel(x, y) gives (r, g, b, a)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter type None
        for x in range(width):
            r, g, b, a = pixel(x, y)
            if a and (r, g, b) == KEY:
                b += 1  # never paint the see-through colour
            rows += bytes((r, g, b, a))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def mix(a, b, t):
    return tuple(int(round(p + (q - p) * t)) for p, q in zip(a, b))


def in_rounded_rect(x, y, w, h, radius):
    """Whether the point (x, y) (pixel centres at +0.5) lies inside a w x h rounded rectangle."""
    cx = min(max(x, radius), w - radius)
    cy = min(max(y, radius), h - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def coverage(x, y, inside, samples=4):
    """Share of pixel (x, y) inside a shape, by supersampling: smooth edges on opaque ground."""
    hits = 0
    for i in range(samples):
        for j in range(samples):
            if inside(x + (i + 0.5) / samples, y + (j + 0.5) / samples):
                hits += 1
    return hits / (samples * samples)


def body_colour(y):
    return mix((0xFF, 0xFF, 0xFF), (0xEC, 0xF1, 0xF7), (y - BAND_H) / (PANEL_H - BAND_H))


BODY_ROWS = [body_colour(y) for y in range(PANEL_H)]
ARC = (0xD6, 0xE4, 0xF3)


def panel(x, y):
    near_corner = (x < 9 or x > PANEL_W - 10) and (y < 9 or y > PANEL_H - 10)
    if near_corner and not in_rounded_rect(x + 0.5, y + 0.5, PANEL_W, PANEL_H, 9):
        return (0, 0, 0, 0)
    if x in (0, PANEL_W - 1) or y in (0, PANEL_H - 1) or (
            near_corner and not in_rounded_rect(x - 0.5, y - 0.5, PANEL_W - 2, PANEL_H - 2, 8)):
        return (0x14, 0x36, 0x5C, 255)  # a one-pixel frame
    if y < BAND_H:
        top, bottom = (0x25, 0x5C, 0x96), (0x17, 0x42, 0x72)
        return mix(top, bottom, y / BAND_H) + (255,)
    if y == BAND_H:
        return (0x0F, 0x2E, 0x50, 255)
    # The body: white fading to a cool grey, with a soft arc of light blue in the lower right.
    colour = BODY_ROWS[y]
    if x > 360:
        dx, dy = x - 700, y - 420
        if 250 * 250 <= dx * dx + dy * dy <= 330 * 330:
            colour = mix(colour, ARC, 0.45)
    return colour + (255,)


def branding(x, y):
    size = 28
    tile = coverage(x, y, lambda u, v: in_rounded_rect(u, v, size, size, 6))
    if tile == 0:
        return (0, 0, 0, 0)

    def arrow(u, v):
        u, v = u / size, v / size
        shaft = abs(u - 0.5) <= 0.09 and 0.18 <= v <= 0.55
        head = 0.50 <= v <= 0.74 and abs(u - 0.5) <= (0.74 - v) * 1.15
        bar = 0.80 <= v <= 0.88 and 0.24 <= u <= 0.76
        return shaft or head or bar

    mark = coverage(x, y, arrow)
    colour = mix((0xFF, 0xFF, 0xFF), (0x1E, 0x6F, 0xC8), mark)
    return colour + (int(round(255 * tile)),)


def track(x, y):
    straight = BAR_H // 2 <= x < TRACK_W - BAR_H // 2  # only the rounded ends need sampling
    inside = 1 if straight else coverage(x, y, lambda u, v: in_rounded_rect(u, v, TRACK_W, BAR_H, BAR_H / 2))
    colour = mix((0xC9, 0xD3, 0xDE), (0xE4, 0xE9, 0xEF), y / (BAR_H - 1))  # a sunken groove
    return colour + (int(round(255 * inside)),)


def fill_colour(y):
    colour = mix((0x5C, 0xAE, 0xF5), (0x1C, 0x6C, 0xC6), y / (BAR_H - 1))
    if y == 2:
        colour = mix(colour, (0xFF, 0xFF, 0xFF), 0.35)  # a highlight line
    return colour


def fill_cap(leading):
    """The fill's rounded ends, 8 pixels wide: the left start, or the leading right edge."""
    def pixel(x, y):
        u_offset = -8 if leading else 0  # the cap is one half of a 16-pixel-wide rounded bar

        def inside(u, v):
            return in_rounded_rect(u - u_offset, v, 16, BAR_H, BAR_H / 2)

        alpha = coverage(x, y, inside)
        return fill_colour(y) + (int(round(255 * alpha)),)
    return pixel


def close_button(x, y):
    """Two 20 x 20 states: a light cross on the band above, the same on a red disc below."""
    hover = y >= 20
    y %= 20
    disc = coverage(x, y, lambda u, v: (u - 10) ** 2 + (v - 10) ** 2 <= 9.5 ** 2) if hover else 0

    def cross(u, v):
        a, b = u - 10, v - 10
        return max(abs(a), abs(b)) <= 5 and (abs(a - b) <= 1.1 or abs(a + b) <= 1.1)

    mark = coverage(x, y, cross)
    base = (0xD9, 0x3A, 0x2E)
    if hover:
        colour = mix(base, (0xFF, 0xFF, 0xFF), mark)
        alpha = max(disc, mark)
    else:
        colour = (0xE8, 0xEF, 0xF7)
        alpha = mark
    return colour + (int(round(255 * alpha)),)


IMAGES = {
    "Background_small.png": (PANEL_W, PANEL_H, panel),
    "branding.png": (28, 28, branding),
    "progress_background.png": (TRACK_W, BAR_H, track),
    "progress_value.png": (1, BAR_H, lambda x, y: fill_colour(y) + (255,)),
    "progress_end.png": (8, BAR_H, fill_cap(False)),
    "progress_head.png": (8, BAR_H, fill_cap(True)),
    "close.png": (20, 40, close_button),
}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-ui-images.py OUTPUT_FOLDER")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, (width, height, pixel) in IMAGES.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(png(width, height, pixel))


if __name__ == "__main__":
    main()
