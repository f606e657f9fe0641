#!/usr/bin/env python3
"""Tests of the PNG reader, the frame comparison and the screenshot check of the Windows stage."""

import contextlib
import io
import os
import struct
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_viewer  # noqa: E402
import compare_frames  # noqa: E402
import pngimage  # noqa: E402

RED = (255, 0, 0)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)


def make_image(width, height, colour=BLACK):
    return bytearray(bytes(colour) * (width * height))


def fill(rgb, width, x0, y0, x1, y1, colour):
    """Fills the rectangle of pixels x0 <= x < x1, y0 <= y < y1."""
    for y in range(y0, y1):
        for x in range(x0, x1):
            i = 3 * (y * width + x)
            rgb[i:i + 3] = bytes(colour)


def image(width, height, rgb):
    return pngimage.Image(width, height, rgb)


def png_file(width, height, colour_type, rows, filters, palette=None):
    """A PNG whose rows are already filtered as the test wants them."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(bytes([f]) + bytes(r) for f, r in zip(filters, rows))
    out = pngimage.PNG_SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    if palette:
        out += chunk(b"PLTE", palette)
    return out + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


class PngReaderTest(unittest.TestCase):
    def test_round_trip_of_the_writer(self):
        rgb = bytes(range(256)) * 3 + bytes(48)
        original = image(12, 6, rgb[:12 * 6 * 3])
        decoded = pngimage.decode_png(pngimage.encode_png(original))
        self.assertEqual((decoded.width, decoded.height), (12, 6))
        self.assertEqual(decoded.rgb, original.rgb)

    def test_every_row_filter_is_undone(self):
        # Two RGB pixels per row; rows 1..4 use the filters Sub, Up, Average and Paeth on the same
        # pixels as row 0, so every row must decode to the pixels of row 0.
        pixels = [10, 200, 30, 250, 100, 7]
        up = pixels
        sub = pixels[:3] + [(pixels[i] - pixels[i - 3]) & 0xFF for i in range(3, 6)]
        upf = [(pixels[i] - up[i]) & 0xFF for i in range(6)]
        avg = [(pixels[i] - (((pixels[i - 3] if i >= 3 else 0) + up[i]) >> 1)) & 0xFF for i in range(6)]

        def paeth_pred(i):
            a = pixels[i - 3] if i >= 3 else 0
            b = up[i]
            c = up[i - 3] if i >= 3 else 0
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            return a if pa <= pb and pa <= pc else (b if pb <= pc else c)

        paeth = [(pixels[i] - paeth_pred(i)) & 0xFF for i in range(6)]
        rows = [pixels, sub, upf, avg, paeth]
        # Each filtered row refers to the row above, which always decodes to `pixels`.
        data = png_file(2, 5, 2, rows, [0, 1, 2, 3, 4])
        decoded = pngimage.decode_png(data)
        for y in range(5):
            self.assertEqual(list(decoded.row(y)), pixels, "row %d" % y)

    def test_palette_grey_and_alpha_become_rgb(self):
        palette = bytes([1, 2, 3, 4, 5, 6])
        pal = pngimage.decode_png(png_file(2, 1, 3, [[1, 0]], [0], palette))
        self.assertEqual(list(pal.rgb), [4, 5, 6, 1, 2, 3])
        grey = pngimage.decode_png(png_file(2, 1, 0, [[9, 200]], [0]))
        self.assertEqual(list(grey.rgb), [9, 9, 9, 200, 200, 200])
        rgba = pngimage.decode_png(png_file(1, 1, 6, [[7, 8, 9, 0]], [0]))
        self.assertEqual(list(rgba.rgb), [7, 8, 9])

    def test_corrupt_files_are_refused(self):
        good = png_file(1, 1, 2, [[1, 2, 3]], [0])
        bad_crc = bytearray(good)
        bad_crc[-20] ^= 0xFF
        for data in (b"nothing", bytes(bad_crc), good[:30]):
            with self.assertRaises(pngimage.ImageError):
                pngimage.decode_png(data)

    def test_ppm(self):
        decoded = pngimage.decode_ppm(b"P6\n# comment\n2 1\n255\n" + bytes([1, 2, 3, 4, 5, 6]))
        self.assertEqual((decoded.width, decoded.height, list(decoded.rgb)), (2, 1, [1, 2, 3, 4, 5, 6]))
        wide = pngimage.decode_ppm(b"P6 1 1 65535\n" + bytes([0xFF, 0xFF, 0x01, 0x01, 0x80, 0x00]))
        self.assertEqual(list(wide.rgb), [255, 1, 128])


class CompareTest(unittest.TestCase):
    W, H = 120, 100

    def scene(self, x0=30, shift=0):
        """A red quad with a white stripe on black: edges between surfaces and the background."""
        rgb = make_image(self.W, self.H)
        fill(rgb, self.W, x0 + shift, 20, 90 + shift, 80, RED)
        fill(rgb, self.W, 50 + shift, 20, 60 + shift, 80, WHITE)
        return image(self.W, self.H, rgb)

    def test_identical_pictures_agree(self):
        result = compare_frames.compare(self.scene(), self.scene())
        self.assertEqual(result.differing, 0)
        self.assertEqual(result.identical_percent, 100.0)
        self.assertTrue(result.agrees(99.5))

    def test_edges_one_pixel_apart_agree(self):
        software = self.scene()
        wine = bytearray(software.rgb)
        # The right edge of the quad one pixel further right, the stripe's left edge one pixel
        # further left, over part of their height: differences exactly on edges.
        fill(wine, self.W, 90, 30, 91, 60, RED)
        fill(wine, self.W, 49, 40, 50, 70, WHITE)
        result = compare_frames.compare(software, image(self.W, self.H, wine))
        self.assertEqual(result.differing, 30 + 30)
        self.assertEqual(result.off_edge, [])
        self.assertEqual(result.wide, [])
        self.assertTrue(result.agrees(99.5))

    def test_a_two_pixel_seam_along_an_edge_agrees(self):
        software = self.scene()
        wine = bytearray(software.rgb)
        fill(wine, self.W, 89, 30, 91, 40, WHITE)   # two pixels across the quad's right edge
        result = compare_frames.compare(software, image(self.W, self.H, wine))
        self.assertEqual(result.wide, [])
        self.assertEqual(result.off_edge, [])

    def test_a_lone_pixel_inside_a_surface_fails(self):
        software = self.scene()
        wine = bytearray(software.rgb)
        fill(wine, self.W, 40, 50, 41, 51, WHITE)
        result = compare_frames.compare(software, image(self.W, self.H, wine))
        self.assertEqual(result.differing, 1)
        self.assertEqual(result.off_edge, [(40, 50)])
        self.assertFalse(result.agrees(99.5))

    def test_a_patch_wider_than_two_pixels_fails_even_on_an_edge(self):
        software = self.scene()
        wine = bytearray(software.rgb)
        fill(wine, self.W, 48, 30, 52, 34, BLACK)   # 4 x 4 hole straddling the stripe's left edge
        result = compare_frames.compare(software, image(self.W, self.H, wine))
        self.assertIn((49, 31), result.wide)
        self.assertIn((50, 32), result.wide)
        self.assertFalse(result.agrees(99.5))

    def test_a_shifted_picture_fails_on_the_share(self):
        # Shifting by one pixel puts every difference on an edge, but a picture full of edges
        # then differs in too many pixels.
        rgb_sw = make_image(self.W, self.H)
        rgb_hw = make_image(self.W, self.H)
        for x in range(0, self.W, 2):
            fill(rgb_sw, self.W, x, 0, x + 1, self.H, WHITE)
            fill(rgb_hw, self.W, x + 1, 0, x + 2, self.H, WHITE)
        result = compare_frames.compare(image(self.W, self.H, rgb_sw), image(self.W, self.H, rgb_hw))
        self.assertEqual(result.off_edge, [])
        self.assertLess(result.identical_percent, 99.5)
        self.assertFalse(result.agrees(99.5))

    def test_a_shade_difference_counts_but_may_lie_inside_a_surface(self):
        software = self.scene()
        wine = bytearray(software.rgb)
        i = 3 * (50 * self.W + 70)
        wine[i + 1] = 2   # green 0 -> 2 inside the red quad: rounding of an interpolated colour
        result = compare_frames.compare(software, image(self.W, self.H, wine))
        self.assertEqual((result.differing, result.shade, result.max_delta), (1, 1, 2))
        self.assertEqual(result.off_edge, [])
        self.assertTrue(result.agrees(99.5))

    def test_three_levels_inside_a_surface_is_off_edge(self):
        software = self.scene()
        wine = bytearray(software.rgb)
        i = 3 * (50 * self.W + 70)
        wine[i + 1] = 3
        result = compare_frames.compare(software, image(self.W, self.H, wine))
        self.assertEqual((result.differing, result.shade), (1, 0))
        self.assertEqual(result.off_edge, [(70, 50)])
        self.assertFalse(result.agrees(99.5))

    def test_a_gradient_is_no_edge(self):
        # Gouraud-like: neighbours differ by one level only, so a pixel that differs much
        # from its software colour in the middle of it is off any edge.
        rgb = make_image(self.W, self.H)
        for x in range(self.W):
            fill(rgb, self.W, x, 0, x + 1, self.H, (255, x, x))
        wine = bytearray(rgb)
        fill(wine, self.W, 60, 40, 61, 41, WHITE)
        result = compare_frames.compare(image(self.W, self.H, rgb), image(self.W, self.H, wine))
        self.assertEqual(result.off_edge, [(60, 40)])

    def test_shade_differences_may_not_form_patches(self):
        software = self.scene()
        wine = bytearray(software.rgb)
        fill(wine, self.W, 65, 40, 68, 43, (254, 0, 0))
        result = compare_frames.compare(software, image(self.W, self.H, wine))
        self.assertEqual((result.shade, result.wide), (9, [(66, 41)]))
        self.assertFalse(result.agrees(99.5))

    def line_crossing(self):
        """White lines crossing, the software's last line white; Wine's last line red at the
        crossing point, the red line's other pixels two pixels away."""
        rgb = make_image(self.W, self.H)
        fill(rgb, self.W, 20, 50, 100, 51, WHITE)
        fill(rgb, self.W, 60, 10, 61, 90, WHITE)
        fill(rgb, self.W, 59, 49, 62, 52, WHITE)
        fill(rgb, self.W, 58, 48, 59, 49, RED)
        wine = bytearray(rgb)
        fill(wine, self.W, 60, 50, 61, 51, RED)
        return image(self.W, self.H, rgb), image(self.W, self.H, wine)

    def test_in_line_drawings_a_crossing_two_pixels_from_black_is_an_edge(self):
        software, wine = self.line_crossing()
        self.assertEqual(compare_frames.compare(software, wine).off_edge, [(60, 50)])
        self.assertEqual(compare_frames.compare(software, wine, lines=True).off_edge, [])

    def test_in_line_drawings_a_stray_pixel_far_from_lines_fails(self):
        software, wine = self.line_crossing()
        rgb = bytearray(wine.rgb)
        fill(rgb, self.W, 30, 20, 31, 21, WHITE)
        result = compare_frames.compare(software, image(self.W, self.H, rgb), lines=True)
        self.assertEqual(result.off_edge, [(30, 20)])

    def test_sizes_must_match(self):
        with self.assertRaises(ValueError):
            compare_frames.compare(self.scene(), image(1, 1, b"\0\0\0"))

    def test_lit_share(self):
        result = compare_frames.compare(self.scene(), self.scene())
        self.assertEqual(result.lit, 60 * 60)


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def write(self, name, rgb, width=40, height=30):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(pngimage.encode_png(image(width, height, rgb)))
        return path

    def run_main(self, argv):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            code = compare_frames.main(argv)
        return code, out.getvalue()

    def quad(self, x0):
        rgb = make_image(40, 30)
        fill(rgb, 40, x0, 5, x0 + 20, 25, RED)
        return rgb

    def test_summary_and_exit_code(self):
        a = self.write("a.png", self.quad(5))
        b = self.write("b.png", self.quad(10))
        code, out = self.run_main(["--frame", "same", a, a, "--distinct"])
        self.assertEqual(code, 0)
        self.assertIn("all 1 agree", out)
        diff_dir = os.path.join(self.dir.name, "diff")
        code, out = self.run_main(["--frame", "same", a, a, "--frame", "moved", a, b, "--diff-dir", diff_dir])
        self.assertEqual(code, 1)
        self.assertIn("1 of 2 disagree (moved)", out)
        self.assertTrue(os.path.exists(os.path.join(diff_dir, "moved-diff.png")))

    def test_line_frames_keep_their_place_and_rule(self):
        software, wine = CompareTest().line_crossing()
        sw = self.write("sw.png", software.rgb, CompareTest.W, CompareTest.H)
        hw = self.write("hw.png", wine.rgb, CompareTest.W, CompareTest.H)
        code, out = self.run_main(["--line-frame", "lines", sw, hw, "--frame", "surfaces", sw, hw])
        self.assertEqual(code, 1)
        rows = [line for line in out.splitlines() if line.startswith(("lines", "surfaces"))]
        self.assertTrue(rows[0].startswith("lines (lines)") and rows[0].endswith("ok"), rows)
        self.assertTrue(rows[1].startswith("surfaces") and "off an edge" in rows[1], rows)

    def test_equal_software_pictures_fail_with_distinct(self):
        a = self.write("a.png", self.quad(5))
        code, out = self.run_main(["--distinct", "--frame", "one", a, a, "--frame", "two", a, a])
        self.assertEqual(code, 1)
        self.assertIn("equals that of one", out)

    def test_an_empty_software_picture_fails(self):
        empty = self.write("empty.png", make_image(40, 30))
        code, out = self.run_main(["--frame", "empty", empty, empty])
        self.assertEqual(code, 1)
        self.assertIn("nearly empty", out)

    def test_a_missing_file_fails(self):
        a = self.write("a.png", self.quad(5))
        code, out = self.run_main(["--frame", "gone", a, os.path.join(self.dir.name, "none.png")])
        self.assertEqual(code, 1)
        self.assertIn("cannot compare", out)


class ViewerCheckTest(unittest.TestCase):
    W, H = 200, 150

    def solid(self):
        """A striped mast in the middle, as the viewer starts."""
        rgb = make_image(self.W, self.H)
        for x in range(80, 120):
            fill(rgb, self.W, x, 60, x + 1, 110, RED if (x // 4) % 2 else WHITE)
        return image(self.W, self.H, rgb)

    def wire(self):
        """Only the mast's outline and a few of its edges."""
        rgb = make_image(self.W, self.H)
        for x in (80, 88, 96, 104, 112, 119):
            fill(rgb, self.W, x, 60, x + 1, 110, RED if (x // 8) % 2 else WHITE)
        return image(self.W, self.H, rgb)

    def test_solid_then_wireframe_passes(self):
        figures, problems = check_viewer.check(self.solid(), self.wire())
        self.assertEqual(problems, [], figures)

    def test_an_empty_window_fails(self):
        empty = image(self.W, self.H, make_image(self.W, self.H))
        _, problems = check_viewer.check(empty, empty)
        self.assertTrue(any("no red and white mast" in p for p in problems))
        self.assertTrue(any("no edges" in p for p in problems))

    def test_f2_without_effect_fails(self):
        _, problems = check_viewer.check(self.solid(), self.solid())
        self.assertTrue(any("still filled" in p for p in problems))

    def test_something_in_a_margin_fails(self):
        rgb = bytearray(self.solid().rgb)
        fill(rgb, self.W, 195, 10, 196, 11, WHITE)
        _, problems = check_viewer.check(image(self.W, self.H, rgb), self.wire())
        self.assertEqual(problems, ["start-up: 1 pixels not black in the right margin"])


if __name__ == "__main__":
    unittest.main()
