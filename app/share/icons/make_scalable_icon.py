#!/usr/bin/env python3
"""Writes the tool's icon as SVG for the desktop's scalable icon theme: the
very picture ui/resources/make_icon.py draws at 32x32, one square per pixel,
so menus and software centres show it at any size without blurring it.

    python3 app/share/icons/make_scalable_icon.py app/share/icons/sqllogclean.svg
"""
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[3]
# The one drawing of the icon; no bytecode cache left beside it in the tree.
sys.dont_write_bytecode = True
sys.path.insert(0, str(ROOT / "ui" / "resources"))
import make_icon  # noqa: E402


def svg(px, palette, size):
    # One rectangle per horizontal run of a colour keeps the file small.
    rects = []
    for y, row in enumerate(px):
        x = 0
        while x < size:
            colour = row[x]
            end = x
            while end < size and row[end] == colour:
                end += 1
            if colour != 0:  # index 0 is transparent
                r, g, b = palette[colour]
                rects.append(f'<rect x="{x}" y="{y}" width="{end - x}" height="1" fill="#{r:02x}{g:02x}{b:02x}"/>')
            x = end
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
            f'viewBox="0 0 {size} {size}" shape-rendering="crispEdges">\n'
            + "\n".join(rects) + "\n</svg>\n")


if __name__ == "__main__":
    icon = make_icon
    out = sys.argv[1] if len(sys.argv) > 1 else "sqllogclean.svg"
    with open(out, "w", encoding="ascii") as f:
        f.write(svg(icon.draw(), icon.PALETTE, icon.SIZE))
