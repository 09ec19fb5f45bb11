#!/usr/bin/env python3
"""Draws the images of the frameless windows and dialogs into a folder, as PNG files:

  sprite.png       495x487; the square at (261, 57), 24x24, gives the window shadow's shape
  background.png   600x380 dialog: a dark panel from (10, 10) to (589, 369) in a soft shadow
  bg_update.png, bg_downlode.png   375x304 update dialog: header with an arrow up (down), version pill
  close_normal.png, close_hover.png, close_press.png   18x18 close button
  uninstall_n.png, uninstall_h.png, uninstall_p.png   94x30 main button (normal, hover, pressed)
  cancel_n.png, cancel_h.png, cancel_p.png   94x30 second button

Usage: make_window_images.py OUTPUT_FOLDER
Pure Python (pngdraw beside it); shapes are anti-aliased by supersampling.

The shadow square is a corner of a shadow around a window whose inside is the white block in its
lower right (12x12 from (12, 12)); the shadow's alpha is 255 minus the blue channel. Along the
bottom row it runs PROFILE from the outer edge to the block, and so does every column right of the
corner downward; the corner itself falls off with the distance from the block's corner, to the
faint FAR grey beyond the profile.
"""
import math
import os
import sys

from pngdraw import inside_rounded_rect, render, write_png


PROFILE = (8, 10, 13, 18, 23, 33, 44, 54, 66, 78, 95, 110)  # alpha, outer edge to the window
FAR = 3  # alpha where the corner lies beyond the profile
SPRITE_SIZE = (495, 487)
SPRITE_SQUARE = (261, 57, 24)

PANEL = (0x2B, 0x2F, 0x35)
HEADER = (0x24, 0x28, 0x2D)
EDGE = (0x3E, 0x44, 0x4D)
ACCENT = (0x4D, 0xA3, 0xFF)
ACCENT_LIGHT = (0x6B, 0xB4, 0xFF)
ACCENT_DARK = (0x2F, 0x6F, 0xB8)
ACCENT_PRESSED = (0x3A, 0x8A, 0xE0)
GREY = (0x96, 0x96, 0x96)
WHITE = (0xFF, 0xFF, 0xFF)
CLOSE_HOVER = (0xE0, 0x52, 0x4F)
CLOSE_PRESS = (0xB8, 0x3F, 0x3C)


# ---- Shapes (coordinates in pixels, a pixel's centre at +0.5)

def near_segment(x, y, ax, ay, bx, by, half_width):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - ax - t * dx, y - ay - t * dy) <= half_width


def in_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])
    s1, s2, s3 = side(a, b), side(b, c), side(c, a)
    return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)


def mix(c1, c2, t):
    return tuple(round(p + (q - p) * t) for p, q in zip(c1, c2))


# ---- The shadow sprite (exact pixels, no supersampling)

def profile_at(index):
    """The profile's alpha at a fractional index (0 the outer edge); FAR one step beyond it."""
    if index >= len(PROFILE) - 1:
        return PROFILE[-1]
    if index <= -1:
        return FAR
    low = math.floor(index)
    t = index - low
    below = FAR if low < 0 else PROFILE[low]
    return round(below + (PROFILE[low + 1] - below) * t)


def shadow_square_alpha(x, y):
    inner = len(PROFILE)  # the window's block starts here on both axes
    if x >= inner and y >= inner:
        return 0
    if x >= inner:
        return PROFILE[y]
    if y >= inner:
        return PROFILE[x]
    distance = math.hypot(inner - (x + 0.5), inner - (y + 0.5))
    return profile_at(inner - 0.5 - distance)


def sprite_rows():
    width, height = SPRITE_SIZE
    left, top, side = SPRITE_SQUARE
    rows = []
    for y in range(height):
        row = bytearray(width * 4)
        if top <= y < top + side:
            for x in range(side):
                grey = 255 - shadow_square_alpha(x, y - top)
                row[(left + x) * 4:(left + x) * 4 + 4] = bytes([grey, grey, grey, 255])
        rows.append(bytes(row))
    return rows


# ---- Dialog pictures

def rect_distance(x, y, left, top, right, bottom):
    dx = max(left - x, 0.0, x - right)
    dy = max(top - y, 0.0, y - bottom)
    return math.hypot(dx, dy)


def background_at(x, y):
    if 10 <= x < 590 and 10 <= y < 370:
        if x < 11 or x >= 589 or y < 11 or y >= 369:
            return EDGE
        if y < 60:
            return HEADER if y < 59 else EDGE
        return PANEL
    d = rect_distance(x, y, 10, 10, 590, 370)
    if d >= 10.5:
        return None
    return (0, 0, 0, round(90 * (1 - d / 10.5) ** 2))


def update_background(arrow_up):
    def colour_at(x, y):
        if x < 1 or x >= 374 or y < 1 or y >= 303:
            return EDGE
        if inside_rounded_rect(x, y, 10, 110, 150, 130, 10):
            return ACCENT_PRESSED
        if y < 100:
            cx, cy = 187.5, 50
            if arrow_up:
                head = in_triangle(x, y, (cx, cy - 26), (cx - 20, cy - 4), (cx + 20, cy - 4))
                stem = cx - 7 <= x <= cx + 7 and cy - 5 <= y <= cy + 22
            else:
                head = in_triangle(x, y, (cx, cy + 16), (cx - 20, cy - 6), (cx + 20, cy - 6))
                stem = cx - 7 <= x <= cx + 7 and cy - 30 <= y <= cy - 5
                stem = stem or (cx - 26 <= x <= cx + 26 and cy + 21 <= y <= cy + 26)
            if head or stem:
                return WHITE
            return mix(ACCENT_DARK, ACCENT, y / 100)
        return PANEL
    return colour_at


def close_button(cross, circle):
    def colour_at(x, y):
        if near_segment(x, y, 5.5, 5.5, 12.5, 12.5, 0.9) or near_segment(x, y, 12.5, 5.5, 5.5, 12.5, 0.9):
            return cross
        if circle and (x - 9) ** 2 + (y - 9) ** 2 <= 8.5 ** 2:
            return circle
        return None
    return colour_at


def button(fill, border):
    def colour_at(x, y):
        if not inside_rounded_rect(x, y, 0.5, 0.5, 93.5, 29.5, 4):
            return None
        if border and not inside_rounded_rect(x, y, 1.5, 1.5, 92.5, 28.5, 3):
            return border
        return fill
    return colour_at


IMAGES = {
    "background.png": (600, 380, background_at),
    "bg_update.png": (375, 304, update_background(True)),
    "bg_downlode.png": (375, 304, update_background(False)),
    "close_normal.png": (18, 18, close_button(GREY, None)),
    "close_hover.png": (18, 18, close_button(WHITE, CLOSE_HOVER)),
    "close_press.png": (18, 18, close_button(WHITE, CLOSE_PRESS)),
    "uninstall_n.png": (94, 30, button(ACCENT, None)),
    "uninstall_h.png": (94, 30, button(ACCENT_LIGHT, None)),
    "uninstall_p.png": (94, 30, button(ACCENT_PRESSED, None)),
    "cancel_n.png": (94, 30, button((0x3A, 0x3F, 0x47), (0x4D, 0x53, 0x5C))),
    "cancel_h.png": (94, 30, button((0x45, 0x4B, 0x54), (0x5A, 0x61, 0x6B))),
    "cancel_p.png": (94, 30, button((0x30, 0x34, 0x3B), (0x4D, 0x53, 0x5C))),
}


def main():
    if len(sys.argv) != 2 or not os.path.isdir(sys.argv[1]):
        sys.exit(__doc__)
    folder = sys.argv[1]
    write_png(os.path.join(folder, "sprite.png"), SPRITE_SIZE[0], SPRITE_SIZE[1], sprite_rows())
    for name, (width, height, colour_at) in IMAGES.items():
        write_png(os.path.join(folder, name), width, height, render(width, height, colour_at))


if __name__ == "__main__":
    main()
