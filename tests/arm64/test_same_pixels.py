#!/usr/bin/env python3
"""Tests of same_pixels.py's comparisons on made-up pictures and traces."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import same_pixels  # noqa: E402
from same_pixels import pngimage  # noqa: E402


def picture(width, height, changed=()):
    rgb = bytearray(width * height * 3)
    for x, y, colour in changed:
        rgb[3 * (y * width + x):3 * (y * width + x) + 3] = colour
    return pngimage.Image(width, height, rgb)


class PixelDifference(unittest.TestCase):
    def test_names_the_first_differing_pixel_in_reading_order_and_counts_all(self):
        a = picture(4, 3, [(3, 0, b"\x01\x00\x00")])
        b = picture(4, 3, [(2, 1, b"\xff\x00\x00"), (0, 2, b"\x00\x00\x01")])
        self.assertEqual(same_pixels.first_pixel_difference(a, b),
                         "first differing pixel (3, 0): #010000 against #000000; 3 pixels differ")
        self.assertIsNone(same_pixels.first_pixel_difference(a, picture(4, 3, [(3, 0, b"\x01\x00\x00")])))

    def test_a_size_difference_is_reported_without_reading_pixels(self):
        self.assertEqual(same_pixels.first_pixel_difference(picture(4, 3), picture(3, 4)), "size 4x3 against 3x4")


class TraceDifference(unittest.TestCase):
    def test_a_vertex_line_is_named_by_its_buffer_and_index(self):
        a = ["frame 0 rotation 30", "vertex vb3 7 1 2 3 0x00ff0000", "end"]
        b = ["frame 0 rotation 30", "vertex vb3 7 1 2.00000024 3 0x00ff0000", "end"]
        self.assertIn("trace line 2 (vertex 7 of vb3)", same_pixels.first_trace_difference(a, b))

    def test_other_calls_and_a_shorter_trace(self):
        a = ["SetTransform 256 1 0 0 0 -> 0x00000000", "end"]
        self.assertIn("(SetTransform)", same_pixels.first_trace_difference(a, ["SetTransform 256 0 1 0 0", "end"]))
        self.assertEqual(same_pixels.first_trace_difference(a, a[:1]), "trace lengths differ: 2 lines against 1")
        self.assertIsNone(same_pixels.first_trace_difference(a, list(a)))


if __name__ == "__main__":
    unittest.main()
