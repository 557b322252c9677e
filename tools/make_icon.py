#!/usr/bin/env python3
"""Draws korvamon's program icon, a battery with a lightning bolt, and writes it
as a Windows icon file with a 16x16 and a 32x32 image of 32-bit colour.

    tools/make_icon.py [output [charge]]     (default: program/korvamon.ico)

The charge colour (RRGGBB, default green 2EA83E) tells korvatray's two icons
apart: its main icon, shown while the service runs, is the green one; its
window's icon, shown otherwise, is orange (D9661E).

Only the standard library is used; the shapes are drawn in unit coordinates and
each pixel is sampled 4x4 times, so both sizes come out smooth.
"""
import os
import struct
import sys

OUTLINE = (0x1E, 0x2A, 0x3A)  # RGB
TERMINAL = (0x55, 0x60, 0x6E)
CHARGE = (0x2E, 0xA8, 0x3E)
BOLT = (0xFF, 0xD4, 0x1E)

BOLT_POLYGON = [(0.58, 0.24), (0.34, 0.58), (0.49, 0.58), (0.42, 0.84),
                (0.68, 0.47), (0.53, 0.47), (0.63, 0.24)]


def inside_rect(x, y, left, top, right, bottom):
    return left <= x < right and top <= y < bottom


def inside_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def colour_at(x, y, charge):
    """The colour of the topmost shape at (x, y), or None where it is clear."""
    if inside_polygon(x, y, BOLT_POLYGON):
        return BOLT
    if inside_rect(x, y, 0.28, 0.21, 0.72, 0.88):
        return charge
    if inside_rect(x, y, 0.21, 0.14, 0.79, 0.95):
        return OUTLINE
    if inside_rect(x, y, 0.38, 0.05, 0.62, 0.15):
        return TERMINAL
    return None


def render(size, charge, samples=4):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((px + (sx + 0.5) / samples) / size,
                                  (py + (sy + 0.5) / samples) / size, charge)
                    if c:
                        r, g, b, hits = r + c[0], g + c[1], b + c[2], hits + 1
            if hits:
                row.append((r // hits, g // hits, b // hits, 255 * hits // samples ** 2))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def icon_image(size, charge):
    """One image of the icon file: header, colour rows and mask rows, bottom-up."""
    rows = render(size, charge)
    colour = b"".join(struct.pack("<4B", b, g, r, a)
                      for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + bytes(mask)


def icon_file(sizes, charge):
    images = [icon_image(s, charge) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "program", "korvamon.ico")
    charge = tuple(bytes.fromhex(sys.argv[2])) if len(sys.argv) > 2 else CHARGE
    with open(path, "wb") as f:
        f.write(icon_file([16, 32], charge))
    print(path)


if __name__ == "__main__":
    main()
