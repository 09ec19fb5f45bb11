#!/usr/bin/env python3
"""Draws the tray icon: a mouse outline with its wheel on the dark panel colour, as a 32x32 PNG.

Usage: make_tray_icon.py OUTPUT.png
Pure Python (zlib and struct only); the shapes are anti-aliased by 4x4 supersampling.
"""
import struct
import sys
import zlib

SIZE = 32
SUB = 4

PANEL = (0x2B, 0x2F, 0x35)
ACCENT = (0x4D, 0xA3, 0xFF)
TEXT = (0xD7, 0xDA, 0xE0)


def inside_rounded_rect(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def colour_at(x, y):
    """The colour of one sample point, or None where the icon is transparent."""
    if not inside_rounded_rect(x, y, 0.5, 0.5, 31.5, 31.5, 7):
        return None
    body = inside_ellipse(x, y, 16, 17, 8.5, 11.5)
    inner = inside_ellipse(x, y, 16, 17, 6.5, 9.5)
    if body and not inner:
        return ACCENT
    if inside_rounded_rect(x, y, 14.8, 8.5, 17.2, 13.5, 1.2):
        return TEXT  # the wheel
    if inner and abs(x - 16) < 0.8 and y < 15:
        return ACCENT  # the split between the two buttons
    if inner and y < 15 and abs(y - 15) < 0.8:
        return ACCENT  # the buttons' lower edge
    return PANEL


def pixels():
    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # filter type: none
        for px in range(SIZE):
            r = g = b = a = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    c = colour_at(px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        a += 1
            if a:
                row += bytes([r // a, g // a, b // a, a * 255 // (SUB * SUB)])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels(), 9))
           + chunk(b"IEND", b""))
    with open(sys.argv[1], "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main()
