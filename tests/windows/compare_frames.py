#!/usr/bin/env python3
"""Compares frames drawn by Direct3D 9 under Wine with the software device's frames of the same state.

usage: compare_frames.py [options] --frame NAME SOFTWARE.png WINE.png [--frame ...]

A pair agrees when
  * both pictures have the same size,
  * at least --min-identical percent of the pixels are identical (all three channels), and
  * every differing pixel lies on an edge between surfaces: in the software picture at least one
    of its eight neighbours has another colour ("off edge" counts the pixels where none has), and
    no patch of difference is wider than two pixels: the difference mask eroded by a 3 x 3 square
    is empty ("wide" counts the pixels that survive the erosion).
Besides, the software picture must show something (at least --min-lit percent of its pixels
differ from the clear colour), and with --distinct no two software pictures may be equal, so that
a state that fails to reach both devices cannot pass unnoticed.

Prints one line of figures per frame and a summary line; exits 0 when every pair agrees, 1 when
one does not (or a picture cannot be read), 2 on bad arguments.
"""

import argparse
import hashlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pngimage  # noqa: E402

CLEAR_COLOUR = (0, 0, 0)


class Comparison:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.total = width * height
        self.differing = 0
        self.max_delta = 0
        self.off_edge = []     # (x, y) of differing pixels with no other colour around them
        self.wide = []         # (x, y) of differing pixels whose 3 x 3 square differs entirely
        self.lit = 0           # software pixels that are not the clear colour
        self.mask = None       # per pixel: 0 equal, 1 differs on an edge, 2 differs off edge

    @property
    def identical_percent(self):
        return 100.0 * (self.total - self.differing) / self.total

    @property
    def lit_percent(self):
        return 100.0 * self.lit / self.total

    def agrees(self, min_identical):
        return self.identical_percent >= min_identical and not self.off_edge and not self.wide


def compare(software, wine):
    """Pixel-by-pixel comparison of two pngimage.Image objects of the same size."""
    if (software.width, software.height) != (wine.width, wine.height):
        raise ValueError("sizes differ: software %dx%d, Wine %dx%d" %
                         (software.width, software.height, wine.width, wine.height))
    width, height = software.width, software.height
    result = Comparison(width, height)
    sw = software.rgb
    hw = wine.rgb
    clear = bytes(CLEAR_COLOUR)
    mask = bytearray(width * height)

    for y in range(height):
        row_sw = software.row(y)
        result.lit += width - _count_pixels(row_sw, clear)
        if row_sw == wine.row(y):
            continue
        base = y * width
        for x in range(width):
            i = 3 * (base + x)
            if sw[i:i + 3] != hw[i:i + 3]:
                mask[base + x] = 1
                result.differing += 1
                delta = max(abs(sw[i] - hw[i]), abs(sw[i + 1] - hw[i + 1]), abs(sw[i + 2] - hw[i + 2]))
                result.max_delta = max(result.max_delta, delta)

    for index in (i for i, m in enumerate(mask) if m):
        x, y = index % width, index // width
        centre = sw[3 * index:3 * index + 3]
        on_edge = False
        whole_square = True
        for ny in (y - 1, y, y + 1):
            for nx in (x - 1, x, x + 1):
                if (nx, ny) == (x, y):
                    continue
                if not (0 <= nx < width and 0 <= ny < height):
                    whole_square = False
                    continue
                n = ny * width + nx
                if sw[3 * n:3 * n + 3] != centre:
                    on_edge = True
                if not mask[n]:
                    whole_square = False
        if not on_edge:
            result.off_edge.append((x, y))
        if whole_square:
            result.wide.append((x, y))

    for x, y in result.off_edge:
        mask[y * width + x] = 2
    result.mask = mask
    return result


def _count_pixels(row, colour):
    """How many pixels of a row have exactly the given colour."""
    count = 0
    start = 0
    while True:
        i = row.find(colour, start)
        if i < 0:
            return count
        if i % 3 == 0:
            count += 1
            start = i + 3
        else:
            start = i + 1


def difference_picture(software, comparison):
    """The software picture at a quarter of its brightness, differing pixels on an edge in yellow,
    off an edge in magenta."""
    rgb = bytearray(b // 4 for b in software.rgb)
    for index, m in enumerate(comparison.mask):
        if m:
            rgb[3 * index:3 * index + 3] = b"\xff\xff\x00" if m == 1 else b"\xff\x00\xff"
    return pngimage.Image(software.width, software.height, rgb)


def _where(points):
    if not points:
        return ""
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return " in x %d..%d y %d..%d" % (min(xs), max(xs), min(ys), max(ys))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--frame", nargs=3, action="append", required=True,
                        metavar=("NAME", "SOFTWARE", "WINE"), help="a pair of pictures to compare")
    parser.add_argument("--min-identical", type=float, default=99.5,
                        help="least share of identical pixels, in percent (default 99.5)")
    parser.add_argument("--min-lit", type=float, default=1.0,
                        help="least share of software pixels other than the clear colour, in percent "
                             "(default 1)")
    parser.add_argument("--distinct", action="store_true",
                        help="fail when two software pictures are identical")
    parser.add_argument("--diff-dir", help="write NAME-diff.png here for every pair that disagrees")
    args = parser.parse_args(argv)

    failures = []
    digests = {}
    print("%-16s %10s %9s %9s %9s %6s %8s" % ("frame", "identical%", "differing", "off-edge", "wide",
                                              "max-d", "lit%"))
    for name, software_path, wine_path in args.frame:
        try:
            software = pngimage.load(software_path)
            wine = pngimage.load(wine_path)
            result = compare(software, wine)
        except (OSError, pngimage.ImageError, ValueError) as error:
            print("%-16s cannot compare: %s" % (name, error))
            failures.append(name)
            continue
        reasons = []
        if not result.agrees(args.min_identical):
            if result.identical_percent < args.min_identical:
                reasons.append("fewer than %.2f%% identical" % args.min_identical)
            if result.off_edge:
                reasons.append("%d differing pixels off an edge%s" % (len(result.off_edge), _where(result.off_edge)))
            if result.wide:
                reasons.append("difference wider than 2 pixels%s" % _where(result.wide))
        if result.lit_percent < args.min_lit:
            reasons.append("software picture nearly empty")
        digest = hashlib.sha256(software.rgb).hexdigest()
        if args.distinct and digest in digests:
            reasons.append("software picture equals that of %s" % digests[digest])
        digests.setdefault(digest, name)

        print("%-16s %10.3f %9d %9d %9d %6d %8.2f  %s" % (
            name, result.identical_percent, result.differing, len(result.off_edge), len(result.wide),
            result.max_delta, result.lit_percent, "ok" if not reasons else "FAIL: " + "; ".join(reasons)))
        if reasons:
            failures.append(name)
            if args.diff_dir and result.differing:
                os.makedirs(args.diff_dir, exist_ok=True)
                path = os.path.join(args.diff_dir, name + "-diff.png")
                with open(path, "wb") as f:
                    f.write(pngimage.encode_png(difference_picture(software, result)))
                print("%-16s difference picture: %s" % ("", path))

    count = len(args.frame)
    if failures:
        print("Wine vs software frames: %d of %d disagree (%s)" % (len(failures), count, ", ".join(failures)))
        return 1
    print("Wine vs software frames: all %d agree (>= %.2f%% identical, differences only on edges)" %
          (count, args.min_identical))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
