#!/usr/bin/env python3
"""Draws the program's icon (a sealed envelope) at 32 and 16 pixels and
writes each as a 16-colour PNG: colour type 3, 4-bit palette, the standard
VGA colours, with magenta marked transparent through tRNS.

Only the standard library is used, so the images can be redrawn anywhere:
    python3 tools/make_icons.py resources/icons
"""
import os
import struct
import sys
import zlib

# The 16 VGA colours; index 13 (magenta) is never drawn and means "no pixel".
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, NAVY, SILVER, GREY, RED, YELLOW, WHITE = 0, 1, 4, 7, 8, 9, 11, 15
CLEAR = 13


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[CLEAR] * size for _ in range(size)]

    def put(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def line(self, x0, y0, x1, y1, colour):
        # Bresenham, so the diagonals stay one pixel wide without smoothing.
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.put(x0, y0, colour)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def fill_below_v(self, x0, x1, top, tip_y, colour, bottom):
        """Fills the flap: the triangle between the top edge and the V."""
        half = (x1 - x0) / 2
        for y in range(top, tip_y + 1):
            t = (y - top) / max(1, tip_y - top)
            for x in range(x0, x1 + 1):
                if abs(x - (x0 + half)) <= half * (1 - t):
                    self.put(x, y, colour)


def envelope(size):
    c = Canvas(size)
    if size == 32:
        x0, y0, x1, y1 = 1, 6, 29, 25
        tip = (15, 17)
        seal = (13, 15, 17, 19)
    else:
        x0, y0, x1, y1 = 0, 3, 14, 13
        tip = (7, 8)
        seal = (6, 7, 8, 9)
    # Shadow, body, the folds from the bottom corners, the flap, then outline.
    c.rect(x0 + 1, y0 + 1, x1 + 1, y1 + 1, GREY)
    c.rect(x0, y0, x1, y1, WHITE)
    c.line(x0, y1, tip[0], tip[1] - (1 if size == 32 else 0), SILVER)
    c.line(x1, y1, tip[0], tip[1] - (1 if size == 32 else 0), SILVER)
    c.fill_below_v(x0, x1, y0, tip[1], YELLOW, y1)
    c.line(x0, y0, tip[0], tip[1], BLACK)
    c.line(x1, y0, tip[0], tip[1], BLACK)
    for x in range(x0, x1 + 1):
        c.put(x, y0, BLACK)
        c.put(x, y1, BLACK)
    for y in range(y0, y1 + 1):
        c.put(x0, y, BLACK)
        c.put(x1, y, BLACK)
    # A red seal where the flap closes.
    sx0, sy0, sx1, sy1 = seal
    c.rect(sx0, sy0, sx1, sy1, RED)
    if size == 32:
        for x, y in ((sx0, sy0), (sx1, sy0), (sx0, sy1), (sx1, sy1)):
            c.put(x, y, YELLOW if y == sy0 else WHITE)
        c.rect(sx0 + 1, sy1, sx1 - 1, sy1, MAROON)
        c.rect(sx1, sy0 + 1, sx1, sy1 - 1, MAROON)
    return c


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png_bytes(canvas):
    n = canvas.size
    raw = bytearray()
    for row in canvas.px:
        raw.append(0)  # no filter
        for i in range(0, n, 2):
            raw.append((row[i] << 4) | row[i + 1])
    ihdr = struct.pack(">IIBBBBB", n, n, 4, 3, 0, 0, 0)
    plte = b"".join(bytes(rgb) for rgb in PALETTE)
    trns = bytes(0 if i == CLEAR else 255 for i in range(CLEAR + 1))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"PLTE", plte) +
            chunk(b"tRNS", trns) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/icons"
    os.makedirs(out, exist_ok=True)
    for size in (32, 16):
        path = os.path.join(out, "vindrel-%d.png" % size)
        with open(path, "wb") as f:
            f.write(png_bytes(envelope(size)))
        print(path)


if __name__ == "__main__":
    main()
