#!/usr/bin/env python3
"""Draws the icons of the Core panel pages (32 x 32 PNG) into their plug-in folders.

The PNG writer, the sampling renderer, the shapes and the palette are those of
draw-panel-icons.py, so that the pages look like the panel around them; this
file only adds the few shapes the pages need. Run from the project root."""
import math
import os
import runpy

_panel = runpy.run_path(os.path.join(os.path.dirname(os.path.abspath(__file__)), "draw-panel-icons.py"))
png, render = _panel["png"], _panel["render"]
circle, ring, rect, rounded, segment = (_panel[name] for name in ("circle", "ring", "rect", "rounded", "segment"))
tick, cross = _panel["tick"], _panel["cross"]
PURPLE, BLUE, GREEN, RED, GREY, WHITE = (_panel[name] for name in ("PURPLE", "BLUE", "GREEN", "RED", "GREY", "WHITE"))
YELLOW = (169, 145, 13)
# A layer without colour clears what lies below it (render() leaves such samples transparent).
CLEAR = None


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1


def arc(cx, cy, outer, inner, start, end):
    """Part of a ring between two angles in degrees, counter-clockwise on screen from three o'clock."""
    def inside(x, y):
        angle = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return inner ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= outer ** 2 and (angle - start) % 360 <= (end - start) % 360
    return inside


def triangle(ax, ay, bx, by, cx, cy):
    def inside(x, y):
        d1 = (x - bx) * (ay - by) - (ax - bx) * (y - by)
        d2 = (x - cx) * (by - cy) - (bx - cx) * (y - cy)
        d3 = (x - ax) * (cy - ay) - (cx - ax) * (y - ay)
        return not ((d1 < 0 or d2 < 0 or d3 < 0) and (d1 > 0 or d2 > 0 or d3 > 0))
    return inside


def gear(colour):
    teeth = [(colour, segment(16, 16, 16 + 13 * math.cos(a), 16 + 13 * math.sin(a), 5))
             for a in (i * math.pi / 4 for i in range(8))]
    return teeth + [(colour, circle(16, 16, 10)), (CLEAR, circle(16, 16, 4.5))]


def cylinder(x0, y0, x1, y1, body, top):
    """A database drum: a body with a white seam across its middle under a lighter lid."""
    cx, rx, ry, mid = (x0 + x1) / 2, (x1 - x0) / 2, 3.5, (y0 + y1) / 2
    lower, upper = ellipse(cx, mid + 1, rx, ry), ellipse(cx, mid - 1, rx, ry)
    seam = lambda x, y: lower(x, y) and not upper(x, y) and y > mid - 1
    return [(body, rect(x0, y0, x1, y1)), (body, ellipse(cx, y1, rx, ry)), (WHITE, seam), (top, ellipse(cx, y0, rx, ry))]


def badge(colour, mark):
    """A small disc in the lower right corner carrying a shrunken tick or cross."""
    shrink = [(WHITE, lambda x, y, inside=inside: inside(2 * x - 32, 2 * y - 32)) for _, inside in mark(WHITE, 6)]
    return [(WHITE, circle(24, 24, 8.5)), (colour, circle(24, 24, 7))] + shrink


DATABASE = cylinder(5, 6, 23, 24, BLUE, PURPLE)
CORE = "OmbrixServerPanets/OmbrixCore"

ICONS = {
    CORE + "/LogPanet/Images/LogPanet.png":
        [(BLUE, rounded(5, 2, 27, 30, 2.5)), (WHITE, rounded(7.5, 4.5, 24.5, 27.5, 1))]
        + [(colour, rect(10, y, 22, y + 2)) for colour, y in ((RED, 8), (YELLOW, 13), (BLUE, 18), (GREEN, 23))],
    CORE + "/LogPanet/Images/LogPanetConfig.png": gear(BLUE),
    CORE + "/DatabasePanet/Images/DatabasePanet.png": cylinder(6, 7, 26, 25, BLUE, PURPLE),
    CORE + "/DatabasePanet/Images/DatabasePanetConfig.png": gear(PURPLE),
    CORE + "/DatabasePanet/Images/DatabasePanetUpdateDb.png":
        [(GREEN, arc(16, 16, 13, 9, 20, 170)), (GREEN, triangle(28, 16, 20, 16, 24, 9)),
         (GREEN, arc(16, 16, 13, 9, 200, 350)), (GREEN, triangle(4, 16, 12, 16, 8, 23))],
    CORE + "/DatabasePanet/Images/PanetConnectionOk.png": DATABASE + badge(GREEN, tick),
    CORE + "/DatabasePanet/Images/PanetConnectionInvalid.png": DATABASE + badge(RED, cross),
    CORE + "/SchedulerPanet/Images/SchedulerPanet.png":
        [(BLUE, circle(16, 16, 14)), (WHITE, circle(16, 16, 11))]
        + [(BLUE, segment(16 + 9 * math.cos(a), 16 + 9 * math.sin(a), 16 + 11 * math.cos(a), 16 + 11 * math.sin(a), 2))
           for a in (i * math.pi / 2 for i in range(4))]
        + [(PURPLE, segment(16, 16, 16, 8, 2.5)), (RED, segment(16, 16, 22, 19, 2.5)), (PURPLE, circle(16, 16, 2))],
    CORE + "/AuthorizationPanet/Images/AuthorizationPanet.png":
        [(GREY, arc(16, 14, 9, 5.5, 0, 180)), (GREY, rect(7, 13, 10.5, 16)), (GREY, rect(21.5, 13, 25, 16)),
         (YELLOW, rounded(4, 15, 28, 30, 3)), (BLUE, circle(16, 21, 2.8)), (BLUE, rect(14.8, 21, 17.2, 26.5))],
    CORE + "/ConnectorPanet/Images/ConnectorPanet.png":
        [(GREY, segment(16, 16, 7, 7, 2.5)), (GREY, segment(16, 16, 25, 7, 2.5)), (GREY, segment(16, 16, 16, 26, 2.5)),
         (PURPLE, circle(16, 16, 5)), (BLUE, circle(7, 7, 4)), (BLUE, circle(25, 7, 4)), (GREEN, circle(16, 26, 4))],
}


def arrow_down(colour, cx=16, top=4, bottom=27):
    """A thick downward arrow: a shaft and a head."""
    return [(colour, rect(cx - 3, top, cx + 3, bottom - 8)), (colour, triangle(cx - 9, bottom - 10, cx + 9, bottom - 10, cx, bottom))]


def sheet(colour):
    """A page of a file with a folded corner."""
    return [(colour, rounded(7, 3, 25, 29, 2)), (WHITE, rounded(9, 5, 23, 27, 1)), (colour, triangle(18, 3, 25, 3, 25, 10))]


def word_size(colour, bits):
    """Bars under a platform mark: one for 32 bits, two for 64."""
    return [(colour, rect(6 + 5 * i, 26, 9 + 5 * i, 29)) for i in range(bits // 32)]


UPDATE = CORE + "/UpdatePanet/Images/"
LINUX = [(BLUE, ellipse(16, 13, 8, 10)), (WHITE, ellipse(16, 15, 5, 7)), (YELLOW, triangle(13, 9, 19, 9, 16, 12)),
         (BLUE, circle(14, 7, 1)), (BLUE, circle(18, 7, 1))]
WINDOWS = [(colour, rect(x0, y0, x0 + 9, y0 + 9)) for colour, x0, y0 in
           ((RED, 6, 3), (GREEN, 17, 3), (BLUE, 6, 14), (YELLOW, 17, 14))]
ICONS.update({
    UPDATE + "UpdatePanet.png": [(BLUE, ring(16, 16, 14, 11))] + arrow_down(GREEN, top=6, bottom=26),
    UPDATE + "UpdatePanetConfig.png": gear(GREEN),
    UPDATE + "PanetDownload.png": arrow_down(GREEN) + [(BLUE, rect(5, 27, 27, 30))],
    UPDATE + "UpdatePanetInfo.png": [(BLUE, circle(16, 16, 14)), (WHITE, circle(16, 9, 2.5)), (WHITE, rect(14, 13, 18, 25))],
    UPDATE + "UpdatePanetInstall.png": [(PURPLE, rounded(4, 16, 28, 29, 2))] + arrow_down(GREEN, top=2, bottom=22),
    UPDATE + "PanetStopped.png": [(GREY, circle(16, 16, 13)), (WHITE, rect(11, 11, 21, 21))],
    UPDATE + "PanetCheckingUpdates.png": [(BLUE, ring(13, 13, 10, 7)), (BLUE, segment(20, 20, 28, 28, 4))],
    UPDATE + "PanetNoUpgrades.png": [(GREEN, circle(16, 16, 13))] + tick(WHITE),
    UPDATE + "PanetDownloading.png": [(BLUE, circle(16, 16, 14))] + arrow_down(WHITE, top=7, bottom=25),
    UPDATE + "PanetUpgrading.png": [(PURPLE, circle(16, 16, 14))] + gear(WHITE)[-2:] + [(PURPLE, circle(16, 16, 3))],
    UPDATE + "UpdatePanetFileNotDownloaded.png": sheet(GREY) + [(RED, circle(24, 24, 6))],
    UPDATE + "UpdatePanetFileAlreadyDownloaded.png": sheet(BLUE) + badge(GREEN, tick),
    UPDATE + "UpdatePanetFileAlreadyInstalled.png": sheet(PURPLE) + badge(BLUE, tick),
    UPDATE + "UpdatePanetLogoLinux32.png": LINUX + word_size(GREY, 32),
    UPDATE + "UpdatePanetLogoLinux64.png": LINUX + word_size(GREY, 64),
    UPDATE + "UpdatePanetLogoWindows32.png": WINDOWS + word_size(GREY, 32),
    UPDATE + "UpdatePanetLogoWindows64.png": WINDOWS + word_size(GREY, 64),
})

if __name__ == "__main__":
    for path, layers in ICONS.items():
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(png(render(layers)))
        print(path)
