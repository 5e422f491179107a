#!/usr/bin/env python3
"""Draws the console's icon: a rounded blue square with two white arrows, one
going out and one coming back. Standard library only.

Run it from this folder after changing the drawing; the pictures are kept in
git. It writes the window icon (icon128.png, 64 x 64 pixels) here, and the
desktop icons for the hicolor theme, the same drawing as an SVG and as PNGs
from 16 to 256 pixels, to packaging/icons/ of the project.
"""
import os
import struct
import zlib

SIZE = 64  # the drawing's own units; the window icon has this many pixels
HICOLOR_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
ICON_NAME = "org.quorvel.SocketClient"
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


# An arrow: a shaft of half-height 3 from X0 and a triangular head of length
# HEAD and half-height 9 ending at X1.
X0, X1, HEAD = 12.0, 52.0, 14.0
OUT_ARROW_Y, BACK_ARROW_Y = 22.0, 42.0


def inside_arrow(x, y, y_mid, pointing_right):
    x0, x1, head = X0, X1, HEAD
    if not pointing_right:
        x = x0 + x1 - x  # mirror
    if x0 <= x <= x1 - head and abs(y - y_mid) <= 3.0:
        return True
    if x1 - head <= x <= x1:
        half = 9.0 * (x1 - x) / head
        return abs(y - y_mid) <= half
    return False


def pixel(px, py, scale):
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / scale
            y = (py + (sy + 0.5) / SAMPLES) / scale
            if not inside_rounded_square(x, y, 1.0, 12.0):
                continue
            if inside_arrow(x, y, OUT_ARROW_Y, True) or inside_arrow(x, y, BACK_ARROW_Y, False):
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


def png(size):
    scale = size / SIZE
    rows = b""
    for py in range(size):
        rows += b"\x00" + b"".join(bytes(pixel(px, py, scale)) for px in range(size))
    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(rows, 9))
    data += chunk(b"IEND", b"")
    return data


def arrow_points(y_mid, pointing_right):
    shaft_end = X1 - HEAD
    points = [(X0, y_mid - 3), (shaft_end, y_mid - 3), (shaft_end, y_mid - 9), (X1, y_mid),
              (shaft_end, y_mid + 9), (shaft_end, y_mid + 3), (X0, y_mid + 3)]
    if not pointing_right:
        points = [(X0 + X1 - x, y) for x, y in points]
    return " ".join("%g,%g" % point for point in points)


def svg():
    def colour(rgb):
        return "#%02x%02x%02x" % rgb

    return f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}" viewBox="0 0 {SIZE} {SIZE}">
  <rect x="1" y="1" width="{SIZE - 2}" height="{SIZE - 2}" rx="12" fill="{colour(BORDER)}"/>
  <rect x="3" y="3" width="{SIZE - 6}" height="{SIZE - 6}" rx="10" fill="{colour(BACKGROUND)}"/>
  <polygon points="{arrow_points(OUT_ARROW_Y, True)}" fill="{colour(ARROW)}"/>
  <polygon points="{arrow_points(BACK_ARROW_Y, False)}" fill="{colour(ARROW)}"/>
</svg>
"""


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write(os.path.join(here, "icon128.png"), png(SIZE))
    icons = os.path.join(here, "..", "..", "..", "packaging", "icons")
    os.makedirs(icons, exist_ok=True)
    write(os.path.join(icons, ICON_NAME + ".svg"), svg().encode("ascii"))
    for size in HICOLOR_SIZES:
        write(os.path.join(icons, "%s-%d.png" % (ICON_NAME, size)), png(size))


if __name__ == "__main__":
    main()
