#!/usr/bin/env python3
"""Draws the control panel's and the database library's icons (32 x 32 PNG).

Shapes are sampled four times per pixel in each direction so edges come out
smooth; only the standard library is needed. Run from the project root."""
import math
import struct
import zlib

SIZE = 32
SAMPLES = 4

PURPLE = (104, 72, 101)
BLUE = (50, 55, 95)
GREEN = (114, 152, 108)
RED = (143, 62, 81)
GREY = (150, 150, 150)
WHITE = (255, 255, 255)


def png(pixels, width=SIZE, height=SIZE):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + bytes(v for px in pixels[y * width:(y + 1) * width] for v in px) for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def render(layers, width=SIZE, height=SIZE):
    """layers: list of (colour, inside(x, y)) painted in order, in a 0..width by 0..height space."""
    pixels = []
    for py in range(height):
        for px in range(width):
            r = g = b = a = 0.0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    colour = None
                    for fill, inside in layers:
                        if inside(x, y):
                            colour = fill(x, y) if callable(fill) else fill
                    if colour:
                        r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
            n = SAMPLES * SAMPLES
            pixels.append((int(r / a) if a else 0, int(g / a) if a else 0, int(b / a) if a else 0, int(255 * a / n)))
    return pixels


def circle(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def ring(cx, cy, outer, inner):
    return lambda x, y: inner ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= outer ** 2


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def segment(ax, ay, bx, by, width):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) <= width / 2
    return inside


def tick(colour, width=4.5):
    return [(colour, segment(7, 17, 13, 23, width)), (colour, segment(13, 23, 25, 9, width))]


def cross(colour, width=4.5):
    return [(colour, segment(9, 9, 23, 23, width)), (colour, segment(23, 9, 9, 23, width))]


ICONS = {
    "OmbrixServerPanel/Resources/Images/imgOmbrixServerLogo.png":
        [(PURPLE, rounded(2, 2, 30, 30, 7)), (WHITE, ring(16, 16, 9.5, 5.5)), (WHITE, rect(14.5, 3, 17.5, 9))],
    "OmbrixServerPanel/Resources/Images/imgExit.png":
        [(BLUE, rounded(5, 3, 19, 29, 2)), (WHITE, rounded(8, 6, 16, 26, 1)), (RED, segment(13, 16, 27, 16, 4)),
         (RED, segment(22, 11, 27, 16, 4)), (RED, segment(22, 21, 27, 16, 4))],
    "OmbrixServerPanel/Resources/Images/imgPanel.png":
        [(BLUE, rounded(3, 3, 15, 15, 2)), (PURPLE, rounded(17, 3, 29, 15, 2)), (PURPLE, rounded(3, 17, 15, 29, 2)),
         (BLUE, rounded(17, 17, 29, 29, 2))],
    "OmbrixServerPanel/Resources/Images/imgPanelOk.png": [(GREEN, circle(16, 16, 14))] + tick(WHITE),
    "OmbrixServerPanel/Resources/Images/imgPanelNotOk.png": [(RED, circle(16, 16, 14))] + cross(WHITE, 4),
    "OmbrixServerPanel/Resources/Images/imgAdd.png":
        [(GREEN, segment(16, 6, 16, 26, 5)), (GREEN, segment(6, 16, 26, 16, 5))],
    "OmbrixServerPanel/Resources/Images/imgTick.png": tick(GREEN),
    "OmbrixServerPanel/Resources/Images/imgError.png": cross(RED),
    "OmbrixServerCore/OmbrixServerDatabase/Images/imgTick.png": tick(GREEN),
    "OmbrixServerCore/OmbrixServerDatabase/Images/imgNot.png":
        [(GREY, ring(16, 16, 12, 8.5)), (GREY, segment(8, 24, 24, 8, 3.5))],
}

if __name__ == "__main__":
    for path, layers in ICONS.items():
        with open(path, "wb") as out:
            out.write(png(render(layers)))
        print(path)
