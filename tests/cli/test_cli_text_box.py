"""The imgtext tool's text box options: each gives the picture the library
draws with the same style (the bindings give the reference)."""

import os
import subprocess
import tempfile
import unittest

try:
    import quendal_imgtext
except ImportError:  # the reference comparisons are skipped
    quendal_imgtext = None

CLI = os.environ.get("IMGTEXT_CLI", "imgtext")
TEXT = "Sphinx of black quartz, judge my vow, and wrap these words"


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, timeout=60)


class TextBoxOptions(unittest.TestCase):
    def create(self, *options):
        with tempfile.TemporaryDirectory() as folder:
            out = os.path.join(folder, "out.bmp")
            align = [] if "--align" in options else ["--align", "left"]
            done = run("create", "--text", TEXT, "--width", "320", "--height", "160", "--gravity", "top-left",
                       *align, *options, "-o", out)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(out, "rb") as f:
                return f.read()

    @unittest.skipIf(quendal_imgtext is None, "the Python bindings are not on PYTHONPATH")
    def test_options_draw_what_the_library_draws(self):
        pitch = quendal_imgtext.measure("x").line_height
        cases = [
            (["--fit", "300x140", "--min-size", "8", "--max-size", "40"],
             dict(fit=(300, 140), min_size=8, max_size=40)),
            (["--wrap", "200", "--letter-spacing", "2", "--line-height", "30"],
             dict(max_width=200, letter_spacing=2, spacing=30 - pitch)),
            (["--wrap", "200", "--wrap-mode", "character", "--max-lines", "2"],
             dict(max_width=200, wrap="character", max_lines=2)),
            (["--wrap", "250", "--align", "justify"], dict(max_width=250, align="justify")),
        ]
        for options, keywords in cases:
            image = quendal_imgtext.Image.new(320, 160, (0, 0, 0, 255))
            image.draw_text((0, 0), TEXT, **{"align": "left", **keywords})
            self.assertEqual(self.create(*options)[-320 * 160 * 4:], _bmp_rows(image), options)

    def test_bad_values_are_usage_errors(self):
        for options in (["--fit", "0x0"], ["--fit", "10"], ["--min-size", "5"], ["--letter-spacing", "nan"],
                        ["--wrap-mode", "words"], ["--max-lines", "0"], ["--line-height", "-3"],
                        ["--fit", "10x10", "--min-size", "9", "--max-size", "8"]):
            done = run("create", "--text", "x", "--width", "9", "--height", "9", *options, "-o", "/dev/null")
            self.assertEqual(done.returncode, 2, options)


def _bmp_rows(image):
    """The image's pixels as a 32-bit bottom-up BMP holds them (b, g, r, a)."""
    raw = image.tobytes()
    row = image.width * 4
    out = bytearray()
    for y in reversed(range(image.height)):
        line = raw[y * row:(y + 1) * row]
        for x in range(0, row, 4):
            out += bytes((line[x + 2], line[x + 1], line[x], line[x + 3]))
    return bytes(out)


if __name__ == "__main__":
    unittest.main()
