#!/usr/bin/env python3
"""Writes the icon files that the icon tests read, with the images they must decode to.

    make_test_icons.py OUT_DIR LIBRARY_ICON_DIR

In OUT_DIR:
  NAME.ico, NAME.raw      .ico files written here, one per image format (bmp1, bmp4, bmp8,
                          bmp24, bmp32, bmp32-noalpha, png) with one 32 x 32 image each, and
                          two with several sizes (sizes, near); NAME.raw is the image that
                          reading the icon at the size nearest 32 x 32 must give
  lib-1011.raw, lib-1012.raw
                          the 32 x 32 images of the library's own icons, drawn again from the
                          artwork's source (LIBRARY_ICON_DIR/make_icons.py)
  test.rc                 a resource script with four icons, for a resource-only PE file

A .raw file is the image as the reader reports it: width and height (32-bit little-endian),
then width * height pixels 0xAARRGGBB (32-bit little-endian), then width * height mask bytes
(1: transparent). For a BMP image without an alpha channel, alpha is 0 where the mask is set
and 255 elsewhere. Python 3 standard library only.
"""

import os
import struct
import sys
import zlib


def rgba_pattern(size, seed, alpha_levels=(255,)):
    """A picture where each pixel differs from its neighbours, with transparent pixels on a
    diagonal band; alpha cycles through alpha_levels elsewhere."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            r = (x * 37 + y * 11 + seed * 53) % 256
            g = (y * 29 + seed * 17 + x * 3) % 256
            b = ((x ^ y) * 13 + seed * 71) % 256
            if (x + 2 * y + seed) % 11 == 0 or x == size - 1:
                a = 0
            else:
                a = alpha_levels[(x * 7 + y) % len(alpha_levels)]
            row.append((r, g, b, a))
        rows.append(row)
    return rows


def palette_pattern(size, colours, seed):
    """A picture of palette indices and a mask: (indices rows, mask rows)."""
    indices = [[(x * 5 + y * 3 + seed + (x * y) % 7) % colours for x in range(size)]
               for y in range(size)]
    mask = [[1 if (x * 3 + y + seed) % 13 == 0 or y == 0 else 0 for x in range(size)]
            for y in range(size)]
    return indices, mask


def make_palette(colours, seed):
    return [((i * 97 + seed * 31) % 256, (i * 53 + 40) % 256, (255 - i * 29 + seed) % 256)
            for i in range(colours)]


def bmp_entry(width, height, bits, rows, mask, palette=None):
    """A BMP icon image. rows: palette indices (bits <= 8) or (r, g, b[, a]) tuples."""
    xor_stride = ((width * bits + 31) // 32) * 4
    and_stride = ((width + 31) // 32) * 4
    xor = bytearray()
    andm = bytearray()
    for y in reversed(range(height)):
        line = bytearray(xor_stride)
        if bits <= 8:
            for x, index in enumerate(rows[y]):
                bit = x * bits
                line[bit // 8] |= index << (8 - bits - bit % 8)
        else:
            step = bits // 8
            for x, pixel in enumerate(rows[y]):
                r, g, b = pixel[:3]
                a = pixel[3] if bits == 32 and len(pixel) == 4 else 0
                line[x * step:x * step + step] = bytes((b, g, r, a)[:step])
        xor += line
        mline = bytearray(and_stride)
        for x, m in enumerate(mask[y]):
            if m:
                mline[x // 8] |= 0x80 >> (x % 8)
        andm += mline
    table = b""
    if palette is not None:
        table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bits, 0,
                         len(xor) + len(andm), 0, 0, len(palette) if palette else 0, 0)
    return header + table + bytes(xor) + bytes(andm)


def png_bytes(rows):
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico_file(images):
    """images: (width, height, colour count, bits, data)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, colours, bits, data in images:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, colours % 256, 0, 1, bits,
                           len(data), offset)
        offset += len(data)
    return out + b"".join(image[4] for image in images)


def raw_image(width, height, pixels, mask):
    """pixels: rows of (r, g, b, a); mask: rows of 0/1."""
    out = struct.pack("<II", width, height)
    for row in pixels:
        for r, g, b, a in row:
            out += struct.pack("<I", a << 24 | r << 16 | g << 8 | b)
    for row in mask:
        out += bytes(row)
    return out


# ---- One image of each format ---------------------------------------------------------------

def indexed_image(size, bits, seed):
    colours = 1 << bits
    indices, mask = palette_pattern(size, colours, seed)
    palette = make_palette(colours, seed)
    data = bmp_entry(size, size, bits, indices, mask, palette)
    pixels = [[(*palette[i], 0 if m else 255) for i, m in zip(irow, mrow)]
              for irow, mrow in zip(indices, mask)]
    return (size, size, colours, bits, data), raw_image(size, size, pixels, mask)


def direct_image(size, bits, seed, with_alpha):
    levels = (255, 128, 1) if with_alpha else (255,)
    rgba = rgba_pattern(size, seed, levels)
    mask = [[1 if p[3] == 0 else 0 for p in row] for row in rgba]
    if bits == 32 and with_alpha:
        stored = rgba
        pixels = rgba
    else:
        stored = [[p[:3] for p in row] for row in rgba]
        pixels = [[(*p[:3], 0 if m else 255) for p, m in zip(row, mrow)]
                  for row, mrow in zip(rgba, mask)]
    data = bmp_entry(size, size, bits, stored, mask)
    return (size, size, 0, bits, data), raw_image(size, size, pixels, mask)


def png_image(size, seed):
    rgba = rgba_pattern(size, seed, (255, 200, 90, 3))
    mask = [[1 if p[3] == 0 else 0 for p in row] for row in rgba]
    return (size, size, 0, 32, png_bytes(rgba)), raw_image(size, size, rgba, mask)


def library_icon(source_dir, icon):
    sys.dont_write_bytecode = True  # nothing is written into the source tree
    sys.path.insert(0, source_dir)
    import make_icons  # noqa: E402  (the artwork's own generator)
    grid = make_icons.draw(32)
    palette = make_icons.palette_for(icon)
    pixels = []
    mask = []
    for row in grid:
        pixels.append([(*palette[make_icons.ROLES.index(role)], 255) if role else (0, 0, 0, 0)
                       for role in row])
        mask.append([0 if role else 1 for role in row])
    return raw_image(32, 32, pixels, mask)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    out, library_dir = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)

    singles = {
        "bmp1": indexed_image(32, 1, 1),
        "bmp4": indexed_image(32, 4, 2),
        "bmp8": indexed_image(32, 8, 3),
        "bmp24": direct_image(32, 24, 4, False),
        "bmp32": direct_image(32, 32, 5, True),
        "bmp32-noalpha": direct_image(32, 32, 6, False),
        "png": png_image(32, 7),
    }
    for name, (entry, raw) in singles.items():
        write(os.path.join(out, name + ".ico"), ico_file([entry]))
        write(os.path.join(out, name + ".raw"), raw)

    # Several sizes: the 32 x 32 of 32 bits wins over the 32 x 32 of 4 bits listed before it.
    best, best_raw = direct_image(32, 32, 8, True)
    sizes = [direct_image(16, 32, 9, True)[0], indexed_image(48, 8, 10)[0],
             indexed_image(32, 4, 11)[0], png_image(256, 12)[0], best]
    write(os.path.join(out, "sizes.ico"), ico_file(sizes))
    write(os.path.join(out, "sizes.raw"), best_raw)
    # No 32 x 32: the 24 x 24 is nearer than the 48 x 48 and the 16 x 16.
    near, near_raw = direct_image(24, 24, 13, False)
    write(os.path.join(out, "near.ico"),
          ico_file([direct_image(48, 32, 14, True)[0], near, indexed_image(16, 4, 15)[0]]))
    write(os.path.join(out, "near.raw"), near_raw)

    write(os.path.join(out, "lib-1011.raw"), library_icon(library_dir, "connection"))
    write(os.path.join(out, "lib-1012.raw"), library_icon(library_dir, "missing"))

    # Named resources come first in the resource directory, sorted; then numeric ids, sorted.
    # So the icons are, by index: APPLE (bmp4), ZEBRA (png), 3 (sizes), 7 (bmp24).
    write(os.path.join(out, "test.rc"),
          b'ZEBRA ICON "png.ico"\n7 ICON "bmp24.ico"\nAPPLE ICON "bmp4.ico"\n'
          b'3 ICON "sizes.ico"\n')


if __name__ == "__main__":
    main()
