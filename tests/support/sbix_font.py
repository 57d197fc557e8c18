#!/usr/bin/env python3
"""Writes a tiny TrueType font with an 'sbix' strike for the colour font
tests (built here at run time, never committed): 1000 units per em, ascent
800, and one glyph, for "A", advancing 1200, whose outline is the square
(100, 0) to (900, 800) and whose strike of 64 ppem holds a 64 x 64 PNG in
four quadrants: red top left, green top right, blue bottom left, yellow
bottom right. Its origin offset is (8, -16) strike pixels, so the picture
spans x 125..1125 and y -250..750 in font units.

Usage: sbix_font.py OUT.ttf
"""
import struct
import sys
import zlib

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib import newTable
from fontTools.ttLib.tables.sbixGlyph import Glyph
from fontTools.ttLib.tables.sbixStrike import Strike


def png(width, height, pixel):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def quadrant(x, y):
    return [(255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255), (255, 255, 0, 255)][(y >= 32) * 2 + (x >= 32)]


def main(out):
    order = [".notdef", "A"]
    fb = FontBuilder(1000, isTTF=True)
    fb.setupGlyphOrder(order)
    fb.setupCharacterMap({ord("A"): "A"})
    pen = TTGlyphPen(None)
    for point in ((100, 0), (100, 800), (900, 800), (900, 0)):
        (pen.lineTo if pen.points else pen.moveTo)(point)
    pen.closePath()
    fb.setupGlyf({".notdef": TTGlyphPen(None).glyph(), "A": pen.glyph()})
    fb.setupHorizontalMetrics({".notdef": (1000, 0), "A": (1200, 100)})
    fb.setupHorizontalHeader(ascent=800, descent=-200)
    fb.setupNameTable({"familyName": "SbixOne", "styleName": "Regular"})
    fb.setupOS2(sTypoAscender=800, sTypoDescender=-200, usWinAscent=800, usWinDescent=200)
    fb.setupPost()
    strike = Strike(ppem=64, resolution=72)
    strike.glyphs["A"] = Glyph(glyphName="A", graphicType="png ", originOffsetX=8, originOffsetY=-16,
                               imageData=png(64, 64, quadrant))
    sbix = newTable("sbix")
    sbix.strikes[64] = strike
    fb.font["sbix"] = sbix
    fb.save(out)


if __name__ == "__main__":
    main(sys.argv[1])
