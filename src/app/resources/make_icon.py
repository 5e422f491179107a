#!/usr/bin/env python3
"""Draws the console's window icon (icon128.png): a rounded blue square with
two white arrows, one going out and one coming back. Standard library only.

Run it from this folder after changing the drawing; the PNG is kept in git.
"""
import struct
import zlib

SIZE = 64
SAMPLES = 4  # supersampling per axis, for smooth edges

BACKGROUND = (28, 84, 150)
BORDER = (14, 46, 88)
ARROW = (255, 255, 255)


def inside_rounded_square(x, y, inset, radius):
    lo, hi = inset, SIZE - inset
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y, y_mid, pointing_right):
    # A shaft of half-height 3 and a triangular head of half-height 9.
    x0, x1 = 12.0, 52.0
    head = 14.0
    if not pointing_right:
        x = x0 + x1 - x  # mirror
    if x0 <= x <= x1 - head and abs(y - y_mid) <= 3.0:
        return True
    if x1 - head <= x <= x1:
        half = 9.0 * (x1 - x) / head
        return abs(y - y_mid) <= half
    return False


def pixel(px, py):
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = px + (sx + 0.5) / SAMPLES
            y = py + (sy + 0.5) / SAMPLES
            if not inside_rounded_square(x, y, 1.0, 12.0):
                continue
            if inside_arrow(x, y, 22.0, True) or inside_arrow(x, y, 42.0, False):
                colour = ARROW
            elif inside_rounded_square(x, y, 3.0, 10.0):
                colour = BACKGROUND
            else:
                colour = BORDER
            for i in range(3):
                acc[i] += colour[i]
            acc[3] += 255
    n = SAMPLES * SAMPLES
    alpha = acc[3] / n
    if alpha == 0:
        return (0, 0, 0, 0)
    covered = acc[3] / 255
    return tuple(int(round(acc[i] / covered)) for i in range(3)) + (int(round(alpha)),)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    rows = b""
    for py in range(SIZE):
        rows += b"\x00" + b"".join(bytes(pixel(px, py)) for px in range(SIZE))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows, 9))
    png += chunk(b"IEND", b"")
    with open("icon128.png", "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main()
