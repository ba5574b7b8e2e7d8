#!/usr/bin/python3
"""Draws the two programs' file icons: Vellmark a floppy diskette, Ossiter a
pie chart. Each .ico holds a 32 x 32 and a 16 x 16 image of 16 colours.

    tools/make_icons.py            write editions/<name>/<name>.ico
    tools/make_icons.py --check    exit 1 when a committed icon differs
"""
import math
import os
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GRAY, RED, LIME, YELLOW, BLUE, WHITE = 0, 4, 7, 8, 9, 10, 11, 12, 15

# A picture is a list of rows, top row first; None is a transparent pixel.


def blank(size):
    return [[None] * size for _ in range(size)]


def fill_rect(pic, x0, y0, x1, y1, colour):
    """Fills the inclusive rectangle x0..x1, y0..y1."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            pic[y][x] = colour


def frame_rect(pic, x0, y0, x1, y1, colour):
    for x in range(x0, x1 + 1):
        pic[y0][x] = pic[y1][x] = colour
    for y in range(y0, y1 + 1):
        pic[y][x0] = pic[y][x1] = colour


def floppy(size):
    """A 3.5-inch diskette: dark body with a cut corner, metal shutter at the
    top, paper label at the bottom, write-protect hole."""
    pic = blank(size)
    if size == 32:
        body, cut = (2, 2, 29, 29), 3
        shutter, slot = (9, 2, 22, 12), (17, 4, 20, 10)
        label, lines = (6, 16, 25, 29), (20, 23, 26)
        hole = (3, 26, 4, 27)
    else:
        body, cut = (1, 1, 14, 14), 2
        shutter, slot = (4, 1, 11, 6), (8, 2, 9, 5)
        label, lines = (3, 8, 12, 14), (10, 12)
        hole = (2, 13, 2, 13)
    x0, y0, x1, y1 = body
    fill_rect(pic, x0, y0, x1, y1, NAVY)
    frame_rect(pic, x0, y0, x1, y1, BLACK)
    # The cut corner at the top right, with its own edge.
    for d in range(cut):
        for x in range(x1 - cut + 1 + d, x1 + 1):
            pic[y0 + d][x] = None
        pic[y0 + d][x1 - cut + d] = BLACK
    fill_rect(pic, *shutter, SILVER)
    frame_rect(pic, *shutter, GRAY)
    fill_rect(pic, *slot, NAVY)
    lx0, ly0, lx1, ly1 = label
    fill_rect(pic, lx0, ly0, lx1, ly1, WHITE)
    frame_rect(pic, lx0, ly0, lx1, ly1, GRAY)
    for y in lines:
        for x in range(lx0 + 2, lx1 - 1):
            pic[y][x] = BLUE
    fill_rect(pic, *hole, BLACK)
    return pic


def pie(size):
    """A pie chart of four slices with black edges between them."""
    pic = blank(size)
    centre = size / 2.0
    radius = size / 2.0 - 1.0
    rim = 1.3 if size == 32 else 1.0
    seam = 0.6 if size == 32 else 0.4
    # Slice edges, clockwise from twelve o'clock, in degrees.
    edges = [0.0, 140.0, 230.0, 300.0]
    colours = [RED, BLUE, YELLOW, LIME]
    for y in range(size):
        for x in range(size):
            dx, dy = x + 0.5 - centre, y + 0.5 - centre
            r = math.hypot(dx, dy)
            if r > radius:
                continue
            if r > radius - rim:
                pic[y][x] = BLACK
                continue
            angle = math.degrees(math.atan2(dx, -dy)) % 360.0
            slice_index = max(i for i, e in enumerate(edges) if angle >= e)
            on_edge = False
            for e in edges:
                ex, ey = math.sin(math.radians(e)), -math.cos(math.radians(e))
                along = dx * ex + dy * ey
                across = abs(dx * ey - dy * ex)
                if along > 0 and across < seam:
                    on_edge = True
            pic[y][x] = BLACK if on_edge else colours[slice_index]
    return pic


def icon_image(pic):
    """One icon image: header, palette, 4-bit colour rows and the 1-bit
    transparency mask, both bottom row first."""
    size = len(pic)
    colour_stride = (size * 4 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colour_rows, mask_rows = b"", b""
    for row in reversed(pic):
        nibbles = [0 if p is None else p for p in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        colour_rows += line.ljust(colour_stride, b"\0")
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is None else 0)
        mask_rows += bits.to_bytes(size // 8, "big").ljust(mask_stride, b"\0")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(colour_rows) + len(mask_rows), 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    return header + palette + colour_rows + mask_rows


def ico_file(pictures):
    images = [icon_image(p) for p in pictures]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for pic, image in zip(pictures, images):
        size = len(pic)
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


ICONS = {
    "editions/vellmark/vellmark.ico": floppy,
    "editions/ossiter/ossiter.ico": pie,
}


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    check = argv[1:] == ["--check"]
    stale = []
    for path, draw in ICONS.items():
        data = ico_file([draw(32), draw(16)])
        full = os.path.join(root, path)
        if check:
            with open(full, "rb") as f:
                if f.read() != data:
                    stale.append(path)
        else:
            with open(full, "wb") as f:
                f.write(data)
    for path in stale:
        print(f"{path} differs from what tools/make_icons.py draws")
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
