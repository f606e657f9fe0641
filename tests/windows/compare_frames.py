#!/usr/bin/env python3
"""Compares frames drawn by Direct3D 9 under Wine with the software device's frames of the same state.

usage: compare_frames.py [options] --frame NAME SOFTWARE.png WINE.png [--frame ...]

A pair agrees when
  * both pictures have the same size,
  * at least --min-identical percent of the pixels are identical (all three channels),
  * every pixel that differs by more than SHADE_TOLERANCE levels in a channel (a "coverage"
    difference: another surface, or the background, won the pixel) lies on an edge between
    surfaces: within its 3 x 3 square of the software picture some pixel differs from it by
    more than SHADE_TOLERANCE ("off edge" counts those where none does). In line drawings
    (--line-frame) the square is 5 x 5: where several edges cross, which line is drawn last
    decides the pixel, and the lines around it have the colour of the one the software drew.
    Differences of at most SHADE_TOLERANCE levels ("shade") are the rounding of interpolated
    colours and may lie anywhere, but they count as differing pixels all the same;
  * no patch of difference of either kind is wider than two pixels: the mask of differing
    pixels eroded by a 3 x 3 square is empty ("wide" counts the pixels that survive).
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
SHADE_TOLERANCE = 2


class Comparison:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.total = width * height
        self.differing = 0
        self.shade = 0         # differing pixels whose channels are all within SHADE_TOLERANCE
        self.max_delta = 0
        self.off_edge = []     # (x, y) of differing pixels with no other colour around them
        self.wide = []         # (x, y) of differing pixels whose 3 x 3 square differs entirely
        self.lit = 0           # software pixels that are not the clear colour
        self.mask = None       # per pixel: 0 equal, 1 shade, 2 coverage on an edge, 3 off edge

    @property
    def identical_percent(self):
        return 100.0 * (self.total - self.differing) / self.total

    @property
    def lit_percent(self):
        return 100.0 * self.lit / self.total

    def agrees(self, min_identical):
        return self.identical_percent >= min_identical and not self.off_edge and not self.wide


def _distance(rgb, i, j):
    return max(abs(rgb[i] - rgb[j]), abs(rgb[i + 1] - rgb[j + 1]), abs(rgb[i + 2] - rgb[j + 2]))


def compare(software, wine, lines=False):
    """Pixel-by-pixel comparison of two pngimage.Image objects of the same size; lines=True for
    line drawings (wireframe), where edges are looked for two pixels around instead of one."""
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
                delta = max(abs(sw[i] - hw[i]), abs(sw[i + 1] - hw[i + 1]), abs(sw[i + 2] - hw[i + 2]))
                result.differing += 1
                result.max_delta = max(result.max_delta, delta)
                if delta <= SHADE_TOLERANCE:
                    result.shade += 1
                    mask[base + x] = 1
                else:
                    mask[base + x] = 2

    reach = 2 if lines else 1
    for index in (i for i, m in enumerate(mask) if m):
        x, y = index % width, index // width
        if mask[index] == 2:
            on_edge = False
            for ny in range(max(0, y - reach), min(height, y + reach + 1)):
                for nx in range(max(0, x - reach), min(width, x + reach + 1)):
                    if _distance(sw, 3 * index, 3 * (ny * width + nx)) > SHADE_TOLERANCE:
                        on_edge = True
                        break
                if on_edge:
                    break
            if not on_edge:
                result.off_edge.append((x, y))
        whole_square = 0 < x < width - 1 and 0 < y < height - 1 and all(
            mask[(y + dy) * width + x + dx] for dy in (-1, 0, 1) for dx in (-1, 0, 1))
        if whole_square:
            result.wide.append((x, y))

    for x, y in result.off_edge:
        mask[y * width + x] = 3
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
    """The software picture at a quarter of its brightness; differing pixels: shade in cyan,
    coverage on an edge in yellow, off an edge in magenta."""
    rgb = bytearray(b // 4 for b in software.rgb)
    colours = {1: b"\x00\xff\xff", 2: b"\xff\xff\x00", 3: b"\xff\x00\xff"}
    for index, m in enumerate(comparison.mask):
        if m:
            rgb[3 * index:3 * index + 3] = colours[m]
    return pngimage.Image(software.width, software.height, rgb)


def _where(points):
    if not points:
        return ""
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return " in x %d..%d y %d..%d" % (min(xs), max(xs), min(ys), max(ys))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    class AddPair(argparse.Action):
        """Keeps --frame and --line-frame pairs in the order given."""
        def __call__(self, parser, namespace, values, option_string=None):
            namespace.pairs.append((tuple(values), option_string == "--line-frame"))

    parser.set_defaults(pairs=[])
    parser.add_argument("--frame", nargs=3, action=AddPair, metavar=("NAME", "SOFTWARE", "WINE"),
                        help="a pair of pictures to compare")
    parser.add_argument("--line-frame", nargs=3, action=AddPair, metavar=("NAME", "SOFTWARE", "WINE"),
                        help="a pair of line drawings (wireframe)")
    parser.add_argument("--min-identical", type=float, default=99.5,
                        help="least share of identical pixels, in percent (default 99.5)")
    parser.add_argument("--min-lit", type=float, default=1.0,
                        help="least share of software pixels other than the clear colour, in percent "
                             "(default 1)")
    parser.add_argument("--distinct", action="store_true",
                        help="fail when two software pictures are identical")
    parser.add_argument("--diff-dir", help="write NAME-diff.png here for every pair that disagrees")
    args = parser.parse_args(argv)
    pairs = args.pairs
    if not pairs:
        parser.error("no frames given")

    failures = []
    digests = {}
    print("%-22s %10s %9s %6s %8s %5s %5s %6s" % ("frame", "identical%", "differing", "shade", "off-edge",
                                                  "wide", "max-d", "lit%"))
    for (name, software_path, wine_path), lines in pairs:
        try:
            software = pngimage.load(software_path)
            wine = pngimage.load(wine_path)
            result = compare(software, wine, lines)
        except (OSError, pngimage.ImageError, ValueError) as error:
            print("%-22s cannot compare: %s" % (name, error))
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

        print("%-22s %10.3f %9d %6d %8d %5d %5d %6.2f  %s" % (
            name + (" (lines)" if lines else ""), result.identical_percent, result.differing, result.shade,
            len(result.off_edge), len(result.wide), result.max_delta, result.lit_percent,
            "ok" if not reasons else "FAIL: " + "; ".join(reasons)))
        if reasons:
            failures.append(name)
            if args.diff_dir and result.differing:
                os.makedirs(args.diff_dir, exist_ok=True)
                path = os.path.join(args.diff_dir, name + "-diff.png")
                with open(path, "wb") as f:
                    f.write(pngimage.encode_png(difference_picture(software, result)))
                print("%-22s difference picture: %s" % ("", path))

    count = len(pairs)
    if failures:
        print("Wine vs software frames: %d of %d disagree (%s)" % (len(failures), count, ", ".join(failures)))
        return 1
    print("Wine vs software frames: all %d agree (>= %.2f%% identical, differences only on edges)" %
          (count, args.min_identical))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
