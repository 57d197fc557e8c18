#!/usr/bin/python3
"""Pillow with raqm on the pages bench/shaping_benchmark.cpp draws: the same
2,000 words, 12 to a line, font, em size (16) and 2000 x 3000 white canvas,
timed in-process (median of 15 draws after one warm-up). Run with Debian's
Python, whose Pillow uses libraqm:  /usr/bin/python3 bench/pillow_raqm_pages.py"""
import statistics
import time

from PIL import Image, ImageDraw, ImageFont, features

NOTO = "/usr/share/fonts/truetype/noto/"
PAGES = {
    "latin_shaped": ("NotoSans-Regular.ttf", 'the quick brown fox jumps over lazy dogs while Café owners watch patiently, counting every leap To AV Wa'),
    "arabic": ("NotoSansArabic-Regular.ttf", 'هذا نص عربي قصير لاختبار سرعة تشكيل النص في الصور'),
    "devanagari": ("NotoSansDevanagari-Regular.ttf", 'यह हिंदी में एक छोटा वाक्य है जो शब्दों की गति जाँचता है'),
}


def page(sentence):
    words = sentence.split(" ")
    return "".join(words[i % len(words)] + ("\n" if i % 12 == 11 else " ") for i in range(2000))


def main():
    assert features.check("raqm"), "this Pillow has no raqm"
    canvas = Image.new("RGBA", (2000, 3000), (255, 255, 255, 255))
    draw = ImageDraw.Draw(canvas)
    for name, (font_file, sentence) in PAGES.items():
        font = ImageFont.truetype(NOTO + font_file, 16, layout_engine=ImageFont.Layout.RAQM)
        text = page(sentence)
        draw.multiline_text((50, 50), text, fill=(20, 20, 20, 255), font=font)
        times = []
        for _ in range(15):
            start = time.perf_counter()
            draw.multiline_text((50, 50), text, fill=(20, 20, 20, 255), font=font)
            times.append(time.perf_counter() - start)
        print(f"{name:20} {statistics.median(times) * 1000:8.1f} ms (Pillow {Image.__version__}, raqm)")


if __name__ == "__main__":
    main()
