#!/usr/bin/env python3
"""Draws the application icon: a blue rounded tile with a white download arrow, at 64, 48, 32 and
16 pixels, written as an .ico of 32-bit DIB images (readable on every Windows the stub supports).

usage: make-icon.py OUTPUT.ico
"""
import struct
import sys

SIZES = (64, 48, 32, 16)
TILE = (0x31, 0x66, 0x9B)  # the product's blue
ARROW = (0xFF, 0xFF, 0xFF)


def inside_rounded_square(x, y, size, radius):
    lo, hi = radius, size - 1 - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y, size):
    # Unit coordinates: a shaft from the top down to the middle, a head below it, a bar at the foot.
    u, v = (x + 0.5) / size, (y + 0.5) / size
    shaft = abs(u - 0.5) <= 0.09 and 0.18 <= v <= 0.55
    head = 0.50 <= v <= 0.74 and abs(u - 0.5) <= (0.74 - v) * 1.15
    bar = 0.80 <= v <= 0.88 and 0.24 <= u <= 0.76
    return shaft or head or bar


def pixel(x, y, size):
    if not inside_rounded_square(x, y, size, max(2, size // 6)):
        return None
    return ARROW if inside_arrow(x, y, size) else TILE


def dib(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask_row_bytes = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in range(size - 1, -1, -1):  # DIB rows run bottom-up
        bits = bytearray(mask_row_bytes)
        for x in range(size):
            rgb = pixel(x, row, size)
            if rgb is None:
                colour += bytes((0, 0, 0, 0))
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                colour += bytes((rgb[2], rgb[1], rgb[0], 0xFF))
        mask += bits
    return header + bytes(colour) + bytes(mask)


def main():
    images = [dib(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
