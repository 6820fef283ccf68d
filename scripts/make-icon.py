#!/usr/bin/env python3
"""Draws the tool's icon, a door-phone panel with a speaker grille and a keypad, as an SVG, as
16x16, 32x32 and 48x48 PNGs and as a Windows icon file holding the same three sizes (the programs' and the
installer's icon). Deterministic: running it again gives the same files."""
import os
import struct
import sys
import zlib

BODY = (0x2F, 0x4F, 0x6F, 255)
EDGE = (0x17, 0x2A, 0x3D, 255)
GRILLE = (0xC8, 0xD6, 0xE5, 255)
KEY = (0xF2, 0xC1, 0x4E, 255)
CLEAR = (0, 0, 0, 0)

# Shapes on a 32-unit grid: (x0, y0, x1, y1, colour), later ones on top.
SHAPES = [
    (6, 1, 26, 31, EDGE),
    (7, 2, 25, 30, BODY),
    (10, 5, 22, 6, GRILLE),
    (10, 8, 22, 9, GRILLE),
    (10, 11, 22, 12, GRILLE),
] + [
    (10 + 4 * c, 15 + 4 * r, 12 + 4 * c, 17 + 4 * r, KEY) for r in range(4) for c in range(3)
]


def raster(size):
    scale = 32 / size
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            cx, cy = (x + 0.5) * scale, (y + 0.5) * scale
            colour = CLEAR
            for x0, y0, x1, y1, c in SHAPES:
                if x0 <= cx < x1 and y0 <= cy < y1:
                    colour = c
            row.append(colour)
        pixels.append(row)
    return pixels


def png(pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def ico(images):
    """A Windows .ico of 32-bit images, each stored as a bitmap (BGRA rows bottom up, then an all-clear AND
    mask), the form every reader takes, NSIS's and the resource compiler's among them."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for pixels in images:
        size = len(pixels)
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
        colour = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
        mask = bytes(((size + 31) // 32) * 4 * size)
        blob = header + colour + mask
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


def svg():
    rects = "\n".join(
        f'  <rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" fill="#{c[0]:02x}{c[1]:02x}{c[2]:02x}"/>'
        for x0, y0, x1, y1, c in SHAPES
    )
    return f'<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">\n{rects}\n</svg>\n'


def main(out):
    with open(os.path.join(out, "doorphoneconfig.svg"), "w") as f:
        f.write(svg())
    for size in (16, 32, 48):
        with open(os.path.join(out, f"doorphoneconfig-{size}.png"), "wb") as f:
            f.write(png(raster(size)))
    with open(os.path.join(out, "windows", "doorphoneconfig.ico"), "wb") as f:
        f.write(ico([raster(size) for size in (16, 32, 48)]))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources"))
