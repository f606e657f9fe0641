#!/usr/bin/env python3
"""Draws a fixed set of frames, each with its call trace, with two builds of the capture tool (the
host's and a cross-built one run under an emulator) and requires the same pixels and the same
trace from both.

usage: same_pixels.py [--jobs N] [--work DIR] [--emulator "qemu-aarch64 -L ROOT"]
                      NATIVE_TOOL OTHER_TOOL

OTHER_TOOL is started through the emulator's words when one is given. Every state is drawn by
both tools with --trace; a frame passes when both pictures hold the same pixels (the PNG files
are compared byte for byte first, and decoded only when the bytes differ) and both traces are the
same text. A difference names the frame and the first differing pixel, or the first differing
trace line and, for a vertex line, the buffer and vertex; the pictures and traces of a frame that
differs are left in the work folder. Exits 0 when everything is the same,
1 when something differs or a tool fails.
"""

import argparse
import concurrent.futures
import os
import shlex
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows"))
import pngimage  # noqa: E402

# The rotor angles, and the key states that change fill, shading, depth test and the eye.
ANGLES = [0, 1, 2, 17, 30, 45, 59, 60, 77, 89, 90, 119, 120, 135, 180, 200, 239, 240, 270, 300, 333, 359]
KEY_STATES = {
    "solid": "",
    "wire": "F2",
    "gouraud-eye": "F5,Left,Left,PageUp",
    "wire-gouraud-high": "F2,F5,Up,Up,Up,Right",
    "depth-off-low": "F7," + ",".join(["Down"] * 12) + ",PageDown",
}


def states():
    for angle in ANGLES:
        for name, keys in KEY_STATES.items():
            arguments = ["--angle", str(angle)] + (["--keys", keys] if keys else [])
            yield "angle-%d-%s" % (angle, name), arguments


def first_pixel_difference(a, b):
    """The first differing pixel of two same-sized pictures, as (x, y, a's RGB, b's RGB), and the
    number of differing pixels; None when they are the same."""
    if (a.width, a.height) != (b.width, b.height):
        return "size %dx%d against %dx%d" % (a.width, a.height, b.width, b.height)
    first = None
    count = 0
    for y in range(a.height):
        row_a, row_b = a.row(y), b.row(y)
        if row_a == row_b:
            continue
        for x in range(a.width):
            if row_a[3 * x:3 * x + 3] != row_b[3 * x:3 * x + 3]:
                count += 1
                if first is None:
                    first = (x, y)
    if first is None:
        return None
    x, y = first
    return "first differing pixel (%d, %d): #%02x%02x%02x against #%02x%02x%02x; %d pixels differ" % (
        (x, y) + a.pixel(x, y) + b.pixel(x, y) + (count,))


def first_trace_difference(a, b):
    """The first differing line of two traces (lists of lines), named: the line number, the vertex
    (buffer and index) or call, and both texts; None when they are the same."""
    for number, (line_a, line_b) in enumerate(zip(a, b), start=1):
        if line_a != line_b:
            words = line_a.split()
            if len(words) >= 3 and words[0] == "vertex":
                what = "vertex %s of %s" % (words[2], words[1])
            else:
                what = words[0] if words else "an empty line"
            return "trace line %d (%s): %r against %r" % (number, what, line_a, line_b)
    if len(a) != len(b):
        return "trace lengths differ: %d lines against %d" % (len(a), len(b))
    return None


def capture(command, arguments, png, trace):
    run = subprocess.run(command + arguments + ["--trace", trace, "-o", png], capture_output=True, text=True)
    return None if run.returncode == 0 else "exit code %d: %s" % (run.returncode, run.stderr.strip())


def read_lines(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read().split("\n")


def compare(name, files, labels):
    """files: (native png, native trace, other png, other trace). Returns the faults found."""
    png_a, trace_a, png_b, trace_b = files
    faults = []
    with open(png_a, "rb") as f:
        bytes_a = f.read()
    with open(png_b, "rb") as f:
        bytes_b = f.read()
    if bytes_a != bytes_b:
        difference = first_pixel_difference(pngimage.decode_png(bytes_a), pngimage.decode_png(bytes_b))
        if difference:
            faults.append("%s: %s (%s against %s)" % (name, difference, *labels))
    difference = first_trace_difference(read_lines(trace_a), read_lines(trace_b))
    if difference:
        faults.append("%s: %s (%s against %s)" % (name, difference, *labels))
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("native")
    parser.add_argument("other")
    parser.add_argument("--emulator", default="", help="words that start OTHER (e.g. qemu-aarch64 -L ROOT)")
    parser.add_argument("--labels", default="native,other", help="the two builds' names, comma-separated")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--work", default="same-pixels", help="where the pictures and traces go")
    args = parser.parse_args()
    labels = tuple(args.labels.split(",", 1))
    commands = {"a": [args.native], "b": shlex.split(args.emulator) + [args.other]}
    os.makedirs(args.work, exist_ok=True)

    def check(state):
        """Draws one state with both tools and compares; files of a state that passes are removed."""
        name, arguments = state
        files = []
        for command, label in ((commands["a"], labels[0]), (commands["b"], labels[1])):
            base = os.path.join(args.work, "%s-%s" % (name, label))
            files += [base + ".png", base + ".txt"]
            failure = capture(command, arguments, files[-2], files[-1])
            if failure:
                return ["%s: %s capture failed, %s" % (name, label, failure)]
        faults = compare(name, files, labels)
        if not faults:
            for path in files:
                os.remove(path)
        return faults

    all_states = list(states())
    faults = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for state_faults in pool.map(check, all_states):
            faults += state_faults

    frames = len(all_states)
    if faults:
        for fault in faults:
            print("same pixels: FAIL " + fault)
        print("same pixels: %d fault(s) in %d frames" % (len(faults), frames))
        return 1
    print("same pixels: %d frames and their traces identical (%s and %s)" % (frames, *labels))
    return 0


if __name__ == "__main__":
    sys.exit(main())
