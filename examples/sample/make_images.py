#!/usr/bin/env python3
"""Writes the sample's images: icon32.png, icon16.png, preview.png and
preview-mask.pbm.  Deterministic (no timestamps), standard library only, so
the committed files can be checked by running it again:
    python3 examples/sample/make_images.py examples/sample
"""
import os
import struct
import sys
import zlib


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, width, height, rows, colour_type, pixels_per_metre=None):
    """rows: lists of byte values, already interleaved (RGB = 2, RGBA = 6)."""
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    data = b"\x89PNG\r\n\x1a\n"
    data += png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    if pixels_per_metre:
        data += png_chunk(b"pHYs", struct.pack(">IIB", pixels_per_metre, pixels_per_metre, 1))
    data += png_chunk(b"IDAT", zlib.compress(raw, 9))
    data += png_chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(data)


# Colours of the Macintosh palettes, so that the icons convert exactly.
WHITE = (0xFF, 0xFF, 0xFF)
BLACK = (0x00, 0x00, 0x00)
RED = (0xDD, 0x08, 0x06)
BLUE = (0x00, 0x00, 0xD4)
YELLOW = (0xFC, 0xF3, 0x05)
GREY = (0xC0, 0xC0, 0xC0)


def document_icon(side):
    """A page with a folded corner, a blue title bar, red and grey lines."""
    fold = side // 4
    left, right = side // 8, side - side // 8 - 1
    rows = []
    for y in range(side):
        row = []
        for x in range(side):
            inside = left <= x <= right and 0 <= y <= side - 1
            in_fold = x > right - fold and y < fold and (x - (right - fold)) > y
            if not inside or in_fold:
                row += [0, 0, 0, 0]  # transparent
                continue
            edge = x in (left, right) or y in (0, side - 1) or (x - (right - fold)) == y and y < fold
            if edge:
                colour = BLACK
            elif y < fold and x >= right - fold:
                colour = GREY
            elif side // 6 <= y < side // 6 + max(2, side // 10) and x < right - fold:
                colour = BLUE
            elif y >= side // 3 and y % (side // 8) == 0 and x < right - 2:
                colour = RED if y < side // 2 else BLACK
            elif y >= side - side // 4 and left + 2 <= x <= left + side // 4:
                colour = YELLOW
            else:
                colour = WHITE
            row += [*colour, 255]
        rows.append(row)
    return rows


def preview(width, height):
    """A sky gradient, a sun and a green hill."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            red = 40 + 120 * y // height
            green = 90 + 120 * y // height
            blue = 230 - 60 * y // height
            if (x - width * 3 // 4) ** 2 + (y - height // 4) ** 2 < (height // 7) ** 2:
                red, green, blue = 250, 210, 40
            if y > height * 2 // 3 + ((x - width // 3) ** 2) // (width * 2):
                red, green, blue = 30, 150 - 40 * y // height, 50
            row += [red, green, blue]
        rows.append(row)
    return rows


def preview_mask(width, height):
    """A rounded rectangle, as a raw PBM (bit 1 = black = inside)."""
    radius = height // 5
    lines = []
    for y in range(height):
        bits = 0
        for x in range(width):
            dx = max(radius - x, x - (width - 1 - radius), 0)
            dy = max(radius - y, y - (height - 1 - radius), 0)
            inside = dx * dx + dy * dy <= radius * radius
            bits = (bits << 1) | int(inside)
        padding = (8 - width % 8) % 8
        lines.append((bits << padding).to_bytes((width + 7) // 8, "big"))
    return b"P4\n# preview mask: black is inside\n%d %d\n" % (width, height) + b"".join(lines)


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_png(os.path.join(directory, "icon32.png"), 32, 32, document_icon(32), 6)
    write_png(os.path.join(directory, "icon16.png"), 16, 16, document_icon(16), 6)
    # 2835 pixels per metre is 72 pixels per inch.
    write_png(os.path.join(directory, "preview.png"), 128, 96, preview(128, 96), 2, 2835)
    with open(os.path.join(directory, "preview-mask.pbm"), "wb") as out:
        out.write(preview_mask(128, 96))


if __name__ == "__main__":
    main()
