#!/usr/bin/env python3
"""Draws the window's pictures and writes them, byte for byte the same on every run.

    python3 resources/tools/make_pictures.py [output folder]

Icons are Windows ICO files (16-colour 32x32 + 16x16, or one 256-colour 32x32);
the logo is a GIF89a whose palette colour 31 is transparent. Standard library only.
"""
import base64
import math
import os
import struct
import sys
import zlib

# The 16-colour palette every 4-bit icon uses (the classic VGA colours).
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER, GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(16)
CLEAR = -1


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[CLEAR] * size for _ in range(size)]

    def put(self, x, y, c):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, fill, edge=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                border = x in (x0, x1) or y in (y0, y1)
                self.put(x, y, edge if (border and edge is not None) else fill)

    def line(self, x0, y0, x1, y1, c, width=1):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            x = round(x0 + (x1 - x0) * i / steps)
            y = round(y0 + (y1 - y0) * i / steps)
            for dx in range(width):
                for dy in range(width):
                    self.put(x + dx, y + dy, c)

    def disc(self, cx, cy, r, fill, edge=None):
        for y in range(self.size):
            for x in range(self.size):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                if d <= r:
                    self.put(x, y, edge if (edge is not None and d > r - 1.2) else fill)

    def glyph(self, rows, x0, y0, c, scale=1):
        for j, row in enumerate(rows):
            for i, ch in enumerate(row):
                if ch == '#':
                    for dx in range(scale):
                        for dy in range(scale):
                            self.put(x0 + i * scale + dx, y0 + j * scale + dy, c)


def book(cv, x0, y0, x1, y1, cover):
    small = cv.size < 32
    cv.rect(x0, y0, x1, y1, cover, BLACK)
    cv.rect(x0 + 2, y1 - (1 if small else 3), x1 - 1, y1 - 1, WHITE)  # the pages
    cv.line(x0 + (2 if small else 3), y0, x0 + (2 if small else 3), y1 - (2 if small else 4), BLACK)  # the spine


QUESTION = [" #### ", "##  ##", "    ##", "   ## ", "  ##  ", "  ##  ", "      ", "  ##  "]
QUESTION_SMALL = [" #### ", "##  ##", "   ## ", "  ##  ", "  ##  ", "      ", "  ##  "]


def draw(name, cv=None):
    """The 32 x 32 images; drawn on a Shapes instead, the same strokes become outlines for any size."""
    cv = cv if cv is not None else Canvas(32)
    if name == 'kavurio':  # a stack of three comic volumes
        for i, colour in enumerate((RED, BLUE, GREEN)):
            y = 22 - i * 8
            cv.rect(3 + i, y, 28 - i, y + 7, colour, BLACK)
            cv.rect(24 - i, y + 2, 27 - i, y + 5, WHITE)
    elif name == 'new':  # a book and a plus
        book(cv, 3, 4, 20, 28, BLUE)
        cv.disc(23, 21, 8, LIME, GREEN)
        cv.rect(22, 15, 24, 27, WHITE)
        cv.rect(17, 20, 29, 22, WHITE)
    elif name == 'del':  # a book struck out
        book(cv, 3, 4, 20, 28, BLUE)
        cv.line(14, 14, 28, 28, RED, 3)
        cv.line(28, 14, 14, 28, RED, 3)
    elif name == 'hozon':  # a list of what is still missing
        cv.rect(5, 2, 26, 29, WHITE, BLACK)
        for y in range(7, 27, 5):
            cv.rect(8, y, 10, y + 2, FUCHSIA, PURPLE)
            cv.line(13, y + 1, 23, y + 1, GRAY)
    elif name == 'print':  # a printer with a sheet coming out
        cv.rect(9, 2, 22, 12, WHITE, BLACK)
        cv.rect(3, 11, 28, 22, SILVER, BLACK)
        cv.rect(23, 14, 25, 15, LIME)
        cv.rect(8, 19, 23, 29, WHITE, BLACK)
        for y in (22, 25):
            cv.line(10, y, 21, y, GRAY)
    elif name == 'help':  # a question mark in a blue disc
        cv.disc(16, 16, 14, BLUE, NAVY)
        cv.glyph(QUESTION, 10, 7, WHITE, 2)
    elif name == 'end':  # an open door
        cv.rect(6, 2, 24, 29, OLIVE, BLACK)
        cv.rect(9, 5, 21, 29, BLACK)
        cv.rect(9, 5, 16, 29, MAROON, BLACK)
        cv.rect(14, 16, 15, 18, YELLOW)
        cv.line(19, 16, 29, 16, RED, 2)
        cv.line(25, 12, 29, 16, RED, 2)
        cv.line(25, 20, 29, 16, RED, 2)
    return cv


def draw_small(name):
    """The 16 x 16 images, drawn on their own: a reduced 32 x 32 one loses its strokes."""
    cv = Canvas(16)
    if name == 'kavurio':
        for i, colour in enumerate((RED, BLUE, GREEN)):
            y = 11 - i * 4
            cv.rect(1 + i, y, 14 - i, y + 3, colour, BLACK)
            cv.rect(11 - i, y + 1, 13 - i, y + 2, WHITE)
    elif name == 'new':
        book(cv, 1, 1, 10, 14, BLUE)
        cv.disc(11.5, 10.5, 4.6, LIME, GREEN)
        cv.rect(11, 7, 12, 14, WHITE)
        cv.rect(8, 10, 15, 11, WHITE)
    elif name == 'del':
        book(cv, 1, 1, 10, 14, BLUE)
        for dx in (0, 1):
            cv.line(8 + dx, 7, 14 + dx, 13, RED)
            cv.line(14 + dx, 7, 8 + dx, 13, RED)
    elif name == 'hozon':
        cv.rect(2, 0, 13, 15, WHITE, BLACK)
        for y in (3, 7, 11):
            cv.rect(4, y, 5, y + 1, FUCHSIA)
            cv.line(7, y, 11, y, GRAY)
            cv.line(7, y + 1, 9, y + 1, GRAY)
    elif name == 'print':
        cv.rect(4, 0, 11, 5, WHITE, BLACK)
        cv.rect(1, 5, 14, 11, SILVER, BLACK)
        cv.put(12, 7, LIME)
        cv.rect(4, 9, 11, 15, WHITE, BLACK)
        cv.line(6, 12, 9, 12, GRAY)
    elif name == 'help':
        cv.disc(8, 8, 7.4, BLUE, NAVY)
        cv.glyph(QUESTION_SMALL, 5, 4, WHITE)
    elif name == 'end':
        cv.rect(1, 0, 11, 15, OLIVE, BLACK)
        cv.rect(3, 2, 9, 15, BLACK)
        cv.rect(3, 2, 6, 15, MAROON, BLACK)
        cv.put(5, 8, YELLOW)
        cv.line(8, 8, 14, 8, RED)
        cv.line(8, 9, 14, 9, RED)
        cv.line(12, 5, 15, 8, RED)
        cv.line(12, 6, 14, 8, RED)
        cv.line(12, 12, 15, 9, RED)
        cv.line(12, 11, 14, 9, RED)
    return cv


def dib4(cv):
    """BITMAPINFOHEADER, palette, 4-bit colours bottom-up, then the AND mask."""
    n = cv.size
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in VGA)
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(n)):
        row = [max(c, 0) for c in cv.px[y]]
        xor += bytes((row[x] << 4) | row[x + 1] for x in range(0, n, 2))
        bits = 0
        for x in range(n):
            bits = (bits << 1) | (1 if cv.px[y][x] == CLEAR else 0)
        mask += bits.to_bytes(n // 8, 'big') + b'\0' * ((4 - n // 8 % 4) % 4)
    return header + palette + bytes(xor) + bytes(mask)


def ico(images):
    """images: list of (size, colour count, bits per pixel, dib bytes)."""
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, colours, bpp, data in images:
        out += struct.pack('<BBBBHHII', size, size, colours % 256, 0, 1, bpp, len(data), offset)
        offset += len(data)
    return out + b''.join(d for _, _, _, d in images)


def pro_palette():
    palette = [(0, 0, 0)] * 256
    for i in range(64):  # gold shades
        palette[i] = (255, 140 + i * 115 // 63, i * 3)
    for i in range(64):  # ribbon reds
        palette[64 + i] = (120 + i * 2, 10, 30 + i)
    palette[255] = (0, 0, 0)
    return palette


def pro_star():
    star = []
    for k in range(10):
        r = 14 if k % 2 == 0 else 6
        a = -math.pi / 2 + k * math.pi / 5
        star.append((16 + r * math.cos(a), 15 + r * math.sin(a)))
    return star


def inside(polygon, x, y):
    """Even-odd rule."""
    hit = False
    for i in range(len(polygon)):
        (x1, y1), (x2, y2) = polygon[i], polygon[(i + 1) % len(polygon)]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            hit = not hit
    return hit


def on_ribbon(x, y):
    return 22 <= y <= 31 and (9 <= x <= 13 or 18 <= x <= 22) and not (y > 28 and (x in (11, 20)))


def pro_icon():
    """A gold star on a ribbon, 256 colours."""
    palette = pro_palette()
    n = 32
    px = [[None] * n for _ in range(n)]
    star = pro_star()
    for y in range(n):
        for x in range(n):
            if on_ribbon(x, y):
                px[y][x] = 64 + (y - 22) * 6
            if inside(star, x + 0.5, y + 0.5):
                px[y][x] = max(0, min(63, 63 - int(math.hypot(x - 12, y - 10) * 3)))
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in palette)
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(n)):
        xor += bytes(c if c is not None else 255 for c in px[y])
        bits = 0
        for x in range(n):
            bits = (bits << 1) | (1 if px[y][x] is None else 0)
        mask += bits.to_bytes(4, 'big')
    return ico([(32, 256, 8, header + pal + bytes(xor) + bytes(mask))])


# "カヴリオ" set in a proportional gothic, 243 x 61, one bit a pixel, rows padded to bytes.
LOGO_MASK = 'eNrt1LFSxCAQBmCcFLGjtcPHsOO17IhzRezySjgU1/kKZ55ArqPIsO4uON6tCd5oYXNUMN8fsgM7ALTGG1z5As6uyYtt8qtZ50yfJTciH2m2zkHPELd5npp8hL8w/J4Hpfo2d5+s7Cl7pdQX42SFJ4BwCXvJeFWReF//7UVpP7FjHis/t/m2yflOcCo8VX5YZ42M3bJ8Yzjl9Cg4ckXZIM+4SltMVwqzZN6ztDlyaHMvOZT2djzNWvKOORZORjIdV12OEK1kzfxS2DvBufCuJG9kKyZzQM59SY6Sow0BQ5qTcJDsne9wZTiJkftzfgKPGw+Ok9Tm5xwgagrhGOj0BL8DWGrEWv3SbT5c++uD/b/8AcqT494='


def lzw(indices, min_size):
    """GIF's variable-length LZW, with a clear code whenever the table fills."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    out, acc, nbits = bytearray(), 0, 0
    size = min_size + 1

    def emit(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    table = {(i,): i for i in range(clear)}
    emit(clear)
    prefix = ()
    for c in indices:
        word = prefix + (c,)
        if word in table:
            prefix = word
            continue
        emit(table[prefix])
        nxt = len(table) + 2
        if nxt < 4096:
            table[word] = nxt
            if nxt == (1 << size) and size < 12:
                size += 1
        else:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            size = min_size + 1
        prefix = (c,)
    if prefix:
        emit(table[prefix])
    emit(end)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def logo(target_size=4349):
    w, h = 243, 61
    text = logo_text(w, h)
    palette = []
    for i in range(16):  # background: a cool gradient, dark blue at the top to light blue
        palette.append((40 + i * 10, 70 + i * 10, 150 + i * 6))
    for i in range(15):  # lettering: white to pale pink, and its shadow
        palette.append((255 - i * 4, 235 - i * 10, 255 - i * 3) if i < 12 else (20 + i, 20, 60))
    palette.append((255, 0, 255))  # 31: transparent
    pixels = []
    for y in range(h):
        for x in range(w):
            corner = min(x, w - 1 - x, y, h - 1 - y)
            rx, ry = min(x, w - 1 - x), min(y, h - 1 - y)
            if rx < 8 and ry < 8 and math.hypot(8 - rx, 8 - ry) > 8.5 or corner < 0:
                pixels.append(31)
            elif text[y][x]:
                pixels.append(16 + min(11, y * 12 // h))
            elif y > 2 and x > 2 and text[y - 2][x - 2]:
                pixels.append(28)  # the lettering's shadow
            else:
                pixels.append(min(15, y * 16 // h))
    body = bytearray(b'GIF89a')
    body += struct.pack('<HHBBB', w, h, 0xF4, 0, 0)  # global table of 32 colours
    body += b''.join(bytes(c) for c in palette)
    body += b'\x21\xF9\x04\x01\x00\x00\x1F\x00'  # colour 31 is transparent
    image = b'\x2C' + struct.pack('<HHHHB', 0, 0, w, h, 0)
    data = lzw(pixels, 5)
    blocks = b''.join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255))
    image += b'\x05' + blocks + b'\x00'
    # A comment extension brings the file to its fixed size.
    room = target_size - len(body) - len(image) - 1
    if room < 0:
        raise SystemExit('logo too large: %d bytes over' % -room)
    out = bytes(body) + image + comment_extension(room) + b'\x3B'
    assert len(out) == target_size
    return out


def comment_extension(size):
    """A GIF comment extension of exactly size bytes (none for 0)."""
    if size == 0:
        return b''
    if size in (1, 2, 4):
        raise SystemExit('no comment extension is %d bytes long' % size)
    # Introducer, label and terminator take 3 bytes; every sub-block one more than it holds.
    room = size - 3
    blocks = -(-room // 256)
    text = room - blocks
    comment = (b'kavurio logo ' + b'.' * text)[:text]
    out = bytearray(b'\x21\xFE')
    # Sub-blocks of near-equal length, so none is left empty (an empty one would end the extension).
    start = 0
    for i in range(blocks):
        n = text // blocks + (1 if i < text % blocks else 0)
        out += bytes([n]) + comment[start:start + n]
        start += n
    return bytes(out + b'\x00')


def png(cv, path):
    """A plain PNG of an icon, for the desktop's icon theme."""
    write_png([[VGA[c] + (255,) if c != CLEAR else (0, 0, 0, 0) for c in row] for row in cv.px], path)


def write_png(rows, path):
    """rows: lists of (red, green, blue, alpha), 8 bits each."""
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', len(rows[0]), len(rows), 8, 6, 0, 0, 0))
    data += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(data)


# High resolution: the 32 x 32 drawings taken as outlines on a 32-unit square,
# rendered at any size with smooth edges, or written as SVG.

SUB = 4  # samples per pixel along each axis where an edge crosses the pixel


def convex_hull(points):
    points = sorted(set(points))

    def half(seq):
        out = []
        for p in seq:
            while len(out) >= 2 and ((out[-1][0] - out[-2][0]) * (p[1] - out[-2][1]) -
                                     (out[-1][1] - out[-2][1]) * (p[0] - out[-2][0])) <= 0:
                out.pop()
            out.append(p)
        return out[:-1]

    return half(points) + half(reversed(points))


class Shapes:
    """Takes the drawing calls of a Canvas(32) and keeps them as shapes, painted in order."""
    size = 32

    def __init__(self):
        self.items = []  # (kind, geometry, colour)

    def box(self, x0, y0, x1, y1, c):
        self.items.append(('box', (x0, y0, x1, y1), c))

    def rect(self, x0, y0, x1, y1, fill, edge=None):
        # A pixel rectangle covers its last row and column too.
        if edge is None:
            self.box(x0, y0, x1 + 1, y1 + 1, fill)
            return
        self.box(x0, y0, x1 + 1, y1 + 1, edge)
        if x1 - x0 >= 2 and y1 - y0 >= 2:
            self.box(x0 + 1, y0 + 1, x1, y1, fill)

    def line(self, x0, y0, x1, y1, c, width=1):
        # The square brush swept from one end to the other.
        corners = [(x + dx, y + dy) for x, y in ((x0, y0), (x1, y1)) for dx in (0, width) for dy in (0, width)]
        self.items.append(('polygon', convex_hull(corners), c))

    def disc(self, cx, cy, r, fill, edge=None):
        if edge is not None:
            self.items.append(('disc', (cx, cy, r), edge))
            r -= 1.2
        self.items.append(('disc', (cx, cy, r), fill))

    def glyph(self, rows, x0, y0, c, scale=1):
        for j, row in enumerate(rows):
            for i, ch in enumerate(row):
                if ch == '#':
                    self.box(x0 + i * scale, y0 + j * scale, x0 + (i + 1) * scale, y0 + (j + 1) * scale, c)


def pro_shapes():
    palette = pro_palette()
    shapes = Shapes()
    for y in range(22, 32):
        x = 9
        while x < 23:  # runs of ribbon pixels
            if not on_ribbon(x, y):
                x += 1
                continue
            end = x
            while end + 1 < 23 and on_ribbon(end + 1, y):
                end += 1
            shapes.box(x, y, end + 1, y + 1, palette[64 + (y - 22) * 6])
            x = end + 1

    def gold(u, v):  # the 32 x 32 star's shading, without its steps
        t = max(0.0, min(63.0, 63 - math.hypot(u - 12.5, v - 10.5) * 3))
        return (255, 140 + t * 115 / 63, t * 3)

    shapes.items.append(('polygon', pro_star(), gold))
    return shapes


def overlap(a0, a1, b0, b1):
    return max(0.0, min(a1, b1) - max(a0, b0))


def coverage(kind, geo, s, n):
    """(x, y, covered part) of every pixel the shape touches, at s pixels a unit."""
    if kind == 'box':
        x0, y0, x1, y1 = (v * s for v in geo)
        for y in range(max(0, math.floor(y0)), min(n, math.ceil(y1))):
            cy = overlap(y, y + 1, y0, y1)
            for x in range(max(0, math.floor(x0)), min(n, math.ceil(x1))):
                yield x, y, cy * overlap(x, x + 1, x0, x1)
        return
    if kind == 'disc':
        cx, cy, r = (v * s for v in geo)
        bounds = (cx - r, cy - r, cx + r, cy + r)

        def hit(u, v):
            return math.hypot(u - cx, v - cy) <= r

        def sure(x, y):  # None where the pixel straddles the edge
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            return 1.0 if d + 0.71 <= r else 0.0 if d - 0.71 >= r else None
    else:
        points = [(u * s, v * s) for u, v in geo]
        bounds = (min(p[0] for p in points), min(p[1] for p in points), max(p[0] for p in points),
                  max(p[1] for p in points))

        def hit(u, v):
            return inside(points, u, v)

        def sure(x, y):
            return None

    for y in range(max(0, math.floor(bounds[1])), min(n, math.ceil(bounds[3]))):
        for x in range(max(0, math.floor(bounds[0])), min(n, math.ceil(bounds[2]))):
            part = sure(x, y)
            if part is None:
                part = sum(hit(x + (i + 0.5) / SUB, y + (j + 0.5) / SUB) for i in range(SUB)
                           for j in range(SUB)) / (SUB * SUB)
            if part:
                yield x, y, part


def render(shapes, n):
    """An n x n picture of the shapes: rows of (red, green, blue, alpha)."""
    s = n / shapes.size
    px = [[[0.0, 0.0, 0.0, 0.0] for _ in range(n)] for _ in range(n)]  # premultiplied
    for kind, geo, c in shapes.items:
        for x, y, part in coverage(kind, geo, s, n):
            rgb = c((x + 0.5) / s, (y + 0.5) / s) if callable(c) else VGA[c] if isinstance(c, int) else c
            p = px[y][x]
            for k in range(3):
                p[k] = rgb[k] * part + p[k] * (1 - part)
            p[3] = part + p[3] * (1 - part)
    rows = []
    for row in px:
        out = []
        for r, g, b, a in row:
            if a < 0.5 / 255:
                out.append((0, 0, 0, 0))
            else:
                out.append(tuple(min(255, round(v / a)) for v in (r, g, b)) + (round(a * 255),))
        rows.append(out)
    return rows


def svg(shapes, title):
    """The shapes as a scalable picture."""

    def num(v):
        return ('%.3f' % v).rstrip('0').rstrip('.')

    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 %d %d">' %
           (shapes.size, shapes.size), '  <title>%s</title>' % title]
    for kind, geo, c in shapes.items:
        fill = '#%02x%02x%02x' % (VGA[c] if isinstance(c, int) else c)
        if kind == 'box':
            x0, y0, x1, y1 = geo
            out.append('  <rect x="%s" y="%s" width="%s" height="%s" fill="%s"/>' %
                       (num(x0), num(y0), num(x1 - x0), num(y1 - y0), fill))
        elif kind == 'disc':
            out.append('  <circle cx="%s" cy="%s" r="%s" fill="%s"/>' % (num(geo[0]), num(geo[1]), num(geo[2]), fill))
        else:
            out.append('  <polygon points="%s" fill="%s"/>' % (' '.join(num(u) + ',' + num(v) for u, v in geo), fill))
    out.append('</svg>')
    return ('\n'.join(out) + '\n').encode('utf-8')


def dib32(rows):
    """BITMAPINFOHEADER, 32-bit BGRA bottom-up, then the AND mask."""
    n = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p[3] == 0 else 0)
        mask += bits.to_bytes(n // 8, 'big') + b'\0' * ((4 - n // 8 % 4) % 4)
    return header + xor + bytes(mask)


def scale2x(grid):
    """Doubles a two-colour picture, rounding its stair steps into diagonals (the EPX rule)."""
    h, w = len(grid), len(grid[0])
    out = [[0] * (2 * w) for _ in range(2 * h)]
    for y in range(h):
        for x in range(w):
            p = grid[y][x]
            a = grid[y - 1][x] if y > 0 else p
            b = grid[y][x + 1] if x < w - 1 else p
            c = grid[y][x - 1] if x > 0 else p
            d = grid[y + 1][x] if y < h - 1 else p
            out[2 * y][2 * x] = a if c == a and c != d and a != b else p
            out[2 * y][2 * x + 1] = b if a == b and a != c and b != d else p
            out[2 * y + 1][2 * x] = c if d == c and d != b and c != a else p
            out[2 * y + 1][2 * x + 1] = d if b == d and b != a and d != c else p
    return out


def logo_text(w, h):
    bits = zlib.decompress(base64.b64decode(LOGO_MASK))
    stride = (w + 7) // 8
    # A set bit is the dark background of the rendering the mask was taken from.
    return [[1 - ((bits[y * stride + x // 8] >> (7 - x % 8)) & 1) for x in range(w)] for y in range(h)]


def logo_2x():
    """The logo at twice the size: the lettering doubled twice and averaged down, the gradients without steps."""
    w, h = 243, 61
    fine = scale2x(scale2x(logo_text(w, h)))
    W, H = 2 * w, 2 * h

    def text(X, Y):
        if X < 0 or Y < 0:
            return 0.0
        return (fine[2 * Y][2 * X] + fine[2 * Y][2 * X + 1] + fine[2 * Y + 1][2 * X] + fine[2 * Y + 1][2 * X + 1]) / 4

    def opaque(u, v):  # u, v in logo pixels from the top-left corner
        rx, ry = min(u, w - u) - 0.5, min(v, h - v) - 0.5
        return not (rx < 8 and ry < 8 and math.hypot(8 - rx, 8 - ry) > 8.5)

    rows = []
    for Y in range(H):
        v = (Y + 0.5) / 2
        t = max(0.0, min(15.0, v * 16 / h - 0.5))
        background = (40 + t * 10, 70 + t * 10, 150 + t * 6)
        k = max(0.0, min(11.0, v * 12 / h - 0.5))
        lettering = (255 - k * 4, 235 - k * 10, 255 - k * 3)
        row = []
        for X in range(W):
            rgb = background
            for colour_, part in (((32, 20, 60), text(X - 4, Y - 4)), (lettering, text(X, Y))):
                rgb = tuple(c * part + b * (1 - part) for c, b in zip(colour_, rgb))
            if min(X, W - 1 - X) < 20 and min(Y, H - 1 - Y) < 20:
                alpha = sum(opaque((X + (i + 0.5) / SUB) / 2, (Y + (j + 0.5) / SUB) / 2) for i in range(SUB)
                            for j in range(SUB)) / (SUB * SUB)
            else:
                alpha = 1.0
            row.append(tuple(round(c) for c in rgb) + (round(alpha * 255),) if alpha else (0, 0, 0, 0))
        rows.append(row)
    return rows


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'pictures')
    os.makedirs(folder, exist_ok=True)
    for name in ('kavurio', 'new', 'del', 'hozon', 'print', 'help', 'end'):
        big = draw(name)
        small = draw_small(name)
        data = ico([(32, 16, 4, dib4(big)), (16, 16, 4, dib4(small))])
        assert len(data) == 1078, (name, len(data))
        with open(os.path.join(folder, name + '.ico'), 'wb') as f:
            f.write(data)
        # Twice the size, for screens scaled to 150 % and more: Qt takes name@2x.ico by itself.
        with open(os.path.join(folder, name + '@2x.ico'), 'wb') as f:
            f.write(ico([(64, 0, 32, dib32(render(draw(name, Shapes()), 64)))]))
        if name == 'kavurio':
            png(big, os.path.join(folder, 'kavurio-32.png'))
            png(small, os.path.join(folder, 'kavurio-16.png'))
            # The icon theme's larger sizes and its scalable picture.
            for n in (48, 64, 128, 256):
                write_png(render(draw(name, Shapes()), n), os.path.join(folder, 'kavurio-%d.png' % n))
            with open(os.path.join(folder, 'kavurio.svg'), 'wb') as f:
                f.write(svg(draw(name, Shapes()), 'カヴリオ'))
    data = pro_icon()
    assert len(data) == 2238, len(data)
    with open(os.path.join(folder, 'pro.ico'), 'wb') as f:
        f.write(data)
    with open(os.path.join(folder, 'pro@2x.ico'), 'wb') as f:
        f.write(ico([(64, 0, 32, dib32(render(pro_shapes(), 64)))]))
    data = logo()
    assert len(data) == 4349, len(data)
    with open(os.path.join(folder, 'logo.gif'), 'wb') as f:
        f.write(data)
    write_png(logo_2x(), os.path.join(folder, 'logo@2x.png'))


if __name__ == '__main__':
    main()
