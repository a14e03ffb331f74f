#!/usr/bin/env python3
"""Draws the application icon (a chip with pins on a blue ground) at 16, 32 and 48 pixels
into tarvok.ico. Run again only to change the picture; the .ico is kept in the repository."""
import struct
import sys


def pixel(size, x, y):
    u, v = (x + 0.5) / size, (y + 0.5) / size
    blue, gold, dark, clear = (0xB0, 0x50, 0x10, 0xFF), (0x30, 0xB8, 0xF0, 0xFF), \
        (0x30, 0x20, 0x10, 0xFF), (0, 0, 0, 0)
    if not (0.03 < u < 0.97 and 0.03 < v < 0.97):
        return clear
    body = 0.28 < u < 0.72 and 0.28 < v < 0.72
    if body:
        return dark if (0.40 < u < 0.60 and 0.40 < v < 0.60) else gold
    pins = [0.34, 0.5, 0.66]
    for p in pins:
        if abs(u - p) < 0.045 and (0.14 < v < 0.28 or 0.72 < v < 0.86):
            return gold
        if abs(v - p) < 0.045 and (0.14 < u < 0.28 or 0.72 < u < 0.86):
            return gold
    return blue


def image(size):
    rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(b"".join(bytes(pixel(size, x, y)) for x in range(size)))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + bytes(mask_row * size)


def main(path):
    sizes = [16, 32, 48]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    open(path, "wb").write(out + b"".join(images))


main(sys.argv[1] if len(sys.argv) > 1 else "tarvok.ico")
