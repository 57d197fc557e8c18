"""Variable fonts, rotation and tiling through the Python bindings. Needs Debian's fonts-inter-variable."""

import unittest

import quendal_imgtext as t
from quendal_imgtext import Font, Image

INTER = "/usr/share/fonts/truetype/inter-vf/Inter-roman.var.ttf"


class TurnedTextTests(unittest.TestCase):
    def test_variations_as_a_dict_a_string_or_an_instance(self):
        inter = Font(INTER)
        drawn = []
        for variations in ({"wght": 700}, "wght=700", "Bold", None):
            image = Image.new(120, 40, (0, 0, 0))
            image.draw_text((2, 2), "Bold", font=inter, size=24, variations=variations)
            drawn.append(image.tobytes())
        self.assertEqual(drawn[0], drawn[1])
        self.assertEqual(drawn[0], drawn[2])
        self.assertNotEqual(drawn[0], drawn[3])
        with self.assertRaises(TypeError):
            t.measure("x", inter, variations=["wght"])
        with self.assertRaises(t.ArgumentError):
            t.measure("x", inter, variations="wght=heavy")

    def test_rotate_and_tile(self):
        upright = t.measure("Turn", size=30)
        turned = t.measure("Turn", size=30, rotate=90)
        self.assertEqual((turned.width, turned.height), (upright.height, upright.width))
        image = Image.new(200, 100, (0, 0, 0))
        box = image.draw_text((100, 50), "Turn", anchor="mm", size=20, rotate=45, tile=(60, 30, 20))
        self.assertGreater(box.width, 0)
        pixels = image.tobytes()
        # Tiled all over: ink in each quarter of the picture.
        for qx, qy in ((0, 0), (100, 0), (0, 50), (100, 50)):
            self.assertTrue(any(pixels[((qy + y) * 200 + qx + x) * 4] for y in range(50) for x in range(100)))
        for bad in ((1, 30), (60,), "60,30"):
            with self.assertRaises((t.ArgumentError, TypeError, ValueError)):
                image.draw_text((0, 0), "x", tile=bad)
        with self.assertRaises(t.ArgumentError):
            image.draw_text((0, 0), "x", rotate=float("inf"))


if __name__ == "__main__":
    unittest.main()
