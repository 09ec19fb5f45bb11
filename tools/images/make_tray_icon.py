#!/usr/bin/env python3
"""Draws the tray icon: a mouse outline with its wheel on the dark panel colour, as a 32x32 PNG.

Usage: make_tray_icon.py OUTPUT.png
Pure Python (pngdraw beside it); the shapes are anti-aliased by 4x4 supersampling.
"""
import sys

from pngdraw import inside_rounded_rect, render, write_png

SIZE = 32
SUB = 4

PANEL = (0x2B, 0x2F, 0x35)
ACCENT = (0x4D, 0xA3, 0xFF)
TEXT = (0xD7, 0xDA, 0xE0)


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


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    write_png(sys.argv[1], SIZE, SIZE, render(SIZE, SIZE, colour_at, SUB))


if __name__ == "__main__":
    main()
