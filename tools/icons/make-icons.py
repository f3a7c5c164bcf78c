#!/usr/bin/env python3
"""Makes the program's bitmap strips and icons (resources/*.bmp, *.ico) from the Tango icon set.

    make-icons.py [--out FOLDER] [--tango FOLDER]

Run by hand when a picture changes, then commit the files it writes (default: resources/).
The pictures come from Debian's tango-icon-theme (public domain), read from
/usr/share/icons/Tango/<size>x<size>/<picture>.png; what the set has not (check boxes, radio
marks, tree lines, arrows, flags) is drawn below. The output depends on nothing but the set's
files and this script: PNGs are decoded and BMPs and icons written here, without dates or
other metadata, so a second run gives the same bytes.

Strips are 24-bit BMPs whose transparent pixels are the mask colour 0xFF00FF. Pixels of the
set's pictures that are less than half opaque become mask; the others are blended over a light
grey, so no pink fringe shows around a picture. Icons keep their alpha (32-bit entries with an
AND mask).
"""
import argparse
import os
import struct
import sys
import zlib

TANGO = "/usr/share/icons/Tango"
MASK = (255, 0, 255)
# What a half-transparent edge pixel is blended over: between a toolbar's face and a list's white.
EDGE_BACKGROUND = (240, 240, 240)
ALPHA_THRESHOLD = 0.5

# Picture names: "category/name" of the Tango set or "draw:<what>" for a picture drawn below;
# ":grey" appended makes the faded variant (idle, off).
# Each strip: file, image size, and its table of (image index, picture, use).
STRIPS = [
    ("SmallImages.bmp", 16, [
        (0, "actions/list-add", "add (keys, formats, configurations)"),
        (1, "apps/accessories-text-editor", "change"),
        (2, "actions/list-remove", "delete"),
        (3, "actions/document-open", "import, browse for a file or folder"),
        (4, "actions/go-jump", "export, go to (show in the file manager)"),
        (5, "actions/media-playback-start", "play a sound, run an external tool"),
        (6, "actions/media-playback-stop", "stop a sound"),
        (7, "actions/go-next", "start the transfer, the formats filter"),
        (8, "actions/process-stop", "stop the transfer"),
        (9, "actions/view-refresh", "restart the transfer"),
        (10, "actions/edit-find", "spare: keeps the indexes after it in place"),
        (11, "apps/preferences-system-windows", "main window stays on top"),
        (12, "apps/help-browser", "help"),
        (13, "categories/preferences-system", "main menu"),
        (14, "devices/input-mouse", "select a window by dragging"),
        (15, "categories/applications-system", "menu of a toolbar (configure, arguments, preview)"),
        (16, "actions/edit-clear", "reset the transfer counter"),
        (17, "actions/system-search", "go to the target window"),
    ]),
    ("LargeImages.bmp", 32, [
        (0, "actions/list-add", "add a key"),
        (1, "apps/accessories-text-editor", "change a key"),
        (2, "actions/list-remove", "delete keys"),
        (3, "actions/document-open", "import the key list"),
        (4, "actions/document-save-as", "export the key list"),
        (5, "draw:apply", "apply a parameter's value"),
        (6, "actions/edit-undo", "set a parameter to its default"),
        (7, "actions/edit-find", "key list filter"),
    ]),
    ("EventLevels.bmp", 16, [
        (0, "status/dialog-information", "information"),
        (1, "status/dialog-warning", "warning"),
        (2, "status/dialog-error", "error"),
    ]),
    ("TransSources.bmp", 16, [
        (0, "devices/network-wired:grey", "serial port reader"),
        (1, "devices/network-wired", "serial port reader, connected"),
        (2, "devices/drive-removable-media:grey", "device port reader"),
        (3, "devices/drive-removable-media", "device port reader, connected"),
        (4, "places/network-workgroup:grey", "network converter reader"),
        (5, "places/network-workgroup", "network converter reader, connected"),
        (6, "devices/media-flash:grey", "smart-card reader"),
        (7, "devices/media-flash", "smart-card reader, connected"),
        (8, "mimetypes/x-office-spreadsheet:grey", "list of keys"),
        (9, "mimetypes/x-office-spreadsheet", "list of keys, ready"),
    ]),
    ("TransDestinations.bmp", 16, [
        (0, "devices/input-keyboard:grey", "keyboard emulation"),
        (1, "devices/input-keyboard", "keyboard emulation, ready"),
        (2, "actions/edit-paste:grey", "clipboard"),
        (3, "actions/edit-paste", "clipboard, ready"),
        (4, "status/network-transmit-receive:grey", "bridge link"),
        (5, "status/network-transmit-receive", "bridge link, ready"),
        (6, "apps/utilities-terminal:grey", "command line"),
        (7, "apps/utilities-terminal", "command line, ready"),
        (8, "apps/internet-web-browser:grey", "HTTP request"),
        (9, "apps/internet-web-browser", "HTTP request, ready"),
    ]),
    ("ParamTree.bmp", 16, [
        (0, "draw:tree-collapsed", "collapsed group"),
        (1, "draw:tree-expanded", "expanded group"),
        (2, "draw:tree-last", "last branch"),
        (3, "draw:tree-branch", "branch"),
    ]),
    ("CheckImages.bmp", 16, [
        (0, "draw:check-off", "unchecked, no"),
        (1, "draw:check-on", "checked, yes"),
        (2, "draw:check-mixed", "indeterminate"),
    ]),
    ("PageListArrows.bmp", (4, 7), [
        (0, "draw:arrow-left", "page list shown: fold it"),
        (1, "draw:arrow-right", "page list folded: show it"),
    ]),
    ("FormatChoice.bmp", 16, [
        (0, "draw:choice-off", "format not chosen"),
        (1, "draw:choice-on", "format chosen"),
    ]),
    ("CardKinds.bmp", 16, [
        (0, "devices/media-flash:grey", "card kind off, no format chosen"),
        (1, "devices/media-flash", "card kind on, a format chosen"),
    ]),
    # In the order of the program's languages.
    ("Flags.bmp", 16, [
        (0, "draw:flag-ru", "Russian"),
        (1, "draw:flag-us", "English"),
        (2, "draw:flag-cn", "Chinese"),
        (3, "draw:flag-it", "Italian"),
        (4, "draw:flag-pl", "Polish"),
        (5, "draw:flag-bg", "Bulgarian"),
        (6, "draw:flag-cz", "Czech"),
        (7, "draw:flag-fr", "French"),
        (8, "draw:flag-de", "German"),
        (9, "draw:flag-es", "Spanish"),
    ]),
]

# Icons: file, and its table of (size, picture, use).
ICONS = [
    ("Norvane.ico", [
        (16, "draw:program", "program, transfer running (tray)"),
        (32, "draw:program", "program window"),
        (48, "draw:program", "program file"),
    ]),
    ("Idle.ico", [
        (16, "draw:program:grey", "tray, transfer stopped"),
        (32, "draw:program:grey", "tray, transfer stopped"),
    ]),
    ("TransArrow.ico", [
        (16, "actions/go-next:grey", "between source, format and destination: a flow, not a button"),
    ]),
]


# ---- Pictures as rows of (r, g, b, a) floats, 0..1 ----

class Picture:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [[(0.0, 0.0, 0.0, 0.0)] * width for _ in range(height)]

    def blend(self, x, y, color, coverage):
        """Paints color (r, g, b 0..255) over pixel (x, y) with the given coverage."""
        if coverage <= 0:
            return
        r, g, b, a = self.pixels[y][x]
        cr, cg, cb = (c / 255 for c in color)
        out = coverage + a * (1 - coverage)
        mix = lambda top, bottom: (top * coverage + bottom * a * (1 - coverage)) / out
        self.pixels[y][x] = (mix(cr, r), mix(cg, g), mix(cb, b), out)


def read_png(path):
    """Decodes an 8-bit RGB or RGBA, non-interlaced PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, color_type, _, _, interlace = header
    if depth != 8 or color_type not in (2, 6) or interlace:
        raise ValueError(f"{path}: only 8-bit RGB or RGBA without interlacing is read")
    bpp = 4 if color_type == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * bpp
    picture, previous, pos = Picture(width, height), bytearray(stride), 0
    for y in range(height):
        kind, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = previous[i]
            upleft = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - upleft
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upleft)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else upleft)
                line[i] = (line[i] + pred) & 255
        for x in range(width):
            px = line[x * bpp:x * bpp + bpp]
            alpha = px[3] / 255 if bpp == 4 else 1.0
            picture.pixels[y][x] = (px[0] / 255, px[1] / 255, px[2] / 255, alpha)
        previous = line
    return picture


def faded(picture):
    """The idle or off variant: grey and lighter, so the coloured one stands out beside it."""
    out = Picture(picture.width, picture.height)
    for y in range(picture.height):
        for x in range(picture.width):
            r, g, b, a = picture.pixels[y][x]
            grey = 0.55 + 0.4 * (0.299 * r + 0.587 * g + 0.114 * b)
            out.pixels[y][x] = (grey, grey, grey, a)
    return out


# ---- Drawing: shapes are tests of a point; a pixel is covered by the share of 4 x 4 samples inside ----

def fill(picture, inside, color, box=None):
    x0, y0, x1, y1 = box or (0, 0, picture.width, picture.height)
    for y in range(max(0, y0), min(picture.height, y1)):
        for x in range(max(0, x0), min(picture.width, x1)):
            hits = sum(1 for sy in range(4) for sx in range(4) if inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4))
            picture.blend(x, y, color, hits / 16)


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def polygon(points):
    def inside(x, y):
        result, j = False, len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def stroke(points, width):
    """A polyline of the given width with round joins."""
    half = width / 2

    def near(x, y):
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
            if (x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2 <= half * half:
                return True
        return False
    return near


def star(cx, cy, outer):
    import math
    inner = outer * 0.382
    points = []
    for i in range(10):
        angle = -math.pi / 2 + i * math.pi / 5
        r = outer if i % 2 == 0 else inner
        points.append((cx + r * math.cos(angle), cy + r * math.sin(angle)))
    return polygon(points)


# Tango's palette: aluminium for frames, sky blue, chameleon green.
FRAME = (0x55, 0x57, 0x53)
LINE = (0x88, 0x8A, 0x85)
INK = (0x2E, 0x34, 0x36)
BLUE = (0x34, 0x65, 0xA4)
LIGHT_BLUE = (0x72, 0x9F, 0xCF)
GREEN = (0x4E, 0x9A, 0x06)
WHITE = (0xFF, 0xFF, 0xFF)


def draw_box(p, mark):
    fill(p, rect(1, 1, 14, 14), FRAME)
    fill(p, rect(2, 2, 13, 13), WHITE)
    if mark == "on":
        fill(p, stroke([(4.2, 7.8), (6.7, 10.6), (11.6, 4.6)], 2.2), BLUE)
    elif mark == "mixed":
        fill(p, rect(4, 4, 11, 11), LIGHT_BLUE)


def draw_tree(p, what):
    dotted = lambda xs, ys: [fill(p, rect(x, y, x + 1, y + 1), LINE) for x in xs for y in ys if (x + y) % 2 == 0]
    if what in ("collapsed", "expanded"):
        fill(p, rect(4, 4, 13, 13), LINE)
        fill(p, rect(5, 5, 12, 12), WHITE)
        fill(p, rect(6, 8, 11, 9), INK)
        if what == "collapsed":
            fill(p, rect(8, 6, 9, 11), INK)
    else:
        dotted([8], range(0, 9 if what == "last" else 16))
        dotted(range(9, 16), [8])


def draw_arrow(p, direction):
    for column in range(4):
        x = column if direction == "left" else 3 - column
        fill(p, rect(x, 3 - column, x + 1, 4 + column), FRAME)


def draw_choice(p, state):
    fill(p, circle(8, 8, 6.5), FRAME)
    fill(p, circle(8, 8, 5.4), WHITE)
    if state == "on":
        fill(p, circle(8, 8, 3.2), GREEN)


FLAG_RED = (0xD5, 0x2B, 0x1E)
FLAG_BLUE = (0x00, 0x39, 0xA6)
FLAG_YELLOW = (0xFF, 0xCC, 0x00)


def draw_flag(p, country):
    """A flag 16 x 12 pixels with a grey frame; its field is 14 x 10 pixels from (1, 3)."""
    fill(p, rect(0, 2, 16, 14), LINE)

    def field(x0, y0, x1, y1, color):
        fill(p, rect(1 + x0, 3 + y0, 1 + x1, 3 + y1), color)

    def bands(colors, sizes, vertical=False):
        start = 0
        for color, size in zip(colors, sizes):
            field(*((start, 0, start + size, 10) if vertical else (0, start, 14, start + size)), color)
            start += size

    if country == "ru":
        bands([WHITE, FLAG_BLUE, FLAG_RED], [3, 4, 3])
    elif country == "us":
        bands([FLAG_RED if i % 2 == 0 else WHITE for i in range(10)], [1] * 10)
        field(0, 0, 6, 5, (0x3C, 0x3B, 0x6E))
        for x, y in [(1, 1), (3, 1), (5, 1), (2, 2), (4, 2), (1, 3), (3, 3), (5, 3)]:
            field(x, y, x + 1, y + 1, (0xB8, 0xC0, 0xD8))
    elif country == "cn":
        field(0, 0, 14, 10, (0xDE, 0x29, 0x10))
        fill(p, star(4.0, 6.0, 2.6), FLAG_YELLOW)
        for x, y in [(7.2, 4.2), (8.2, 5.4), (8.2, 7.0), (7.2, 8.2)]:
            fill(p, circle(x, y, 0.55), FLAG_YELLOW)
    elif country == "it":
        bands([(0x00, 0x92, 0x46), WHITE, (0xCE, 0x2B, 0x37)], [5, 4, 5], vertical=True)
    elif country == "pl":
        bands([WHITE, (0xDC, 0x14, 0x3C)], [5, 5])
    elif country == "bg":
        bands([WHITE, (0x00, 0x96, 0x6E), FLAG_RED], [3, 4, 3])
    elif country == "cz":
        bands([WHITE, FLAG_RED], [5, 5])
        fill(p, polygon([(1, 3), (8, 8), (1, 13)]), (0x11, 0x45, 0x7E))
    elif country == "fr":
        bands([FLAG_BLUE, WHITE, (0xEF, 0x41, 0x35)], [5, 4, 5], vertical=True)
    elif country == "de":
        bands([(0x00, 0x00, 0x00), (0xDD, 0x00, 0x00), (0xFF, 0xCE, 0x00)], [3, 4, 3])
    elif country == "es":
        bands([(0xAA, 0x15, 0x1B), (0xF1, 0xBF, 0x00), (0xAA, 0x15, 0x1B)], [2, 6, 2])
    else:
        raise ValueError(f"no flag drawn for {country}")


def draw_apply(p, _):
    """A check mark in the set's green, outlined like its arrows."""
    mark = [(7, 17), (13, 23), (25, 9)]
    fill(p, stroke(mark, 7.0), (0x4E, 0x9A, 0x06))
    fill(p, stroke(mark, 4.4), (0x73, 0xD2, 0x16))


def draw_program(p, _):
    """A contactless card: a blue card with its chip, and the waves of the reader's field."""
    k = p.width / 32
    rounded = lambda x0, y0, x1, y1, r: lambda x, y: (
        x0 <= x < x1 and y0 <= y < y1 and
        (min(x - x0, x1 - x) >= r or min(y - y0, y1 - y) >= r or
         min((x - cx) ** 2 + (y - cy) ** 2 for cx in (x0 + r, x1 - r) for cy in (y0 + r, y1 - r)) <= r * r))
    fill(p, rounded(1 * k, 11 * k, 25 * k, 29 * k, 3 * k), (0x20, 0x4A, 0x87))
    fill(p, rounded(2.2 * k, 12.2 * k, 23.8 * k, 27.8 * k, 2 * k), BLUE)
    fill(p, rect(3 * k, 13 * k, 23 * k, 17 * k), LIGHT_BLUE)
    fill(p, rounded(5 * k, 18.5 * k, 11 * k, 24.5 * k, 1 * k), (0xC4, 0xA0, 0x00))
    fill(p, rounded(5.8 * k, 19.3 * k, 10.2 * k, 23.7 * k, 0.6 * k), (0xFC, 0xE9, 0x4F))
    width = max(1.4, 2.2 * k)
    for radius in (4.5, 8.5, 12.5):
        r = radius * k
        arc = lambda x, y, r=r: (x >= 19 * k and y <= 13 * k and
                                 abs(((x - 19 * k) ** 2 + (y - 13 * k) ** 2) ** 0.5 - r) <= width / 2)
        fill(p, arc, (0xF5, 0x79, 0x00))


def drawn(what, width, height):
    p = Picture(width, height)
    kind, _, detail = what.partition("-")
    {"check": draw_box, "tree": draw_tree, "arrow": draw_arrow, "choice": draw_choice, "flag": draw_flag,
     "apply": draw_apply, "program": draw_program}[kind](p, detail)
    return p


def picture(name, size, tango):
    """The picture a table names, at size (width, height)."""
    width, height = size
    grey = name.endswith(":grey")
    base = name[:-len(":grey")] if grey else name
    if base.startswith("draw:"):
        p = drawn(base[len("draw:"):], width, height)
    else:
        path = os.path.join(tango, f"{width}x{height}", base + ".png")
        p = read_png(path)
        if (p.width, p.height) != (width, height):
            raise ValueError(f"{path}: {p.width} x {p.height}, not {width} x {height}")
    return faded(p) if grey else p


# ---- Writing ----

def flattened(p):
    """24-bit pixels over the mask colour, thresholded so that no edge blends into pink."""
    rows = []
    for row in p.pixels:
        out = []
        for r, g, b, a in row:
            if a < ALPHA_THRESHOLD:
                out.append(MASK)
                continue
            color = tuple(round(255 * (c * a) + bg * (1 - a)) for c, bg in zip((r, g, b), EDGE_BACKGROUND))
            # A picture's own pixel must never read as transparent.
            out.append((0xFE, 0x00, 0xFF) if color == MASK else color)
        rows.append(out)
    return rows


def bmp_bytes(rows):
    """A bottom-up 24-bit BMP with a plain info header (no colour space, no resolution)."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        data += line + bytes(stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 0, 0, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info)) + info + data


def ico_bytes(pictures):
    """An icon file of 32-bit entries (BGRA and the AND mask), smallest first."""
    images = []
    for p in pictures:
        xor, mask_stride = bytearray(), ((p.width + 31) // 32) * 4
        and_mask = bytearray()
        for row in reversed(p.pixels):
            bits = bytearray(mask_stride)
            for x, (r, g, b, a) in enumerate(row):
                xor += bytes((round(b * 255), round(g * 255), round(r * 255), round(a * 255)))
                if round(a * 255) == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            and_mask += bits
        header = struct.pack("<IiiHHIIiiII", 40, p.width, 2 * p.height, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
        images.append((p.width, p.height, header + xor + and_mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, body in images:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
    return out + b"".join(body for _, _, body in images)


def cell_size(size):
    return size if isinstance(size, tuple) else (size, size)


def strip_bytes(size, table, tango):
    width, height = cell_size(size)
    rows = [[] for _ in range(height)]
    for i, (index, name, _) in enumerate(table):
        if index != i:
            raise ValueError(f"image {index} stands at position {i}")
        for y, row in enumerate(flattened(picture(name, (width, height), tango))):
            rows[y] += row
    return bmp_bytes(rows)


def all_files(tango):
    """File name -> bytes of every strip and icon."""
    files = {}
    for name, size, table in STRIPS:
        files[name] = strip_bytes(size, table, tango)
    for name, table in ICONS:
        files[name] = ico_bytes([picture(pic, (s, s), tango) for s, pic, _ in sorted(table)])
    return files


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "..", "..", "resources"))
    parser.add_argument("--tango", default=TANGO)
    args = parser.parse_args()
    if not os.path.isdir(args.tango):
        sys.exit(f"{args.tango} not found: install Debian's tango-icon-theme")
    for name, data in all_files(args.tango).items():
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(data)
        print(name)


if __name__ == "__main__":
    main()
