"""Tests of the Python bindings against the real library."""

import ctypes
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

    def test_every_argument_reaches_the_library_in_its_place(self):
        # Each call against the C function called directly in the header's
        # argument order, with distinct values everywhere so that a swap shows;
        # str text is UTF-8, as a C host would pass it.
        card = self.dir / "card.png"
        t.create(card, "Card", 120, 60, size=20, color=(250, 10, 20), background=(0, 30, 40))
        c, lib = bytes(card), t._lib
        calls = (
            (lambda o: t.create(o, "caf\u00e9", 90, 50, size=21, color=(1, 2, 3), background=(4, 5, 6)),
             lambda o: lib.imgtext_create(o, "caf\u00e9".encode(), 90, 50, 21, 1, 2, 3, 4, 5, 6)),
            (lambda o: t.add(card, o, "add", x=3, y=4, size=17, color=(7, 8, 9), opacity=0.5),
             lambda o: lib.imgtext_add(c, o, b"add", 3, 4, 17, 7, 8, 9, ctypes.c_float(0.5))),
            (lambda o: t.add_boxed(card, o, "box", x=5, y=6, size=15, color=(7, 8, 9), box_color=(90, 80, 70),
                                   padding=4),
             lambda o: lib.imgtext_add_boxed(c, o, b"box", 5, 6, 15, 7, 8, 9, 90, 80, 70, 4)),
            (lambda o: t.centered(card, o, "mid\nline", size=13, color=(11, 12, 13)),
             lambda o: lib.imgtext_centered(c, o, b"mid\nline", 13, 11, 12, 13)),
        )
        for binding, direct in calls:
            ours, theirs = self.dir / "ours.bmp", self.dir / "theirs.bmp"
            binding(ours)
            self.assertEqual(direct(bytes(theirs)), 1)
            self.assertEqual(ours.read_bytes(), theirs.read_bytes())

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

    def test_calls_from_several_threads_each_get_their_own_message(self):
        # The library keeps one error text for the whole process: without the
        # module's lock, another thread's call would clear or replace it
        # between a failing call and the reading of its message.
        errors = []

        def work(i):
            try:
                for _ in range(50):
                    t.create(self.dir / f"t{i}.png", "x", 16, 8)
                    with self.assertRaises(t.ImgTextError) as caught:
                        t.create(self.dir / f"bad{i}.png", "x", -1 - i, 1)
                    self.assertEqual(str(caught.exception),
                                     f"invalid dimensions: width and height must be > 0 ({-1 - i}x1)")
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
