#!/usr/bin/env python3
"""Turns the text pixel maps under resources/images/ into .bmp strips and .ico files.

A pixel map file holds a palette and one or more pictures:

    # comment
    palette
    K #000000        one character, then a colour (or "transparent")
    . transparent    '.' is always transparent
    picture folder 16x16
    ................ one row per line, exactly as wide as the picture

Commands:
    strip --expect N -o out.bmp in.pxm   the pictures side by side, 24-bit,
                                         transparent pixels magenta
    icon --sizes 16,32 -o out.ico in.pxm one 16-colour image per picture

Standard library only: it runs at build time on any host with python3.
"""

import argparse
import os
import re
import struct
import sys

MAGENTA = (255, 0, 255)
TRANSPARENT = None
ICON_COLOURS = 16


class PixmapError(Exception):
    def __init__(self, path, line, message):
        super().__init__(f"{path}:{line}: {message}")


class Picture:
    def __init__(self, name, width, height, line):
        self.name = name
        self.width = width
        self.height = height
        self.line = line
        self.rows = []  # lists of colours; None means transparent


def parse(path, text=None):
    """Returns the pictures of a pixel map file; raises PixmapError on any mistake."""
    if text is None:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    palette = {".": TRANSPARENT}
    pictures = []
    section = None
    current = None

    def finish(line):
        if current is not None and len(current.rows) != current.height:
            raise PixmapError(
                path, line,
                f"picture '{current.name}' has {len(current.rows)} rows, expected {current.height}")

    lines = text.splitlines()
    for number, raw in enumerate(lines, 1):
        line = raw.rstrip()
        if not line or line.lstrip().startswith("#"):
            continue
        words = line.split()
        if words[0] == "palette" and len(words) == 1:
            if pictures:
                raise PixmapError(path, number, "the palette must come before the pictures")
            section = "palette"
        elif words[0] == "picture":
            finish(number)
            m = re.fullmatch(r"(\d+)x(\d+)", words[2]) if len(words) == 3 else None
            if not m:
                raise PixmapError(path, number, "expected 'picture NAME WIDTHxHEIGHT'")
            width, height = int(m.group(1)), int(m.group(2))
            if not (0 < width <= 256 and 0 < height <= 256):
                raise PixmapError(path, number, f"picture size {width}x{height} out of range")
            current = Picture(words[1], width, height, number)
            pictures.append(current)
            section = "picture"
        elif section == "palette":
            parse_palette_entry(path, number, words, palette)
        elif section == "picture":
            if len(current.rows) == current.height:
                raise PixmapError(
                    path, number, f"picture '{current.name}' has more than {current.height} rows")
            if len(line) != current.width:
                raise PixmapError(
                    path, number,
                    f"row is {len(line)} pixels wide, picture '{current.name}' is {current.width}")
            row = []
            for column, ch in enumerate(line):
                if ch not in palette:
                    raise PixmapError(path, number,
                                      f"column {column + 1}: '{ch}' is not in the palette")
                row.append(palette[ch])
            current.rows.append(row)
        else:
            raise PixmapError(path, number, "expected 'palette' or 'picture'")
    finish(len(lines))
    if not pictures:
        raise PixmapError(path, len(lines), "no pictures")
    return pictures


def parse_palette_entry(path, number, words, palette):
    if len(words) < 2 or len(words[0]) != 1:
        raise PixmapError(path, number, "expected 'CHAR #rrggbb' or 'CHAR transparent'")
    ch, value = words[0], words[1]
    if ch in "# ":
        raise PixmapError(path, number, f"'{ch}' cannot be a pixel character")
    if ch in palette:
        raise PixmapError(path, number, f"'{ch}' is already in the palette")
    if value == "transparent":
        palette[ch] = TRANSPARENT
        return
    m = re.fullmatch(r"#([0-9a-fA-F]{6})", value)
    if not m:
        raise PixmapError(path, number, f"'{value}' is not a colour (#rrggbb)")
    colour = tuple(bytes.fromhex(m.group(1)))
    if colour == MAGENTA:
        # The programs key the mask on this colour; as a real colour it would vanish.
        raise PixmapError(path, number, "#ff00ff is reserved for transparent pixels")
    palette[ch] = colour


def bmp_bytes(width, height, pixel):
    """A bottom-up 24-bit BMP file; pixel(x, y) gives (r, g, b)."""
    stride = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        data += row
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return header + info + bytes(data)


def make_strip(path, pictures, expect):
    if expect is not None and len(pictures) != expect:
        raise PixmapError(path, pictures[-1].line,
                          f"{len(pictures)} pictures, expected {expect}")
    height = pictures[0].height
    for p in pictures:
        if p.height != height:
            raise PixmapError(path, p.line, f"picture '{p.name}' is {p.height} high, "
                              f"the strip is {height}")
    columns = []  # (picture, x inside it) for every strip column
    for p in pictures:
        columns += [(p, x) for x in range(p.width)]

    def pixel(x, y):
        p, px = columns[x]
        colour = p.rows[y][px]
        return MAGENTA if colour is TRANSPARENT else colour

    return bmp_bytes(len(columns), height, pixel)


def icon_image(path, p):
    """One icon image: 4-bit colour plane plus 1-bit AND mask."""
    # Black first: transparent pixels draw colour 0 under a set mask bit.
    colours = [(0, 0, 0)]
    for row in p.rows:
        for c in row:
            if c is not TRANSPARENT and c not in colours:
                colours.append(c)
    if len(colours) > ICON_COLOURS:
        raise PixmapError(path, p.line,
                          f"picture '{p.name}' uses {len(colours)} colours (black included), "
                          f"an icon holds {ICON_COLOURS}")
    colours += [(0, 0, 0)] * (ICON_COLOURS - len(colours))
    xor_stride = ((p.width * 4 + 31) // 32) * 4
    and_stride = ((p.width + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in range(p.height - 1, -1, -1):
        xrow = bytearray(xor_stride)
        mrow = bytearray(and_stride)
        for x, c in enumerate(p.rows[y]):
            index = 0 if c is TRANSPARENT else colours.index(c)
            xrow[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if c is TRANSPARENT:
                mrow[x // 8] |= 0x80 >> (x % 8)
        xor += xrow
        mask += mrow
    info = struct.pack("<IiiHHIIiiII", 40, p.width, p.height * 2, 1, 4, 0,
                       len(xor) + len(mask), 0, 0, ICON_COLOURS, 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    return info + table + bytes(xor) + bytes(mask)


def make_icon(path, pictures, sizes):
    have = sorted(p.width for p in pictures)
    for p in pictures:
        if p.width != p.height:
            raise PixmapError(path, p.line, f"icon picture '{p.name}' is not square")
    if sizes is not None and have != sorted(sizes):
        raise PixmapError(path, pictures[-1].line,
                          f"icon sizes {have}, expected {sorted(sizes)}")
    images = [icon_image(path, p) for p in pictures]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for p, data in zip(pictures, images):
        out += struct.pack("<BBBBHHII", p.width % 256, p.height % 256, ICON_COLOURS, 0, 1, 4,
                           len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def write_atomically(path, data):
    # A failed or interrupted run must not leave a half-written file that looks current.
    temp = path + ".tmp"
    with open(temp, "wb") as f:
        f.write(data)
    os.replace(temp, path)


def main(argv):
    parser = argparse.ArgumentParser(description="Builds bitmaps and icons from pixel maps.")
    sub = parser.add_subparsers(dest="command", required=True)
    strip = sub.add_parser("strip", help="pictures side by side as a 24-bit BMP")
    strip.add_argument("--expect", type=int, help="required number of pictures")
    icon = sub.add_parser("icon", help="one 16-colour icon image per picture")
    icon.add_argument("--sizes", help="required sizes, e.g. 16,32")
    for p in (strip, icon):
        p.add_argument("-o", "--output", required=True)
        p.add_argument("input")
    args = parser.parse_args(argv)
    try:
        pictures = parse(args.input)
        if args.command == "strip":
            data = make_strip(args.input, pictures, args.expect)
        else:
            sizes = [int(s) for s in args.sizes.split(",")] if args.sizes else None
            data = make_icon(args.input, pictures, sizes)
    except (PixmapError, OSError, UnicodeDecodeError) as e:
        print(f"pixmap: error: {e}", file=sys.stderr)
        return 1
    write_atomically(args.output, data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
