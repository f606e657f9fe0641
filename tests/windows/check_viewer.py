#!/usr/bin/env python3
"""Checks two screenshots of the viewer's window: the start-up picture and the one after F2.

usage: check_viewer.py SOLID_SHOT WIREFRAME_SHOT
       check_viewer.py --shows-something SHOT   (exit 0 when any pixel is not black)
       check_viewer.py --mast-open SHOT         (exit 0 when the mast box is mostly dark)

The window's client area shows the 800 x 600 back buffer stretched to its size, so every
place is given as a fraction of the picture's width and height.

Start-up picture (solid fill, flat shading):
  * the mast stands in the middle: in the box MAST_BOX at least MIN_STRIPE of the pixels are
    red and at least MIN_STRIPE white (its stripes), at most MAX_DARK_SOLID dark;
  * black around: every pixel of the margins MARGINS is exactly black; whatever the rotor's
    angle, the instrument stays inside them;
  * between MIN_LIT and MAX_LIT of all pixels are not black.
After F2 (wireframe): only edges are drawn, so
  * at least MIN_DARK_WIRE of the mast box is dark, yet lines cross it (at least MIN_LINES_WIRE
    of it is not dark), and red and white lines are seen (each at least MIN_COLOUR_WIRE of the
    window: the stretch blurs thin lines, so few of their pixels keep the pure colours);
  * fewer than WIRE_COLOUR_RATIO times the start-up picture's red and white pixels remain;
  * the margins are still black.
Prints the figures and a summary line; exits 0 when both pictures pass, 1 otherwise.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pngimage  # noqa: E402

MAST_BOX = (0.45, 0.56, 0.55, 0.68)          # x0, y0, x1, y1: the lower half of the mast
MARGINS = {                                  # x0, y0, x1, y1 of the strips that stay black
    "left": (0.0, 0.0, 0.07, 1.0),
    "right": (0.94, 0.0, 1.0, 1.0),
    "top": (0.0, 0.0, 1.0, 0.04),
    "bottom": (0.0, 0.76, 1.0, 1.0),
}
MIN_STRIPE = 0.25
MAX_DARK_SOLID = 0.05
MIN_DARK_WIRE = 0.50
MIN_LINES_WIRE = 0.01
MIN_COLOUR_WIRE = 0.001
MIN_LIT, MAX_LIT = 0.03, 0.40
WIRE_COLOUR_RATIO = 0.5


def classify(pixel):
    r, g, b = pixel
    if r >= 200 and g <= 60 and b <= 60:
        return "red"
    if min(r, g, b) >= 200:
        return "white"
    if max(r, g, b) <= 40:
        return "dark"
    return "other"


def _box(image, box):
    x0, y0, x1, y1 = box
    return (int(x0 * image.width), int(y0 * image.height),
            max(int(x0 * image.width) + 1, int(x1 * image.width)),
            max(int(y0 * image.height) + 1, int(y1 * image.height)))


def box_shares(image, box):
    """Share of red, white and dark pixels in a box given in fractions of the picture."""
    x0, y0, x1, y1 = _box(image, box)
    counts = {"red": 0, "white": 0, "dark": 0, "other": 0}
    for y in range(y0, y1):
        for x in range(x0, x1):
            counts[classify(image.pixel(x, y))] += 1
    total = (x1 - x0) * (y1 - y0)
    return {k: v / total for k, v in counts.items()}


def window_shares(image):
    return box_shares(image, (0.0, 0.0, 1.0, 1.0))


def lit_pixels_in(image, box):
    x0, y0, x1, y1 = _box(image, box)
    return sum(1 for y in range(y0, y1) for x in range(x0, x1) if image.pixel(x, y) != (0, 0, 0))


def lit_share(image):
    rgb = image.rgb
    black = sum(1 for i in range(0, len(rgb), 3) if rgb[i] == 0 and rgb[i + 1] == 0 and rgb[i + 2] == 0)
    return 1.0 - black / (image.width * image.height)


def check(solid, wire):
    """Returns (figures, problems) for the two screenshots."""
    problems = []
    s = box_shares(solid, MAST_BOX)
    w = box_shares(wire, MAST_BOX)
    ww = window_shares(wire)
    sw = window_shares(solid)
    coloured_s = sw["red"] + sw["white"]
    coloured_w = ww["red"] + ww["white"]
    lit_s = lit_share(solid)
    lit_w = lit_share(wire)
    figures = ("start-up: mast red %.1f%% white %.1f%% dark %.1f%%, lit %.1f%% of the window; "
               "after F2: mast dark %.1f%%, window red %.2f%% white %.2f%%, lit %.1f%%" %
               (100 * s["red"], 100 * s["white"], 100 * s["dark"], 100 * lit_s,
                100 * w["dark"], 100 * ww["red"], 100 * ww["white"], 100 * lit_w))

    if s["red"] < MIN_STRIPE or s["white"] < MIN_STRIPE:
        problems.append("start-up: no red and white mast in the middle")
    if s["dark"] > MAX_DARK_SOLID:
        problems.append("start-up: the mast is not solid")
    if not MIN_LIT <= lit_s <= MAX_LIT:
        problems.append("start-up: %.1f%% of the window lit, expected %.0f%% to %.0f%%" %
                        (100 * lit_s, 100 * MIN_LIT, 100 * MAX_LIT))
    if w["dark"] < MIN_DARK_WIRE:
        problems.append("after F2: the mast is still filled")
    if 1.0 - w["dark"] < MIN_LINES_WIRE:
        problems.append("after F2: no edges on the mast")
    if ww["red"] < MIN_COLOUR_WIRE or ww["white"] < MIN_COLOUR_WIRE:
        problems.append("after F2: no red and white edges")
    if coloured_w >= WIRE_COLOUR_RATIO * coloured_s:
        problems.append("after F2: %.1f%% of the window red or white, expected less than %.0f%% of the "
                        "start-up picture's %.1f%%" % (100 * coloured_w, 100 * WIRE_COLOUR_RATIO, 100 * coloured_s))
    for label, image in (("start-up", solid), ("after F2", wire)):
        for name, box in MARGINS.items():
            lit = lit_pixels_in(image, box)
            if lit:
                problems.append("%s: %d pixels not black in the %s margin" % (label, lit, name))
    return figures, problems


def main(argv):
    if len(argv) == 2 and argv[0] == "--shows-something":
        try:
            return 0 if lit_share(pngimage.load(argv[1])) > 0 else 1
        except (OSError, pngimage.ImageError):
            return 1
    if len(argv) == 2 and argv[0] == "--mast-open":
        try:
            return 0 if box_shares(pngimage.load(argv[1]), MAST_BOX)["dark"] >= MIN_DARK_WIRE else 1
        except (OSError, pngimage.ImageError):
            return 1
    if len(argv) != 2:
        print(__doc__.split("\n")[2])
        return 2
    try:
        solid = pngimage.load(argv[0])
        wire = pngimage.load(argv[1])
    except (OSError, pngimage.ImageError) as error:
        print("viewer screenshots: cannot read: %s" % error)
        return 1
    figures, problems = check(solid, wire)
    print("viewer screenshots (%dx%d): %s" % (solid.width, solid.height, figures))
    for problem in problems:
        print("viewer screenshots: FAIL: %s" % problem)
    if problems:
        return 1
    print("viewer screenshots: instrument shown, F2 switches to wireframe")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
