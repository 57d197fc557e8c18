"""Tests of the imgtext command-line tool, run as a user would run it.

IMGTEXT_CLI names the program under test; the Python bindings (on
PYTHONPATH) give reference results from the library's own calls."""

import json
import os
import pathlib
import pty
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

try:
    import quendal_imgtext
except ImportError:  # the reference comparisons are skipped
    quendal_imgtext = None

CLI = os.environ.get("IMGTEXT_CLI", "imgtext")


def _may_skip(key):
    """Whether a test may skip for want of key: anywhere by default, and only for the keys
    IMGTEXT_SKIPS_ALLOWED lists where it is set (scripts/test.sh), so no skip hides in CI."""
    allowed = os.environ.get("IMGTEXT_SKIPS_ALLOWED")
    return allowed is None or key in allowed.split(",")


def run(*args, stdin=None, cwd=None):
    return subprocess.run([CLI, *args], input=stdin, capture_output=True, timeout=60, cwd=cwd)


def image_size(path):
    data = pathlib.Path(path).read_bytes()
    if data[:4] == b"\x89PNG":
        return struct.unpack(">II", data[16:24])
    if data[:2] == b"BM":
        return struct.unpack("<ii", data[18:26])
    raise AssertionError(f"{path} is neither PNG nor BMP")


def read_bmp(path):
    """The pixels of a 32-bit BMP as the library writes it: rows of (r, g, b, a), top row first."""
    data = pathlib.Path(path).read_bytes()
    (offset,), (width, height) = struct.unpack_from("<I", data, 10), struct.unpack_from("<ii", data, 18)
    rows = [data[offset + y * width * 4:offset + (y + 1) * width * 4] for y in reversed(range(height))]
    return [[(row[x + 2], row[x + 1], row[x], row[x + 3]) for x in range(0, width * 4, 4)] for row in rows]


def with_orientation(jpeg, orientation):
    """jpeg with an EXIF block giving orientation (big-endian TIFF, one entry) after its JFIF segment."""
    tiff = b"MM\0\x2a" + struct.pack(">IHHHIHHI", 8, 1, 0x0112, 3, 1, orientation, 0, 0)
    app0_end = 4 + struct.unpack(">H", jpeg[4:6])[0]
    return jpeg[:app0_end] + b"\xff\xe1" + struct.pack(">H", 8 + len(tiff)) + b"Exif\0\0" + tiff + jpeg[app0_end:]


def cmyk_jpeg(width, height):
    """A flat four-component JPEG, which stb_image decodes rather than the library's own decoder: each block
    is one 0 bit for DC 0 and one for the end of block. width and height are multiples of 8."""
    def segment(marker, body):
        return b"\xff" + bytes([marker]) + struct.pack(">H", len(body) + 2) + body
    one_code = b"\x01" + b"\0" * 16  # one code of length 1, for symbol 0
    tables = segment(0xDB, b"\0" + b"\x01" * 64) + segment(0xC4, b"\x00" + one_code + b"\x10" + one_code)
    frame = segment(0xC0, struct.pack(">BHHB", 8, height, width, 4) +
                    b"".join(bytes([c, 0x11, 0]) for c in range(1, 5)))  # each sampled 1x1, quantised by table 0
    scan = segment(0xDA, b"\x04" + b"".join(bytes([c, 0]) for c in range(1, 5)) + b"\x00\x3f\x00")
    return b"\xff\xd8" + tables + frame + scan + b"\0" * (width * height // 64) + b"\xff\xd9"


class CliTests(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.dir = pathlib.Path(folder.name)
        self.card = self.dir / "card.bmp"  # opaque black
        self.ok("create", "--text", "", "--width", "64", "--height", "48", "-o", str(self.card))

    def ok(self, *args, **kwargs):
        """Runs the tool, which must succeed."""
        done = run(*args, **kwargs)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done

    def written(self, name, *args, stdin=None):
        """The bytes the tool writes for args to name in the folder, given as -o after them."""
        self.ok(*args, "-o", str(self.dir / name), stdin=stdin)
        return (self.dir / name).read_bytes()

    def test_help_and_version(self):
        done = run("--help")
        self.assertEqual(done.returncode, 0)
        self.assertIn(b"Examples:", done.stdout)
        self.assertRegex(run("--version").stdout, rb"^imgtext \d+\.\d+\.\d+")

    def test_usage_errors_exit_2(self):
        for args in ([], ["paint"], ["add", "--text", "x"], ["add", "-o", "o.png", "in.png"],
                     ["create", "--text", "x", "-o", "o.png"], ["add", "--text", "x", "--size", "big", "-o", "o", "i"],
                     ["add", "--text", "x", "--color", "#12", "-o", "o", "i"], ["add", "--bogus", "1"],
                     ["add", "--text", "x", "--size", "0", "-o", "o.png", "i"],
                     ["add", "--text", "x", "--size", "100001", "-o", "o.png", "i"]):
            done = run(*args)
            self.assertEqual(done.returncode, 2, args)
            self.assertIn(b"imgtext:", done.stderr)

    def test_unreadable_text_file_is_a_usage_error(self):
        cases = [(str(self.dir), None, b"is a folder"), (str(self.dir / "none.txt"), None, b"No such file"),
                 ("-", str(self.dir), b"is a folder"),
                 ("-", "/dev/zero", b"more than 4194304 bytes of text")]  # endless: read until the limit only
        if os.geteuid() != 0:  # root reads anything
            locked = self.dir / "locked.txt"
            locked.write_text("x")
            locked.chmod(0)
            cases.append((str(locked), None, b"Permission denied"))
        for path, stdin_path, reason in cases:
            stdin = os.open(stdin_path or os.devnull, os.O_RDONLY)
            try:
                done = subprocess.run([CLI, "add", "--text-file", path, "-o", str(self.dir / "o.png"), str(self.card)],
                                      stdin=stdin, capture_output=True, timeout=60)
            finally:
                os.close(stdin)
            self.assertEqual(done.returncode, 2, (path, done.stderr))
            self.assertIn(b"imgtext: cannot read text file " + path.encode() + b": " + reason, done.stderr)

    @unittest.skipUnless(os.path.exists("/dev/full") or not _may_skip("dev-full"), "needs /dev/full")
    def test_own_output_that_cannot_be_written_fails(self):
        with open("/dev/full", "wb") as full:
            for args in (["--help"], ["--version"]):
                done = subprocess.run([CLI, *args], stdout=full, stderr=subprocess.PIPE, timeout=60)
                self.assertEqual(done.returncode, 1, args)
                self.assertIn(b"imgtext: cannot write standard output: No space left on device", done.stderr)
            other = self.dir / "other.png"
            other.write_bytes(self.card.read_bytes())
            (self.dir / "out").mkdir()
            summary_lost = subprocess.run([CLI, "add", "--text", "x", "-o", str(self.dir / "out"), str(self.card),
                                           str(other)], stderr=full, timeout=60)
            self.assertEqual(summary_lost.returncode, 1)

    def test_options_change_the_output_exactly_where_expected(self):
        def draw(command, *options):
            self.ok(command, "--text", "Hi", *options, "-o", str(self.dir / "out.bmp"), str(self.card))
            return read_bmp(self.dir / "out.bmp")

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
        sources = ((["--text", "A\nB"], None), (["--text", "A\\nB", "--escapes"], None),
                   (["--text-file", "-"], b"A\nB\n"))
        outputs = [self.written(f"t{i}.png", "create", *args, "--width", "40", "--height", "60", stdin=stdin)
                   for i, (args, stdin) in enumerate(sources)]
        self.assertEqual(outputs[0], outputs[1])
        self.assertEqual(outputs[0], outputs[2])

    def test_several_inputs_continue_past_a_bad_file_and_report_it(self):
        bad = self.dir / "broken.jpg"
        bad.write_bytes(b"not a picture")
        folder = self.dir / "out"
        folder.mkdir()
        missing = [str(self.dir / f"missing{i}.png") for i in range(11)]  # more than a line of names would hold
        report = self.dir / "report.jsonl"
        done = run("add", "--text", "x", "--format", "bmp", "--report", str(report), "-o", str(folder), str(self.card),
                   str(bad), *missing)
        self.assertEqual(done.returncode, 1)
        stderr = done.stderr.decode()
        failures = [(str(bad), "cannot decode image (unknown image type)")] + \
                   [(path, "cannot read file: No such file or directory") for path in missing]
        for path, reason in failures:
            self.assertIn(f"{path}: {reason}\n", stderr)
        # The summary gives every failure again, and ends with the counts.
        self.assertTrue(stderr.endswith("".join(f"imgtext: failed: {path}: {reason}\n" for path, reason in failures) +
                                        f"imgtext: 1 written, 12 failed, into {folder}\n"), stderr)
        self.assertNotIn("\r", stderr)  # no progress bar when stderr is not a terminal
        self.assertEqual(sorted(p.name for p in folder.iterdir()), ["card.bmp"])
        lines = [json.loads(line) for line in report.read_text(encoding="utf-8").splitlines()]
        self.assertEqual(lines[0], {"input": str(self.card), "output": str(folder / "card.bmp"), "status": "written"})
        self.assertEqual([(line["input"], line["status"], line["reason"]) for line in lines[1:-1]],
                         [(path, "failed", reason) for path, reason in failures])
        self.assertEqual(lines[-1], {"written": 1, "damaged": 0, "failed": 12, "not done": 0})

    def test_a_folder_gives_its_pictures_keeping_their_layout(self):
        photos = self.dir / "photos"
        for name in ("a.bmp", "sub/b.bmp", "sub/deeper/c.bmp", ".hidden.bmp", ".hid/d.bmp", "notes.txt"):
            (photos / name).parent.mkdir(parents=True, exist_ok=True)
            (photos / name).write_bytes(self.card.read_bytes())
        expected = self.written("expected.bmp", "add", "--text", "x", str(self.card))

        def results(folder):
            return sorted(str(p.relative_to(folder)) for p in folder.rglob("*") if p.is_file())
        self.ok("add", "--text", "x", "-o", str(self.dir / "flat"), str(photos))
        self.assertEqual(results(self.dir / "flat"), ["a.bmp"])
        # The output folder inside the input is not walked into, on a second run either.
        for _ in range(2):
            done = self.ok("add", "--text", "x", "--recursive", "-o", str(photos / "out"), str(photos))
            self.assertTrue(done.stderr.endswith(f"3 written, 0 failed, into {photos / 'out'}\n".encode()))
        self.assertEqual(results(photos / "out"), ["a.bmp", "sub/b.bmp", "sub/deeper/c.bmp"])
        self.assertEqual((photos / "out/sub/deeper/c.bmp").read_bytes(), expected)
        empty = self.dir / "empty"
        empty.mkdir()
        done = run("add", "--text", "x", "-o", str(self.dir / "none"), str(empty), str(self.card))
        self.assertEqual(done.returncode, 1)
        self.assertIn(f"{empty}: no pictures in this folder\n".encode(), done.stderr)
        self.assertEqual(run("add", "--text", "x", "-o", "-", str(photos)).returncode, 2)

    def test_a_size_in_percent_is_that_share_of_each_pictures_height(self):
        tall = self.written("tall.bmp", "create", "--text", "", "--width", "64", "--height", "96")
        (self.dir / "in").mkdir()
        for name, data in (("short.bmp", self.card.read_bytes()), ("tall.bmp", tall)):
            (self.dir / "in" / name).write_bytes(data)
        for flag in ("--size", "--em-size"):
            self.ok("centered", "--text", "Hg", flag, "25%", "-o", str(self.dir / flag), str(self.dir / "in"))
            for name, pixels in (("short.bmp", "12"), ("tall.bmp", "24")):
                self.assertEqual((self.dir / flag / name).read_bytes(),
                                 self.written("ref.bmp", "centered", "--text", "Hg", flag, pixels,
                                              str(self.dir / "in" / name)), (flag, name))
        self.assertEqual(self.written("c1.png", "create", "--text", "Hg", "--width", "40", "--height", "80", "--size", "10%"),
                         self.written("c2.png", "create", "--text", "Hg", "--width", "40", "--height", "80", "--size", "8"))
        for bad in ("0%", "101%", "%", "x%"):
            self.assertEqual(run("add", "--text", "x", "--size", bad, "-o", "o.png", str(self.card)).returncode, 2, bad)

    def test_inputs_sharing_an_output_name_are_refused_and_the_rest_written(self):
        inputs = [self.dir / "a" / "same.png", self.dir / "b" / "same.png", self.dir / "x.png", self.dir / "x.jpg"]
        for path in inputs:
            path.parent.mkdir(exist_ok=True)
            path.write_bytes(self.card.read_bytes())
        folder = self.dir / "out"
        folder.mkdir()
        done = run("add", "--text", "x", "--format", "png", "-o", str(folder), str(self.card), *map(str, inputs))
        self.assertEqual(done.returncode, 1)
        stderr = done.stderr.decode()
        for path, other in zip(inputs, (inputs[1], inputs[0], inputs[3], inputs[2])):
            self.assertIn(f"{path}: not written: {other} has the same output {folder / path.with_suffix('.png').name}",
                          stderr)
        self.assertIn("1 written, 4 failed", stderr)
        self.assertEqual([p.name for p in folder.iterdir()], ["card.png"])

    def test_progress_bar_on_a_terminal(self):
        folder = self.dir / "out"
        folder.mkdir()
        other = self.dir / "other.png"
        other.write_bytes(self.card.read_bytes())
        pid, fd = pty.fork()
        if pid == 0:
            os.execv(CLI, [CLI, "centered", "--text", "x", "-o", str(folder), str(self.card), str(other)])
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

    def test_output_folder_is_created_for_a_trailing_slash_or_several_inputs(self):
        for folder, inputs in (("made/", [self.card]), ("deep/er", [self.card, self.dir / "other.png"])):
            (self.dir / "other.png").write_bytes(self.card.read_bytes())
            self.ok("add", "--text", "x", "-o", f"{self.dir}/{folder}", *map(str, inputs))
            self.assertEqual(sorted(p.name for p in (self.dir / folder).iterdir()), sorted(p.name for p in inputs))

    def test_dash_is_standard_input_and_output(self):
        photo = self.dir / "photo.jpg"
        self.ok("create", "--text", "p", "--width", "90", "--height", "60", "-o", str(photo))
        done = self.ok("add", "--gravity", "bottom-right", "--margin", "16", "--text", "© 2026 Café Łódź", "-o", "-",
                       str(photo), cwd=self.dir)
        self.assertEqual(done.stdout[:2], b"\xff\xd8")  # the input's format
        self.assertFalse((self.dir / "-").exists())
        piped = self.ok("add", "--gravity", "bottom-right", "--margin", "16", "--text", "© 2026 Café Łódź",
                        "--format", "png", "-o", "-", "-", stdin=photo.read_bytes())
        self.assertEqual(piped.stdout[:4], b"\x89PNG")

    def test_output_names_formats_and_options_that_cannot_be_honoured_are_refused(self):
        card = str(self.card)
        for args in (["add", "-o", "o.webp", card], ["add", "-o", "o.gif", card],
                     ["add", "--format", "png", "-o", "o.jpg", card], ["centered", "--x", "3", "-o", "o.png", card],
                     ["add", "--padding", "2", "-o", "o.png", card], ["add", "--quality", "80", "-o", "o.png", card],
                     ["add", "--gravity", "top", "--x", "1", "-o", "o.png", card], ["create", "--width", "9",
                     "--height", "9", "--x", "1", "-o", "o.png"], ["add", "--margin", "3", "-o", "o.png", card],
                     ["add", "--font", card, "-o", "o.png", card]):
            done = run(args[0], "--text", "x", *args[1:], cwd=self.dir)
            self.assertEqual(done.returncode, 2, (args, done.stderr))
        self.assertEqual(list(self.dir.glob("o.*")), [])

    def test_opacity_is_honoured_by_boxed_and_create(self):
        for args in (["boxed", "--padding", "3", str(self.card)], ["create", "--width", "40", "--height", "20"]):
            outputs = [self.written(f"op{i}.png", args[0], "--text", "Hi", *opacity, *args[1:])
                       for i, opacity in enumerate(([], ["--opacity", "0.5"]))]
            self.assertNotEqual(outputs[0], outputs[1], args[0])

    @unittest.skipIf(quendal_imgtext is None and _may_skip("python-bindings"), "needs the Python bindings")
    def test_gravity_equals_imgtext_add_at_the_edge_it_names(self):
        t = quendal_imgtext
        photo = self.dir / "photo.png"
        t.create(photo, "background", 200, 120, size=30, background=(20, 40, 60))
        text = "Gravity\ntwo lines"
        box = t.measure(text, size=18)
        for gravity, margin, x, y in (("bottom-right", 16, 200 - 16 - box.width, 120 - 16 - box.height),
                                      ("top", 10, (200 - box.width) // 2, 10), ("left", 5, 5, (120 - box.height) // 2)):
            out, reference = self.dir / f"{gravity}.png", self.dir / f"{gravity}-ref.png"
            self.ok("add", "--gravity", gravity, "--margin", str(margin), "--size", "18", "--text", text, "-o",
                    str(out), str(photo))
            t.add(photo, reference, text, x=x, y=y, size=18)
            self.assertEqual(out.read_bytes(), reference.read_bytes(), gravity)

    @unittest.skipIf(quendal_imgtext is None and _may_skip("python-bindings"), "needs the Python bindings")
    def test_style_options_reach_the_library_as_the_python_api_passes_them(self):
        from quendal_imgtext import Image
        text = "wrapped words, right aligned"
        self.ok("add", "--text", text, "--wrap", "70", "--align", "right", "--em-size", "15", "--color", "255,0,0,128",
                "--opacity", "0.5", "--anchor", "bottom", "--x", "32", "--y", "30", "--quality", "70", "-o",
                str(self.dir / "cli.jpg"), str(self.card))
        image = Image.open(self.card)
        image.draw_text((32, 30), text, max_width=70, align="right", font_size=15, fill="#ff000080", opacity=0.5,
                        anchor="bottom")
        self.assertEqual((self.dir / "cli.jpg").read_bytes(), image.encode("jpeg", quality=70))

    @unittest.skipIf(quendal_imgtext is None and _may_skip("python-bindings"), "needs the Python bindings")
    def test_create_and_centered_equal_the_seven_calls(self):
        t = quendal_imgtext
        run("create", "--text", "A\nBB", "--width", "70", "--height", "40", "--size", "15", "--color", "#102030",
            "--background", "#fed", "-o", str(self.dir / "cli.png"))
        t.create(self.dir / "ref.png", "A\nBB", 70, 40, size=15, color="#102030", background="#fed")
        run("centered", "--text", "A\nBB", "-o", str(self.dir / "cli.bmp"), str(self.card))
        t.centered(self.card, self.dir / "ref.bmp", "A\nBB")
        for name in ("cli.png", "cli.bmp"):
            self.assertEqual((self.dir / name).read_bytes(), (self.dir / name.replace("cli", "ref")).read_bytes())

    @unittest.skipIf(quendal_imgtext is None and _may_skip("python-bindings"), "needs the Python bindings")
    def test_outline_shadow_and_rounded_box_reach_the_library_as_the_python_api_passes_them(self):
        from quendal_imgtext import Image
        out = self.dir / "effects.png"
        self.ok("boxed", "--text", "Fx", "--size", "20", "--gravity", "center", "--padding", "6", "--box-color",
                "#ff000080", "--box-radius", "7", "--stroke-width", "1.5", "--stroke-color", "#10203080", "--shadow",
                "3,-2,1.5", "--shadow-color", "#00ff00c0", "-o", str(out), str(self.card))
        image = Image.open(self.card)
        image.draw_text("Fx", size=20, gravity="center", margin=6, padding=6, box="#ff000080", box_radius=7,
                        stroke_width=1.5, stroke_fill="#10203080", shadow=(3, -2, 1.5), shadow_fill="#00ff00c0")
        self.assertEqual(out.read_bytes(), image.encode("png"))

    def test_exif_orientation_is_applied_unless_turned_off_and_exif_kept_only_when_asked(self):
        photo = self.dir / "phone.jpg"
        run("create", "--text", "p", "--width", "64", "--height", "32", "-o", str(photo))
        photo.write_bytes(with_orientation(photo.read_bytes(), 6))  # shown turned a quarter
        for args, size in (([], (32, 64)), (["--no-auto-orient"], (64, 32))):
            self.ok("add", "--text", "x", *args, "-o", str(self.dir / "o.bmp"), str(photo))
            self.assertEqual(image_size(self.dir / "o.bmp"), size)
        for args, kept in (([], False), (["--keep-exif"], True)):
            self.ok("add", "--text", "x", *args, "-o", str(self.dir / "o.jpg"), str(photo))
            self.assertEqual(b"Exif\0\0" in (self.dir / "o.jpg").read_bytes(), kept)

    def test_effect_and_photo_flags_out_of_range_or_on_the_wrong_command_exit_2(self):
        for args, message in ((["create", "--no-auto-orient"], "--no-auto-orient does not apply to create"),
                              (["add", "--box-radius", "3"], "--box-radius does not apply to add"),
                              (["boxed", "--box-radius", "-1"], "--box-radius: '-1'"),
                              (["add", "--stroke-width", "257"], "--stroke-width: '257'"),
                              (["add", "--shadow", "1,2,300"], "--shadow: '1,2,300'"),
                              (["add", "--shadow-color", "#000"], "--shadow-color needs --shadow"),
                              (["add", "--keep-exif"], "--keep-exif is for JPEG output"),
                              (["add", "--max-input-bytes", "0"], "--max-input-bytes: '0'"),
                              (["create", "--allow-damaged"], "--allow-damaged does not apply to create")):
            done = run(*args, "--text", "x", "-o", "o.png", str(self.card), cwd=self.dir)
            self.assertEqual(done.returncode, 2, args)
            self.assertIn(message, done.stderr.decode(), args)

    def test_anchor_places_that_point_of_the_box(self):
        placements = (["--gravity", "bottom-right"], ["--anchor", "bottom-right", "--x", "64", "--y", "48"])
        outputs = [self.written(f"anchor{i}.png", "boxed", "--text", "Hi", "--padding", "3", *placement, str(self.card))
                   for i, placement in enumerate(placements)]
        self.assertEqual(outputs[0], outputs[1])

    def test_characters_the_font_lacks_are_named(self):
        done = self.ok("create", "--text", "Caf\u00e9 \u2603\u2603 \U0001F600", "--width", "90", "--height", "30", "-o",
                       str(self.dir / "w.png"))
        self.assertIn("imgtext: warning: the font has no glyph for \u2603 (U+2603), \U0001F600 (U+1F600)\n",
                      done.stderr.decode())

    def test_a_font_chain_draws_each_script_in_the_font_that_has_it(self):
        noto = "/usr/share/fonts/truetype/noto/"  # fonts-noto-core, installed by the set-up
        cjk = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"
        text = ["--text", "Hi \u0645\u0631\u062d\u0628\u0627 \u4f60", "--width", "200", "--height", "40"]
        alone = self.ok("create", *text, "--font", noto + "NotoSans-Regular.ttf", "-o", str(self.dir / "a.png"))
        self.assertIn("warning: the font has no glyph for \u0627 (U+0627), ", alone.stderr.decode())
        self.assertIn(", \u4f60 (U+4F60)\n", alone.stderr.decode())
        chain = self.ok("create", *text, "--font", noto + "NotoSans-Regular.ttf", "--fallback-font",
                        noto + "NotoSansArabic-Regular.ttf", "--fallback-font", cjk, "--font-index", "2",
                        "-o", str(self.dir / "b.png"))
        self.assertNotIn("warning", chain.stderr.decode())
        # Right-to-left paragraphs start at the right: a short line under a long one shows it.
        hebrew = ["create", "--text", "\u05e9\u05dc\u05d5\u05dd\n\u05e9", "--width", "120", "--height", "60",
                  "--font", noto + "NotoSansHebrew-Regular.ttf"]
        right = self.written("right.png", *hebrew, "--align", "right")
        self.assertTrue(self.written("start.png", *hebrew, "--align", "start") == right)
        self.assertFalse(self.written("ltr.png", *hebrew, "--align", "start", "--direction", "ltr") == right)
        for args, message in ((["--features", "bogus!"], "malformed OpenType feature 'bogus!'"),
                              (["--font-index", "1"], "invalid value for --font-index"),
                              (["--fallback-font", cjk, "--font", cjk], "invalid value for --font"),
                              (["--direction", "up"], "invalid value for --direction")):
            done = run("create", "--text", "x", "--width", "9", "--height", "9", *args, "-o", str(self.dir / "x.png"))
            self.assertEqual(done.returncode, 2, args)
            self.assertIn(message, done.stderr.decode(), args)

    def test_workers_write_what_one_writes_and_report_in_input_order(self):
        inputs = []
        for i in range(6):
            path = self.dir / f"in{i}.png"
            run("create", "--text", f"n{i}", "--width", "120", "--height", str(40 + i), "-o", str(path))
            inputs.append(str(path))
        inputs.insert(3, str(self.dir / "missing.png"))
        results = []
        for jobs in ("1", "4"):
            folder = self.dir / f"j{jobs}"
            done = run("centered", "--text", "same", "-j", jobs, "-v", "-o", f"{folder}/", *inputs)
            self.assertEqual(done.returncode, 1)
            results.append(([p.read_bytes() for p in sorted(folder.iterdir())], done.stderr.replace(b"j4", b"j1")))
        self.assertEqual(len(results[0][0]), 6)
        self.assertEqual(results[0], results[1])
        quiet = run("centered", "--text", "q", "-q", "-o", str(self.dir / "q"), *inputs)
        self.assertEqual(quiet.stderr.decode(), f"{inputs[3]}: cannot read file: No such file or directory\n")

    def test_a_lone_jpeg_decoded_on_spare_processors_gives_the_same_result(self):
        photo = self.dir / "photo.jpg"  # large enough for the decoder's two-thread path to matter
        self.ok("create", "--text", "grain", "--size", "300", "--width", "2000", "--height", "1200", "-o", str(photo))
        results = [self.dir / "default.bmp", self.dir / "j1.bmp"]
        self.ok("add", "--text", "x", "-o", str(results[0]), str(photo))
        self.ok("add", "--text", "x", "-j", "1", "-o", str(results[1]), str(photo))
        self.assertEqual(results[0].read_bytes(), results[1].read_bytes())

    def test_input_beyond_the_byte_limit_is_refused_alike_from_a_file_or_standard_input(self):
        size = self.card.stat().st_size
        for limit, refused in ((size, False), (size - 1, True)):
            for source, stdin in ((str(self.card), None), ("-", self.card.read_bytes())):
                done = run("add", "--text", "x", "--max-input-bytes", str(limit), "-o", str(self.dir / "o.bmp"),
                           source, stdin=stdin)
                self.assertEqual(done.returncode, 1 if refused else 0, (limit, source, done.stderr))
                name = "standard input" if source == "-" else source
                if refused:
                    self.assertIn(f"{name}: input too large: more than {limit} bytes\n", done.stderr.decode())
        with open("/dev/zero", "rb") as endless:  # read to the limit and no further, or this never ends
            done = subprocess.run([CLI, "add", "--text", "x", "--max-input-bytes", "100000", "-o",
                                   str(self.dir / "z.png"), "-"], stdin=endless, capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, b"standard input: input too large: more than 100000 bytes\n")

    def test_damaged_pictures_fail_unless_allowed_and_are_named(self):
        cut = [self.dir / "cut.bmp", self.dir / "cut.jpg"]
        cut[0].write_bytes(self.card.read_bytes()[:3000])
        cut[1].write_bytes(cmyk_jpeg(64, 48)[:-30])
        inputs = [str(self.card), *map(str, cut)]
        done = run("add", "--text", "x", "-o", str(self.dir / "refused"), *inputs)
        self.assertEqual(done.returncode, 1)
        for path in cut:
            self.assertIn(f"{path}: cannot decode image (truncated: the data ends before the picture does)\n",
                          done.stderr.decode())
        self.assertIn(f"imgtext: failed: {cut[1]}: cannot decode image (truncated: the data ends before the picture "
                      f"does)\nimgtext: 1 written, 2 failed, into {self.dir / 'refused'}\n", done.stderr.decode())
        allowed = self.ok("add", "--text", "x", "--allow-damaged", "-o", str(self.dir / "allowed"), *inputs)
        for path in cut:
            self.assertIn(f"{path}: warning: damaged: the data ends before the picture does", allowed.stderr.decode())
        self.assertIn("3 written (2 damaged), 0 failed", allowed.stderr.decode())

    def test_a_baseline_jpeg_cut_in_half_is_refused(self):
        photo = self.dir / "photo.jpg"
        self.ok("create", "--text", "photo", "--width", "200", "--height", "120", "-o", str(photo))
        photo.write_bytes(photo.read_bytes()[:photo.stat().st_size // 2])
        self.assertEqual(run("add", "--text", "x", "-o", str(self.dir / "o.jpg"), str(photo)).returncode, 1)

    def test_an_input_whose_result_cannot_be_honoured_fails_alone(self):
        odd = [self.dir / name for name in ("shot.HEIC", "notes.txt", "anim.gif")]
        for path in odd:
            path.write_bytes(self.card.read_bytes())
        folder = self.dir / "out"
        done = run("add", "--text", "x", "-o", str(folder), str(self.card), *map(str, odd))
        self.assertEqual(done.returncode, 1)
        for path in odd:
            self.assertIn(f"{path}: cannot write {folder / path.name}: the name must end in .png, .jpg, .jpeg or .bmp",
                          done.stderr.decode())
        self.assertIn("1 written, 3 failed", done.stderr.decode())
        self.assertEqual([p.name for p in folder.iterdir()], ["card.bmp"])
        # JPEG options with results that keep their inputs' formats: a PNG has no EXIF to keep, but no quality.
        photo, flat = self.dir / "photo.jpg", self.dir / "flat.png"
        self.ok("create", "--text", "p", "--width", "32", "--height", "32", "-o", str(flat))
        photo.write_bytes(with_orientation(self.written("photo.jpg", "create", "--text", "p", "--width", "32",
                                                        "--height", "32"), 1))
        self.ok("add", "--text", "x", "--keep-exif", "-o", str(self.dir / "kept"), str(photo), str(flat))
        self.assertIn(b"Exif\0\0", (self.dir / "kept" / "photo.jpg").read_bytes())
        quality = run("add", "--text", "x", "--quality", "80", "-o", str(self.dir / "q"), str(photo), str(flat))
        self.assertEqual(quality.returncode, 1)
        self.assertIn(f"{flat}: --quality is for JPEG, and this result is PNG\n", quality.stderr.decode())
        self.assertEqual(sorted(p.name for p in (self.dir / "q").iterdir()), ["photo.jpg"])

    def test_a_result_that_would_replace_an_input_is_refused_unless_overwrite(self):
        photos = self.dir / "photos"
        photos.mkdir()
        inputs = [photos / "a.bmp", photos / "b.bmp"]
        for path in inputs:
            path.write_bytes(self.card.read_bytes())
        link = self.dir / "link.bmp"
        link.symlink_to(inputs[0])
        for output, args in ((f"{self.dir}/./photos/a.bmp", ["-o", f"{self.dir}/./photos/", *map(str, inputs)]),
                             (str(link), ["-o", str(link), str(inputs[0])])):
            done = run("add", "--text", "x", *args)
            self.assertEqual(done.returncode, 1, args)
            self.assertIn(f"{inputs[0]}: not written: {output} would replace this input (--overwrite allows it)\n",
                          done.stderr.decode())
            self.assertEqual({p.read_bytes() for p in inputs}, {self.card.read_bytes()})
        self.ok("add", "--text", "x", "--overwrite", "-o", str(photos), *map(str, inputs))
        self.assertNotIn(self.card.read_bytes(), {p.read_bytes() for p in inputs})

    def test_a_result_that_cannot_be_written_says_why(self):
        missing = self.dir / "none" / "o.png"
        blocked = f"{self.card}/sub/"  # a file where a folder must be made
        for output, message in ((missing, f"{self.card}: failed to write image to {missing}: no such folder\n"),
                                (blocked, f"imgtext: cannot create folder {blocked}: Not a directory\n")):
            done = run("add", "--text", "x", "-o", str(output), str(self.card))
            self.assertEqual((done.returncode, done.stderr.decode()), (1, message))
        if os.path.exists("/dev/full"):
            with open("/dev/full", "wb") as full:
                done = subprocess.run([CLI, "add", "--text", "x", "-o", "-", str(self.card)], stdout=full,
                                      stderr=subprocess.PIPE, timeout=60)
            self.assertIn(f"{self.card}: cannot write standard output: No space left on device\n", done.stderr.decode())

    @unittest.skipUnless(sys.platform.startswith("linux") or not _may_skip("linux"), "signals as Linux delivers them")
    def test_a_signal_stops_a_batch_between_files_leaving_whole_results_only(self):
        photo = self.dir / "photo.jpg"
        self.ok("create", "--text", "photo", "--size", "200", "--width", "1200", "--height", "900", "-o", str(photo))
        reference = self.written("reference.jpg", "add", "--text", "x", str(photo))
        inputs = [self.dir / f"p{i:02}.jpg" for i in range(60)]
        for path in inputs:
            path.write_bytes(photo.read_bytes())
        for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            folder = self.dir / f"out{status}"
            folder.mkdir()
            # A SIGINT ignored on entry (under a shell without job control) stays ignored, so the test resets it.
            process = subprocess.Popen([CLI, "add", "--text", "x", "-j", "8", "-o", str(folder), *map(str, inputs)],
                                       stderr=subprocess.PIPE,
                                       preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
            deadline = time.monotonic() + 60
            while not any(not p.name.startswith(".") for p in folder.iterdir()) and time.monotonic() < deadline:
                time.sleep(0.005)
            process.send_signal(sig)
            _, stderr = process.communicate(timeout=60)
            self.assertEqual(process.returncode, status, stderr)
            results = list(folder.iterdir())
            self.assertEqual([p.name for p in results if p.name.startswith(".")], [])  # no temporary left
            self.assertTrue(all(p.read_bytes() == reference for p in results), [p.name for p in results])
            self.assertIn(f"stopped by {sig.name}: {len(results)} written, 0 failed, {60 - len(results)} not done",
                          stderr.decode())
            self.assertLess(len(results), 60)


if __name__ == "__main__":
    unittest.main()
