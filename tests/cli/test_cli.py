"""Tests of the imgtext command-line tool, run as a user would run it.

IMGTEXT_CLI names the program under test."""

import os
import pathlib
import pty
import struct
import subprocess
import tempfile
import unittest

CLI = os.environ.get("IMGTEXT_CLI", "imgtext")


def run(*args, stdin=None):
    return subprocess.run([CLI, *args], input=stdin, capture_output=True, timeout=60)


def read_bmp(path):
    """The pixels of a 32-bit BMP as the library writes it: rows of (r, g, b, a), top row first."""
    data = pathlib.Path(path).read_bytes()
    (offset,), (width, height) = struct.unpack_from("<I", data, 10), struct.unpack_from("<ii", data, 18)
    rows = [data[offset + y * width * 4:offset + (y + 1) * width * 4] for y in reversed(range(height))]
    return [[(row[x + 2], row[x + 1], row[x], row[x + 3]) for x in range(0, width * 4, 4)] for row in rows]


class CliTests(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.dir = pathlib.Path(self._dir.name)
        self.card = self.dir / "card.bmp"  # opaque black
        done = run("create", "--text", "", "--width", "64", "--height", "48", "-o", str(self.card))
        self.assertEqual(done.returncode, 0, done.stderr)

    def tearDown(self):
        self._dir.cleanup()

    def test_help_and_version(self):
        done = run("--help")
        self.assertEqual(done.returncode, 0)
        self.assertIn(b"Examples:", done.stdout)
        self.assertRegex(run("--version").stdout, rb"^imgtext \d+\.\d+\.\d+")

    def test_usage_errors_exit_2(self):
        for args in ([], ["paint"], ["add", "--text", "x"], ["add", "-o", "o.png", "in.png"],
                     ["create", "--text", "x", "-o", "o.png"], ["add", "--text", "x", "--size", "big", "-o", "o", "i"],
                     ["add", "--text", "x", "--color", "#12", "-o", "o", "i"], ["add", "--bogus", "1"]):
            done = run(*args)
            self.assertEqual(done.returncode, 2, args)
            self.assertIn(b"imgtext:", done.stderr)

    def test_options_change_the_output_exactly_where_expected(self):
        def draw(command, *options):
            out = self.dir / "out.bmp"
            done = run(command, "--text", "Hi", *options, "-o", str(out), str(self.card))
            self.assertEqual(done.returncode, 0, done.stderr)
            return read_bmp(out)

        black = read_bmp(self.card)
        at_2, at_5 = draw("add", "--x", "2", "--y", "3"), draw("add", "--x", "5", "--y", "3")
        self.assertNotEqual(at_2, black)
        self.assertEqual([row[3:] for row in at_5], [row[:-3] for row in at_2])  # three columns to the right
        self.assertEqual(draw("add", "--opacity", "0"), black)
        self.assertEqual(max(p for row in draw("add", "--opacity", "0.5") for p in row), (128, 128, 128, 255))
        # "Hi" is 20 x 24 at 24 px: with padding 4 the box covers x 2..29, y 3..34.
        box = (160, 30, 30, 255)
        boxed = draw("boxed", "--x", "2", "--y", "3", "--box-color", "#a01e1e", "--padding", "4")
        self.assertEqual([boxed[3][2], boxed[34][29]], [box, box])
        self.assertEqual([boxed[2][2], boxed[3][1], boxed[35][29], boxed[34][30]], [black[0][0]] * 4)
        self.assertEqual(max(p for row in draw("centered", "--color", "10,20,30") for p in row), (10, 20, 30, 255))

    def test_text_sources_agree(self):
        outputs = []
        for i, (args, stdin) in enumerate(((["--text", "A\nB"], None), (["--text", "A\\nB", "--escapes"], None),
                                           (["--text-file", "-"], b"A\nB\n"))):
            out = self.dir / f"t{i}.png"
            done = run("create", *args, "--width", "40", "--height", "60", "-o", str(out), stdin=stdin)
            self.assertEqual(done.returncode, 0, done.stderr)
            outputs.append(out.read_bytes())
        self.assertEqual(outputs[0], outputs[1])
        self.assertEqual(outputs[0], outputs[2])

    def test_several_inputs_continue_past_a_bad_file_and_report_it(self):
        bad = self.dir / "broken.jpg"
        bad.write_bytes(b"not a picture")
        folder = self.dir / "out"
        folder.mkdir()
        done = run("add", "--text", "x", "--format", "bmp", "-o", str(folder), str(self.card), str(bad),
                   str(self.card.with_name("missing.png")))
        self.assertEqual(done.returncode, 1)
        stderr = done.stderr.decode()
        self.assertIn(f"{bad}: cannot decode image {bad} (unknown image type)", stderr)
        self.assertIn("cannot read file:", stderr)
        self.assertIn("1 written, 2 failed", stderr)
        self.assertNotIn("\r", stderr)  # no progress bar when stderr is not a terminal
        self.assertEqual(sorted(p.name for p in folder.iterdir()), ["card.bmp"])

    def test_progress_bar_on_a_terminal(self):
        folder = self.dir / "out"
        folder.mkdir()
        pid, fd = pty.fork()
        if pid == 0:
            os.execv(CLI, [CLI, "centered", "--text", "x", "-o", str(folder), str(self.card), str(self.card)])
        output = b""
        while True:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
        _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0)
        self.assertIn(b"[###", output)
        self.assertIn(b"2 written, 0 failed", output)


if __name__ == "__main__":
    unittest.main()
