#!/usr/bin/env python3
"""Draws resources/icons/copy.png: two overlapping sheets of paper, 32 x 32,
8-bit RGBA, not interlaced.

The sheets are filled in near-white and outlined in a dark slate colour, so the
outline carries the shape on a light theme and the fill carries it on a dark
one. Uses only the standard library so the icon can be redrawn anywhere:

    python3 resources/make_copy_icon.py
"""
import os
import struct
import zlib

SIZE = 32

TRANSPARENT = (0, 0, 0, 0)
OUTLINE = (52, 68, 88, 255)
BACK_FILL = (214, 224, 236, 255)
FRONT_FILL = (252, 253, 255, 255)
TEXT_LINE = (120, 140, 164, 255)
FOLD_FILL = (178, 194, 214, 255)
SHADOW = (0, 0, 0, 60)


def blank():
    return [[TRANSPARENT for _ in range(SIZE)] for _ in range(SIZE)]


def fill_rect(img, x0, y0, x1, y1, colour):
    """Fills the inclusive rectangle (x0, y0)-(x1, y1)."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def sheet(img, x0, y0, x1, y1, fill, fold):
    """An outlined sheet whose top-right corner is folded over by `fold` pixels."""
    fill_rect(img, x0, y0, x1, y1, OUTLINE)
    fill_rect(img, x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill)
    # Cut the corner away diagonally, then draw the fold's edges.
    for i in range(fold):
        for x in range(x1 - fold + 1 + i, x1 + 1):
            img[y0 + i][x] = TRANSPARENT
    for i in range(fold + 1):
        img[y0 + i][x1 - fold + i] = OUTLINE
    fill_rect(img, x1 - fold, y0, x1 - fold, y0 + fold, OUTLINE)
    fill_rect(img, x1 - fold, y0 + fold, x1, y0 + fold, OUTLINE)
    for i in range(1, fold):
        for x in range(x1 - fold + 1, x1 - fold + i):
            img[y0 + i][x] = FOLD_FILL


def draw():
    img = blank()
    # Back sheet, up and to the left.
    sheet(img, 3, 2, 20, 24, BACK_FILL, 5)
    # A soft shadow so the front sheet lifts off the back one.
    fill_rect(img, 12, 30, 29, 30, SHADOW)
    fill_rect(img, 29, 10, 29, 30, SHADOW)
    # Front sheet, down and to the right, with lines of "text".
    sheet(img, 10, 8, 28, 29, FRONT_FILL, 5)
    for y in (15, 18, 21, 24):
        fill_rect(img, 14, y, 24 if y != 24 else 20, y, TEXT_LINE)
    return img


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(img):
    # Colour type 6 (RGBA), bit depth 8, deflate, adaptive filtering, no interlace.
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    raw = bytearray()
    for row in img:
        raw.append(0)  # filter type None for every scanline
        for pixel in row:
            raw.extend(pixel)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons", "copy.png")
    with open(out, "wb") as f:
        f.write(encode_png(draw()))


if __name__ == "__main__":
    main()
