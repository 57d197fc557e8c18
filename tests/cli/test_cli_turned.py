"""The command-line tool's --rotate, --tile and --variation, against the Python bindings' own calls."""

import os
import pathlib
import subprocess
import tempfile
import unittest

try:
    import quendal_imgtext
except ImportError:  # the reference comparisons are skipped
    quendal_imgtext = None

CLI = os.environ.get("IMGTEXT_CLI", "imgtext")
INTER = "/usr/share/fonts/truetype/inter-vf/Inter-roman.var.ttf"


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, timeout=60)


class TurnedTextTests(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.dir = pathlib.Path(folder.name)

    @unittest.skipIf(quendal_imgtext is None, "needs the Python bindings")
    def test_options_reach_the_library_as_the_python_api_passes_them(self):
        from quendal_imgtext import Font, Image
        out = self.dir / "cli.png"
        done = run("create", "--text", "Draft", "--width", "160", "--height", "90", "--rotate", "30", "--tile",
                   "60,30,12", "--font", INTER, "--variation", "wght=800", "--size", "16", "-o", str(out))
        self.assertEqual(done.returncode, 0, done.stderr)
        image = Image.new(160, 90, (0, 0, 0))
        image.draw_text("Draft", gravity="center", size=16, font=Font(INTER), variations={"wght": 800}, rotate=30,
                        tile=(60, 30, 12))
        self.assertEqual(out.read_bytes(), image.encode("png"))

    def test_bad_values_are_refused_with_the_library_message(self):
        for args, message in ((["--tile", "1,40"], b"tile step"), (["--rotate", "nan"], b"--rotate"),
                              (["--tile", "40"], b"--tile"), (["--font", INTER, "--variation", "wght=x"], b"wght=x")):
            done = run("create", "--text", "x", "--width", "20", "--height", "20", *args, "-o",
                       str(self.dir / "x.png"))
            self.assertNotEqual(done.returncode, 0, args)
            self.assertIn(message, done.stderr, args)


if __name__ == "__main__":
    unittest.main()
