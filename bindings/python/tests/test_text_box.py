"""The text box keywords of measure() and Image.draw_text(): fit, spacing,
wrap, max_lines and justify, against the real library."""

import unittest

import quendal_imgtext as t
from quendal_imgtext import Image

CAPTION = ("A text box that fits chooses the largest size at which every word of its caption stays inside, "
           "wrapping at the box's width.")


class TextBoxTest(unittest.TestCase):
    def test_fit_reports_the_size_chosen(self):
        m = t.measure(CAPTION, fit=(300, 200))
        self.assertLessEqual(m.width, 300)
        self.assertLessEqual(m.height, 200)
        larger = t.measure(CAPTION, size=m.text_size + 1 / 64, max_width=300)
        self.assertTrue(larger.width > 300 or larger.height > 200)
        drawn = Image.new(320, 220).draw_text((0, 0), CAPTION, fit=(300, 200))
        self.assertEqual((drawn.text_size, drawn.size), (m.text_size, m.size))
        with self.assertRaises(t.ArgumentError):
            t.measure(CAPTION, fit=(30, 1))
        cut = t.measure(CAPTION, fit=(30, 1), min_size=12, max_lines=1)
        self.assertEqual((cut.text_size, cut.line_count, cut.truncated), (12.0, 1, True))

    def test_spacing_wrap_and_lines(self):
        self.assertEqual(t.measure("Hello", letter_spacing=3).width, t.measure("Hello").width + 12)
        self.assertEqual(t.measure("a\nb", spacing=-5).line_height, t.measure("a\nb").line_height - 5)
        self.assertEqual(t.measure(CAPTION, max_width=100, wrap="none").line_count, 1)
        self.assertGreater(t.measure("aaaa bbbb", max_width=60, wrap="character").line_widths[0],
                           t.measure("aaaa bbbb", max_width=60).line_widths[0])
        cut = t.measure(CAPTION, max_width=200, max_lines=2)
        self.assertTrue(cut.truncated)
        self.assertLessEqual(max(cut.line_widths), 200)
        justified = t.measure(CAPTION, max_width=200, align="justify")
        self.assertEqual(set(justified.line_widths[:-1]), {justified.width})
        with self.assertRaises(ValueError):
            t.measure(CAPTION, wrap="words")
        with self.assertRaises(t.ArgumentError):
            t.measure(CAPTION, letter_spacing=float("nan"))


if __name__ == "__main__":
    unittest.main()
