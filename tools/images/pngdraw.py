"""Small drawing helpers of the image tools: PNG output and anti-aliased shapes, pure Python."""
import struct
import zlib


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, width, height, rgba_rows):
    """Writes 8-bit RGBA; rgba_rows holds one bytes object of width * 4 (R, G, B, A) per row."""
    raw = b"".join(b"\x00" + row for row in rgba_rows)  # filter type: none
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
                  + chunk(b"IEND", b""))


def inside_rounded_rect(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def render(width, height, colour_at, sub=4):
    """Rows of RGBA bytes; colour_at(x, y) gives (r, g, b) or (r, g, b, a) for a sample point, or
    None where the image is transparent. Each pixel averages sub x sub samples."""
    rows = []
    for py in range(height):
        row = bytearray()
        for px in range(width):
            r = g = b = a = 0
            for sy in range(sub):
                for sx in range(sub):
                    c = colour_at(px + (sx + 0.5) / sub, py + (sy + 0.5) / sub)
                    if c is None:
                        continue
                    alpha = c[3] if len(c) == 4 else 255
                    r += c[0] * alpha
                    g += c[1] * alpha
                    b += c[2] * alpha
                    a += alpha
            if a:
                row += bytes([r // a, g // a, b // a, a // (sub * sub)])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows
