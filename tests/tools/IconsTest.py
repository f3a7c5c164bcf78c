#!/usr/bin/env python3
"""The committed strips and icons of resources/ against the table of tools/icons/make-icons.py:
one image per table row at the table's size, every drawn picture exactly as the script draws it,
every picture of the icon set a real picture (no flat or hatched placeholder), faded variants
grey. With the icon set installed, the script's output is compared byte for byte."""
import importlib.util
import os
import struct
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
RESOURCES = os.path.join(ROOT, "resources")

found = importlib.util.spec_from_file_location("make_icons", os.path.join(ROOT, "tools", "icons", "make-icons.py"))
icons = importlib.util.module_from_spec(found)
found.loader.exec_module(icons)


def read_bmp(path):
    """Rows of (r, g, b), top first, of a 24-bit BMP."""
    with open(path, "rb") as f:
        data = f.read()
    magic, _, _, _, offset = struct.unpack("<2sIHHI", data[:14])
    size, width, height, planes, bits, compression = struct.unpack("<IiiHHI", data[14:34])
    if magic != b"BM" or size != 40 or bits != 24 or compression != 0 or height <= 0:
        raise AssertionError(f"{path}: not a plain bottom-up 24-bit BMP")
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        line = data[offset + y * stride:offset + y * stride + width * 3]
        rows.append([(line[i + 2], line[i + 1], line[i]) for i in range(0, len(line), 3)])
    return rows[::-1]


def cells(rows, width):
    return [[row[i * width:(i + 1) * width] for row in rows] for i in range(len(rows[0]) // width)]


def committed_images():
    """(strip, image index, picture, (width, height), the committed image's rows) of every table row."""
    for name, size, table in icons.STRIPS:
        width, height = icons.cell_size(size)
        committed = cells(read_bmp(os.path.join(RESOURCES, name)), width)
        for index, picture, _ in table:
            yield name, index, picture, (width, height), committed[index]


def icon_entries(path):
    """(width, height, bits) of each entry of an icon file."""
    with open(path, "rb") as f:
        data = f.read()
    _, kind, count = struct.unpack("<HHH", data[:6])
    assert kind == 1, f"{path}: not an icon file"
    entries = []
    for i in range(count):
        w, h, _, _, _, bits, _, offset = struct.unpack("<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        entries.append((w or 256, h or 256, struct.unpack("<H", data[offset + 14:offset + 16])[0]))
    return entries


class CommittedStrips(unittest.TestCase):
    def test_each_strip_holds_one_image_per_row_at_its_size(self):
        for name, size, table in icons.STRIPS:
            with self.subTest(strip=name):
                width, height = icons.cell_size(size)
                self.assertEqual([row[0] for row in table], list(range(len(table))))
                rows = read_bmp(os.path.join(RESOURCES, name))
                self.assertEqual((len(rows[0]), len(rows)), (width * len(table), height))

    def test_drawn_pictures_are_what_the_script_draws(self):
        for name, index, picture, size, committed in committed_images():
            if picture.startswith("draw:"):
                with self.subTest(strip=name, image=index):
                    self.assertEqual(committed, icons.flattened(icons.picture(picture, size, None)))

    def test_pictures_of_the_set_are_real_pictures(self):
        # A placeholder is flat or hatched: a handful of colours. The set's pictures shade.
        for name, index, picture, _, committed in committed_images():
            if not picture.startswith("draw:"):
                with self.subTest(strip=name, image=index, picture=picture):
                    opaque = [px for row in committed for px in row if px != icons.MASK]
                    self.assertGreaterEqual(len(set(opaque)), 12)
                    if picture.endswith(":grey"):
                        self.assertTrue(all(r == g == b for r, g, b in opaque))

    def test_icons_hold_the_tables_sizes_in_32_bits(self):
        for name, table in icons.ICONS:
            with self.subTest(icon=name):
                sizes = sorted(size for size, _, _ in table)
                self.assertEqual(icon_entries(os.path.join(RESOURCES, name)), [(s, s, 32) for s in sizes])

    def test_every_file_is_a_resource_of_the_program(self):
        rc = ""
        for file in os.listdir(RESOURCES):
            if file.endswith(".rc"):
                with open(os.path.join(RESOURCES, file), encoding="utf-8") as f:
                    rc += f.read()
        for name in [s[0] for s in icons.STRIPS] + [i[0] for i in icons.ICONS]:
            with self.subTest(file=name):
                self.assertIn(f'"{name}"', rc)

    @unittest.skipUnless(os.path.isdir(icons.TANGO), "the Tango icon set is not installed")
    def test_the_script_makes_the_committed_bytes(self):
        made = icons.all_files(icons.TANGO)
        for name, data in made.items():
            with self.subTest(file=name):
                with open(os.path.join(RESOURCES, name), "rb") as f:
                    self.assertTrue(f.read() == data, f"{name} differs from what tools/icons/make-icons.py makes")


if __name__ == "__main__":
    unittest.main(verbosity=2)
