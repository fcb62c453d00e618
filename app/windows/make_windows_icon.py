#!/usr/bin/env python3
"""Writes the tool's icon for the Windows program's resources: the very
picture ui/resources/make_icon.py draws, 32x32 in its 16 colours, as a
classic 4-bit icon (colour bitmap plus transparency mask).

    python3 app/windows/make_windows_icon.py app/windows/sqllogclean.ico
"""
import pathlib
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
# The one drawing of the icon; no bytecode cache left beside it in the tree.
sys.dont_write_bytecode = True
sys.path.insert(0, str(ROOT / "ui" / "resources"))
import make_icon  # noqa: E402


def ico(px, palette, size):
    colours = bytearray()
    mask = bytearray()
    for row in reversed(px):  # bitmaps are stored bottom row first
        for x in range(0, size, 2):
            colours.append((row[x] << 4) | row[x + 1])
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (1 if row[x] == 0 else 0)  # index 0 is transparent
        mask += bits.to_bytes(size // 8, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, len(colours) + len(mask), 0, 0, 16, 0)
    rgbquads = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    image = header + rgbquads + bytes(colours) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 22)
    return directory + image


if __name__ == "__main__":
    icon = make_icon
    out = sys.argv[1] if len(sys.argv) > 1 else "sqllogclean.ico"
    with open(out, "wb") as f:
        f.write(ico(icon.draw(), icon.PALETTE, icon.SIZE))
