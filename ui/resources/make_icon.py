#!/usr/bin/env python3
"""Draws the tool's icon: a database cylinder with a green arrow pressing it
down, 32x32 pixels in a 16-colour palette, written as a 4-bit indexed PNG.

Only the standard library is used, so the committed icon.png can be rebuilt
anywhere:  python3 ui/resources/make_icon.py ui/resources/icon.png
"""
import struct
import sys
import zlib

SIZE = 32

# The 16 colours; index 0 is transparent.
PALETTE = [
    (0, 0, 0),        # 0 transparent
    (0, 0, 0),        # 1 outline
    (64, 64, 64),     # 2 dark grey
    (128, 128, 128),  # 3 grey
    (176, 176, 176),  # 4 light grey
    (224, 224, 224),  # 5 pale grey
    (255, 255, 255),  # 6 white
    (0, 77, 0),       # 7 header green
    (0, 128, 0),      # 8 green
    (64, 176, 64),    # 9 light green
    (0, 64, 128),     # 10 dark blue
    (32, 96, 176),    # 11 blue
    (96, 144, 208),   # 12 light blue
    (160, 192, 232),  # 13 pale blue
    (192, 0, 0),      # 14 red (unused, keeps the palette at 16)
    (255, 224, 0),    # 15 yellow (unused)
]


def draw():
    px = [[0] * SIZE for _ in range(SIZE)]

    def put(x, y, c):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            px[y][x] = c

    def in_ellipse(x, y, cx, cy, rx, ry):
        return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0

    # Cylinder: x 3..24, body from y 14 to 28, ellipse half-height 3.
    left, right, top, bottom = 3, 24, 14, 28
    cx, rx, ry = (left + right) / 2, (right - left) / 2 + 0.5, 3.2
    for y in range(SIZE):
        for x in range(SIZE):
            body = left <= x <= right and top <= y <= bottom
            cap_bottom = in_ellipse(x, y, cx, bottom, rx, ry)
            if body or cap_bottom:
                # Shade the body across its width: light at left, dark at right.
                t = (x - left) / (right - left)
                put(x, y, 13 if t < 0.25 else 12 if t < 0.6 else 11 if t < 0.85 else 10)
    # Rings that separate the cylinder's stacked disks.
    for ring_y in (19, 24):
        for x in range(left, right + 1):
            dy = ry * (1 - ((x - cx) / rx) ** 2) ** 0.5
            put(x, int(round(ring_y + dy)), 10)
    # The top face, lighter, with an outline.
    for y in range(SIZE):
        for x in range(SIZE):
            if in_ellipse(x, y, cx, top, rx, ry):
                put(x, y, 5 if in_ellipse(x, y, cx, top, rx - 1.5, ry - 1) else 4)
    # Outline of the sides and the bottom rim.
    for y in range(top, bottom + 1):
        put(left - 1, y, 1)
        put(right + 1, y, 1)
    for x in range(left, right + 1):
        dy = ry * (1 - ((x - cx) / rx) ** 2) ** 0.5
        put(x, int(round(bottom + dy)) + 1, 1)
        put(x, int(round(top - dy)) - 1, 1)

    # The arrow: a green shaft and head pointing down onto the top face.
    for y in range(1, 8):
        for x in range(24, 29):
            put(x, y, 8 if x < 27 else 7)
    for row, y in enumerate(range(8, 14)):
        half = 6 - row
        for x in range(26 - half, 27 + half):
            put(x, y, 9 if x < 26 else 8 if x < 27 + half - 1 else 7)
    for y in range(1, 8):
        put(23, y, 1)
        put(29, y, 1)
    for x in range(23, 30):
        put(x, 0, 1)
    return px


def png(px):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in px:
        raw.append(0)  # no filter
        for x in range(0, SIZE, 2):
            raw.append((row[x] << 4) | row[x + 1])
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 4, 3, 0, 0, 0)  # 4-bit, indexed
    plte = b"".join(bytes(c) for c in PALETTE)
    trns = bytes([0])  # index 0 fully transparent, the rest opaque
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", plte)
            + chunk(b"tRNS", trns) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "icon.png"
    with open(out, "wb") as f:
        f.write(png(draw()))
