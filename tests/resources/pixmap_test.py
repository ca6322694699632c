"""Checks the pixel map generator: the files it writes and the mistakes it refuses."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.environ.get("BRIS_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
SCRIPT = os.path.join(ROOT, "scripts", "pixmap.py")
IMAGES = os.path.join(ROOT, "resources", "images")
sys.path.insert(0, os.path.dirname(SCRIPT))
import pixmap  # noqa: E402

MAGENTA = (255, 0, 255)

# Two 3 x 2 pictures: widths not a multiple of 4 exercise the row padding.
TWO_PICTURES = """\
# comment
palette
R #ff0000
G #00ff00
B #0000ff
picture first 3x2
R.G
BBB
picture second 3x2
...
GRB
"""


def read_bmp(data):
    """Returns (width, height, bits, rows top-down of (r, g, b))."""
    magic, size, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
    assert magic == b"BM" and size == len(data)
    _, width, height, planes, bits = struct.unpack_from("<IiiHH", data, 14)
    assert planes == 1
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        start = offset + (height - 1 - y) * stride
        row = data[start:start + width * 3]
        rows.append([(row[i + 2], row[i + 1], row[i]) for i in range(0, len(row), 3)])
    return width, height, bits, rows


def read_icon(data):
    """Returns a list of (entry fields, width, height, bits, colours, rows of colour or None)."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind) == (0, 1)
    images = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data,
                                                                          6 + 16 * i)
        _, bw, bh, _, bbits = struct.unpack_from("<IiiHH", data, offset)
        table = [tuple(data[offset + 40 + 4 * c + k] for k in (2, 1, 0)) for c in range(16)]
        xor_stride = ((bw * 4 + 31) // 32) * 4
        and_stride = ((bw + 31) // 32) * 4
        xor_start = offset + 40 + 64
        and_start = xor_start + xor_stride * bw
        assert size == 40 + 64 + (xor_stride + and_stride) * bw
        rows = []
        for y in range(bw):
            xrow = data[xor_start + (bw - 1 - y) * xor_stride:]
            arow = data[and_start + (bw - 1 - y) * and_stride:]
            row = []
            for x in range(bw):
                index = (xrow[x // 2] >> (4 if x % 2 == 0 else 0)) & 15
                masked = arow[x // 8] & (0x80 >> (x % 8))
                row.append(None if masked else table[index])
                if masked:
                    assert table[index] == (0, 0, 0), "transparent pixels must draw black"
            rows.append(row)
        images.append(((w, h, colours, planes, bits), bw, bh, bbits, rows))
    return images


class GeneratorOutput(unittest.TestCase):
    def test_strip_places_pictures_side_by_side_with_magenta_background(self):
        data = pixmap.make_strip("t", pixmap.parse("t", TWO_PICTURES), 2)
        width, height, bits, rows = read_bmp(data)
        self.assertEqual((width, height, bits), (6, 2, 24))
        R, G, B = (255, 0, 0), (0, 255, 0), (0, 0, 255)
        self.assertEqual(rows[0], [R, MAGENTA, G, MAGENTA, MAGENTA, MAGENTA])
        self.assertEqual(rows[1], [B, B, B, G, R, B])

    def test_icon_holds_16_colour_images_with_and_masks(self):
        text = "palette\nW #ffffff\nN #000080\npicture a 2x2\nW.\nNW\npicture b 3x3\n...\n.N.\n...\n"
        images = read_icon(pixmap.make_icon("t", pixmap.parse("t", text), [2, 3]))
        self.assertEqual(len(images), 2)
        entry, bw, bh, bbits, rows = images[0]
        self.assertEqual(entry, (2, 2, 16, 1, 4))
        self.assertEqual((bw, bh, bbits), (2, 4, 4))  # height counts colour and mask planes
        self.assertEqual(rows, [[(255, 255, 255), None], [(0, 0, 128), (255, 255, 255)]])
        self.assertEqual(images[1][4][1], [None, (0, 0, 128), None])

    def test_written_file_matches_and_failed_run_leaves_none(self):
        with tempfile.TemporaryDirectory() as tmp:
            good = os.path.join(tmp, "good.pxm")
            bad = os.path.join(tmp, "bad.pxm")
            out = os.path.join(tmp, "out.bmp")
            with open(good, "w") as f:
                f.write(TWO_PICTURES)
            with open(bad, "w") as f:
                f.write(TWO_PICTURES.replace("BBB", "BBX"))
            self.assertEqual(pixmap.main(["strip", "-o", out, good]), 0)
            with open(out, "rb") as f:
                self.assertEqual(f.read(), pixmap.make_strip(good, pixmap.parse(good), None))
            os.remove(out)
            result = subprocess.run([sys.executable, SCRIPT, "strip", "-o", out, bad],
                                    capture_output=True, text=True)
            self.assertEqual(result.returncode, 1)
            self.assertIn("bad.pxm:8: column 3: 'X' is not in the palette", result.stderr)
            self.assertFalse(os.path.exists(out))


class GeneratorRefuses(unittest.TestCase):
    def assertRefused(self, text, message, build=None):
        with self.assertRaises(pixmap.PixmapError) as caught:
            pictures = pixmap.parse("map.pxm", text)
            if build:
                build(pictures)
        self.assertIn(message, str(caught.exception))
        self.assertTrue(str(caught.exception).startswith("map.pxm:"))

    def test_malformed_maps(self):
        head = "palette\nR #ff0000\npicture p 3x2\n"
        cases = {
            "short row": (head + "RR\nRRR\n", "map.pxm:4: row is 2 pixels wide"),
            "long row": (head + "RRR\nRRRR\n", "map.pxm:5: row is 4 pixels wide"),
            "unknown character": (head + "RRR\nRqR\n", "column 2: 'q' is not in the palette"),
            "missing row": (head + "RRR\n", "has 1 rows, expected 2"),
            "missing row before next": (head + "RRR\npicture q 3x2\nRRR\nRRR\n",
                                        "map.pxm:5: picture 'p' has 1 rows"),
            "extra row": (head + "RRR\nRRR\nRRR\n", "more than 2 rows"),
            "bad size": ("palette\npicture p 3by2\n", "expected 'picture NAME WIDTHxHEIGHT'"),
            "bad colour": ("palette\nR red\n", "'red' is not a colour"),
            "duplicate": ("palette\nR #ff0000\nR #00ff00\n", "'R' is already in the palette"),
            "magenta": ("palette\nM #FF00ff\n", "#ff00ff is reserved"),
            "no pictures": ("palette\nR #ff0000\n", "no pictures"),
            "stray line": ("R #ff0000\n", "expected 'palette' or 'picture'"),
        }
        for name, (text, message) in cases.items():
            with self.subTest(name):
                self.assertRefused(text, message)

    def test_outputs_that_do_not_fit(self):
        two = "palette\npicture a 2x2\n..\n..\npicture b 2x3\n..\n..\n..\n"
        self.assertRefused(two, "2 pictures, expected 3", lambda p: pixmap.make_strip("map.pxm", p, 3))
        self.assertRefused(two, "picture 'b' is 3 high", lambda p: pixmap.make_strip("map.pxm", p, None))
        self.assertRefused(two, "icon picture 'b' is not square",
                           lambda p: pixmap.make_icon("map.pxm", p, None))
        square = "palette\npicture a 2x2\n..\n..\n"
        self.assertRefused(square, "icon sizes [2], expected [16]",
                           lambda p: pixmap.make_icon("map.pxm", p, [16]))
        # Sixteen colours besides black do not fit an icon that keeps black for its mask.
        chars = "ABCDEFGHIJKLMNOP"
        many = "palette\n" + "".join(f"{c} #{i + 1:02x}1010\n" for i, c in enumerate(chars))
        many += "picture m 16x16\n" + chars + "\n" + ("." * 16 + "\n") * 15
        self.assertRefused(many, "uses 17 colours", lambda p: pixmap.make_icon("map.pxm", p, None))


class ProjectPictures(unittest.TestCase):
    """The maps under resources/images/ build as the programs expect."""

    def load(self, name):
        return pixmap.parse(os.path.join(IMAGES, name))

    def assertDrawn(self, picture):
        # A shape on a see-through background; the outline pictures are one colour only.
        pixels = [c for row in picture.rows for c in row]
        opaque = [c for c in pixels if c is not None]
        self.assertGreaterEqual(len(opaque), len(pixels) // 8, picture.name)
        self.assertLess(len(opaque), len(pixels), picture.name)

    def test_image_lists_and_about_picture(self):
        for name, count, size in (("folders.pxm", 6, 16), ("messages.pxm", 5, 16),
                                  ("about.pxm", 1, 36)):
            with self.subTest(name):
                pictures = self.load(name)
                self.assertEqual(len(pictures), count)
                for p in pictures:
                    self.assertEqual((p.width, p.height), (size, size), p.name)
                    self.assertDrawn(p)
                rows = [p.rows for p in pictures]
                self.assertEqual(len(rows), len({repr(r) for r in rows}), "duplicate pictures")

    def test_program_icon(self):
        pictures = self.load("brisvander.pxm")
        images = read_icon(pixmap.make_icon("icon", pictures, [16, 32]))
        self.assertEqual(sorted(image[1] for image in images), [16, 32])
        for p in pictures:
            self.assertDrawn(p)


if __name__ == "__main__":
    unittest.main()
