"""Tests of the Python bindings against the real library."""

import os
import pathlib
import struct
import tempfile
import threading
import unittest

import quendal_imgtext as t


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", head[:8]
    return struct.unpack(">II", head[16:24])


class BindingTests(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.dir = pathlib.Path(self._dir.name)

    def tearDown(self):
        self._dir.cleanup()

    def test_create_accepts_str_bytes_and_pathlike_paths(self):
        for out in (str(self.dir / "a.png"), os.fsencode(self.dir / "b.png"), self.dir / "c.png"):
            t.create(out, b"Hi", 200, 100)
            self.assertEqual(png_size(os.fsdecode(out)), (200, 100))
        self.assertEqual(t.last_error(), "")

    def test_each_drawing_function_writes_its_output(self):
        card = self.dir / "card.png"
        t.create(card, "Title", 120, 60, size=20, color=(255, 0, 0), background=(0, 0, 40))
        t.add(card, self.dir / "add.bmp", "add", x=3, y=4, opacity=0.5)
        t.add_boxed(card, self.dir / "boxed.jpg", "box", padding=4, box_color=(255, 255, 0))
        t.centered(card, self.dir / "centered.png", "mid\nline")
        self.assertEqual((self.dir / "add.bmp").read_bytes()[:2], b"BM")
        self.assertEqual((self.dir / "boxed.jpg").read_bytes()[:2], b"\xff\xd8")
        self.assertEqual(png_size(self.dir / "centered.png"), (120, 60))

    def test_str_text_is_utf8_like_a_c_host_would_pass(self):
        t.create(self.dir / "str.png", "caf\u00e9", 80, 30)
        t.create(self.dir / "bytes.png", "caf\u00e9".encode("utf-8"), 80, 30)
        self.assertEqual((self.dir / "str.png").read_bytes(), (self.dir / "bytes.png").read_bytes())

    def test_failures_raise_with_the_librarys_message(self):
        with self.assertRaises(t.ImgTextError) as caught:
            t.create(self.dir / "x.png", "x", -3, 50)
        self.assertEqual(str(caught.exception), "invalid dimensions: width and height must be > 0 (-3x50)")
        missing = self.dir / "missing.png"
        with self.assertRaises(t.ImgTextError) as caught:
            t.add(missing, self.dir / "out.png", "x")
        self.assertEqual(str(caught.exception), f"cannot read file: {missing}")

    def test_text_none_is_the_librarys_null_check(self):
        t.create(self.dir / "plain.png", None, 10, 10)
        with self.assertRaises(t.ImgTextError) as caught:
            t.centered(self.dir / "plain.png", self.dir / "o.png", None)
        self.assertEqual(str(caught.exception), "invalid argument: text is NULL")

    def test_bad_colour_is_a_type_error(self):
        with self.assertRaises(TypeError):
            t.create(self.dir / "x.png", "x", 10, 10, color="red")

    def test_calls_from_several_threads_are_serialised(self):
        errors = []

        def work(i):
            try:
                t.create(self.dir / f"t{i}.png", f"{i}", 40, 20)
                with self.assertRaises(t.ImgTextError):
                    t.create(self.dir / f"bad{i}.png", "x", 0, 0)
            except Exception as error:  # collected for the main thread
                errors.append(error)

        threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(errors, [])

    def test_init_and_cleanup(self):
        t.init()
        t.cleanup()
        t.create(self.dir / "after.png", "ok", 30, 20)


if __name__ == "__main__":
    unittest.main()
