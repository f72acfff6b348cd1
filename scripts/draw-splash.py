#!/usr/bin/env python3
"""Draws the runner's splash pictures: the wizard's watermark and the wide
picture of the update dialog, with the panel's palette and logo mark.

They are written as PNG data under the names the runner's resources use;
Qt reads the data whatever the name says. Run from the project root."""
import os
import runpy

_panel = runpy.run_path(os.path.join(os.path.dirname(os.path.abspath(__file__)), "draw-panel-icons.py"))
png, render, circle, ring, rect, segment = (_panel[name] for name in ("png", "render", "circle", "ring", "rect", "segment"))
PURPLE, BLUE, GREEN, WHITE = (_panel[name] for name in ("PURPLE", "BLUE", "GREEN", "WHITE"))


def gradient(top, bottom, height):
    return lambda x, y: tuple(int(a + (b - a) * min(1, y / height)) for a, b in zip(top, bottom))


def logo(cx, cy, scale):
    """The panel's logo mark: an open ring with a stroke through its gap."""
    return [(WHITE, ring(cx, cy, 9.5 * scale, 5.5 * scale)),
            (WHITE, rect(cx - 1.5 * scale, cy - 13 * scale, cx + 1.5 * scale, cy - 7 * scale))]


def network(points, colour, width):
    return [(colour, segment(ax, ay, bx, by, width)) for (ax, ay), (bx, by) in zip(points, points[1:])] \
        + [(colour, circle(x, y, width * 2)) for x, y in points]


def picture(width, height, cx, cy, scale, nodes):
    return [(gradient(BLUE, PURPLE, height), rect(0, 0, width, height))] + network(nodes, GREEN, 2) + logo(cx, cy, scale)


FOLDER = "OmbrixServerRunner/Resources/Images/"
PICTURES = {
    FOLDER + "imgSplashScreen.jpg": (164, 314, picture(164, 314, 82, 110, 4, [(20, 250), (60, 220), (110, 262), (145, 215)])),
    FOLDER + "imgSplashScreenWide.jpg": (420, 140, picture(420, 140, 80, 70, 3.5, [(180, 105), (250, 60), (320, 95), (390, 40)])),
}

if __name__ == "__main__":
    for path, (width, height, layers) in PICTURES.items():
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(png(render(layers, width, height), width, height))
        print(path)
