#!/usr/bin/env python3
"""Draws the library's own icons and writes them as .ico files beside this script.

    connection.ico  (resource 1011)  the default connection icon: a cube whose three visible
                                     faces are divided into 3 x 3 cyan cells
    missing.ico     (resource 1012)  the same cube in grey and black, shown for an icon file
                                     that yields no icon

Each file holds a 32 x 32 and a 16 x 16 image, 16 colours (4 bits per pixel with an AND mask).
The .ico files are committed and used by the build; run this script only to change the
artwork:

    python3 make_icons.py [--preview DIR]

--preview also writes each image as a PNG enlarged eight times, to look at.
Python 3 standard library only.
"""

import argparse
import os
import struct
import zlib

# The cube in the 2:1 pixel isometric view. Each face is a parallelogram on a lattice: one
# lattice unit along a slanted edge is 2 pixels across and 1 down, along a vertical edge
# 1 pixel down. Along each edge a face has, in lattice units: a border, three cells with a
# line between each two, and a border again. At these thicknesses every line is a clean
# 2:1 staircase (one pixel a column) or a one-pixel vertical.
#   top      the top vertex, on pixel boundaries
#   side     length of a slanted edge; border, cell and line thickness along it
#   drop     cell height along a vertical edge (its border and lines are one row)
GEOMETRY = {
    32: dict(top=(16, 3), side=6.5, border=0.5, cell=1.5, line=0.5, drop=3),
    16: dict(top=(8, 1), side=3.5, border=0.5, cell=0.5, line=0.5, drop=1),
}

# Palette roles; each icon gives them at most 16 colours. Index 0 is the colour of the
# transparent pixels.
ROLES = ["clear", "outline", "top", "left", "right", "top_line", "left_line", "right_line",
         "top_edge", "left_edge"]


def band(w, length, border, cell, line):
    """Where coordinate w lies along an edge: None (outside), 'lo'/'hi' (a border), 'line' or
    'cell'."""
    if w < 0 or w >= length:
        return None
    if w < border:
        return "lo"
    if w >= length - border:
        return "hi"
    return "line" if (w - border) % (cell + line) >= cell else "cell"


def cube_faces(size):
    """The three visible faces: (name, origin, a step, b step, a axis, b axis); an axis is
    (length, border, cell, line) in lattice units."""
    g = GEOMETRY[size]
    tx, ty = g["top"]
    n = g["side"]
    slanted = (n, g["border"], g["cell"], g["line"])
    vertical = (4 + 3 * g["drop"], 1, g["drop"], 1)
    return [
        ("top", (tx, ty), (-2, 1), (2, 1), slanted, slanted),
        ("left", (tx - 2 * n, ty + n), (2, 1), (0, 1), slanted, vertical),
        ("right", (tx, ty + 2 * n), (2, -1), (0, 1), slanted, vertical),
    ]


# Which edges of a face are the cube's silhouette (outline) and which it shares with another
# face. Of each shared edge's two bands, one is drawn dark and one in the colour of the edge
# role, so that the cube's own edges read as a one-pixel dark line with a bevel beside it.
EDGE_ROLES = {
    # face: {(axis, side): role}
    "top": {("a", "lo"): "outline", ("b", "lo"): "outline",
            ("a", "hi"): "top_edge", ("b", "hi"): "top_edge"},
    "left": {("a", "lo"): "outline", ("b", "hi"): "outline",
             ("b", "lo"): "outline", ("a", "hi"): "left_edge"},
    "right": {("a", "hi"): "outline", ("b", "hi"): "outline",
              ("b", "lo"): "outline", ("a", "lo"): "outline"},
}


def draw(size):
    """The cube as a size x size grid of palette roles (None: transparent)."""
    grid = [[None] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            for name, origin, u, v, axis_a, axis_b in cube_faces(size):
                dx, dy = px - origin[0], py - origin[1]
                det = u[0] * v[1] - u[1] * v[0]
                a = (dx * v[1] - dy * v[0]) / det
                b = (u[0] * dy - u[1] * dx) / det
                where_a, where_b = band(a, *axis_a), band(b, *axis_b)
                if where_a is None or where_b is None:
                    continue
                edges = [EDGE_ROLES[name][(axis, where)]
                         for axis, where in (("a", where_a), ("b", where_b))
                         if where in ("lo", "hi")]
                if "outline" in edges:
                    role = "outline"
                elif edges:
                    role = edges[0]
                elif "line" in (where_a, where_b):
                    role = name + "_line"
                else:
                    role = name
                grid[y][x] = role
                break
    return grid


PALETTES = {
    "connection": {
        "clear": (0, 0, 0),
        "outline": (0, 48, 64),
        "top": (128, 240, 255),
        "left": (32, 208, 232),
        "right": (0, 160, 188),
        "top_line": (0, 160, 188),
        "left_line": (0, 112, 140),
        "right_line": (0, 88, 112),
        "top_edge": (224, 255, 255),
        "left_edge": (120, 232, 248),
    },
    "missing": {
        "clear": (0, 0, 0),
        "outline": (0, 0, 0),
        "top": (212, 212, 212),
        "left": (164, 164, 164),
        "right": (120, 120, 120),
        "top_line": (64, 64, 64),
        "left_line": (40, 40, 40),
        "right_line": (16, 16, 16),
        "top_edge": (244, 244, 244),
        "left_edge": (200, 200, 200),
    },
}


def palette_for(icon):
    colours = [PALETTES[icon][role] for role in ROLES]
    assert len(colours) <= 16
    return colours + [(0, 0, 0)] * (16 - len(colours))


def bmp_entry(grid, palette):
    """One icon image: BITMAPINFOHEADER, 16-colour palette, 4-bit XOR rows, 1-bit AND rows,
    both bottom-up and padded to 32 bits."""
    size = len(grid)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor_rows = []
    and_rows = []
    for row in reversed(grid):
        indices = [ROLES.index(role) if role else 0 for role in row]
        packed = bytearray(xor_stride)
        for x, index in enumerate(indices):
            packed[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor_rows.append(bytes(packed))
        mask = bytearray(and_stride)
        for x, role in enumerate(row):
            if role is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        and_rows.append(bytes(mask))
    image = b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(image), 0, 0, 16, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + colours + image


def ico_file(entries):
    """An .ico file from (size, image bytes) pairs."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    directory = b""
    for size, data in entries:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data),
                                 offset)
        offset += len(data)
    return out + directory + b"".join(data for _, data in entries)


def png_file(rows, scale):
    """An RGBA PNG of rows of (r, g, b, a) pixels, each pixel enlarged scale times."""
    height, width = len(rows) * scale, len(rows[0]) * scale
    raw = bytearray()
    for row in rows:
        line = b"".join(bytes(pixel) * scale for pixel in row)
        for _ in range(scale):
            raw += b"\0" + line

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--preview", metavar="DIR", help="also write enlarged PNG previews")
    parser.add_argument("--output", metavar="DIR",
                        default=os.path.dirname(os.path.abspath(__file__)),
                        help="where to write the .ico files (default: beside this script)")
    args = parser.parse_args()

    for icon in ("connection", "missing"):
        palette = palette_for(icon)
        entries = []
        for size in (32, 16):
            grid = draw(size)
            entries.append((size, bmp_entry(grid, palette)))
            if args.preview:
                os.makedirs(args.preview, exist_ok=True)
                rows = [[(*palette[ROLES.index(role)], 255) if role else (255, 255, 255, 0)
                         for role in row] for row in grid]
                with open(os.path.join(args.preview, f"{icon}-{size}.png"), "wb") as f:
                    f.write(png_file(rows, 8))
        with open(os.path.join(args.output, f"{icon}.ico"), "wb") as f:
            f.write(ico_file(entries))


if __name__ == "__main__":
    main()
