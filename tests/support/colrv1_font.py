#!/usr/bin/env python3
"""Writes a tiny COLRv1 font for the colour font tests (built here at run
time, never committed): 1000 units per em, the box glyph a square from
(100, 0) to (900, 800), and one paint graph per character:

  A  the box in palette 0 (red)
  B  the box in a linear gradient, red at x = 100 to blue at x = 900
  C  the box in the text colour with a hole: a small square moved by a
     transform and cut out of it by a group composited DEST_OUT
  D  the box in a radial gradient, red at (500, 400) to blue 300 out
  E  the box in a sweep gradient about (500, 400), red at 0 degrees to
     blue at 180, padded beyond
  F  red inside 8 clips to the box, one inside the other
  G  red inside 40 such clips, deeper than the library draws

Usage: colrv1_font.py OUT.ttf
"""
import sys

from fontTools.colorLib.builder import buildCOLR, buildCPAL
from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen


def square(x0, y0, x1, y1):
    pen = TTGlyphPen(None)
    pen.moveTo((x0, y0))
    pen.lineTo((x0, y1))
    pen.lineTo((x1, y1))
    pen.lineTo((x1, y0))
    pen.closePath()
    return pen.glyph()


def stops(first, last):
    return {"Extend": "pad", "ColorStop": [{"StopOffset": 0.0, "PaletteIndex": first, "Alpha": 1.0},
                                           {"StopOffset": 1.0, "PaletteIndex": last, "Alpha": 1.0}]}


def on_box(paint):
    return {"Format": 10, "Glyph": "box", "Paint": paint}  # PaintGlyph


def main(out):
    order = [".notdef", "box", "small", "A", "B", "C", "D", "E", "F", "G"]
    fb = FontBuilder(1000, isTTF=True)
    fb.setupGlyphOrder(order)
    fb.setupCharacterMap({ord(c): c for c in "ABCDEFG"})
    empty = TTGlyphPen(None).glyph()
    glyphs = {name: empty for name in order}
    glyphs["box"] = square(100, 0, 900, 800)
    glyphs["small"] = square(0, 0, 200, 200)
    for c in "ABCDEFG":
        glyphs[c] = square(100, 0, 900, 800)
    fb.setupGlyf(glyphs)
    # Left side bearings are the glyphs' xMin, as HarfBuzz's extents read them.
    fb.setupHorizontalMetrics({name: (1000, 0 if name in (".notdef", "small") else 100) for name in order})
    fb.setupHorizontalHeader(ascent=800, descent=-200)
    fb.setupNameTable({"familyName": "ColrOne", "styleName": "Regular"})
    fb.setupOS2(sTypoAscender=800, sTypoDescender=-200, usWinAscent=800, usWinDescent=200)
    fb.setupPost()
    red, blue, green = (1.0, 0.0, 0.0, 1.0), (0.0, 0.0, 1.0, 1.0), (0.0, 1.0, 0.0, 1.0)
    fb.font["CPAL"] = buildCPAL([[red, blue, green]])
    hole = {"Format": 14, "dx": 400, "dy": 300,  # PaintTranslate
            "Paint": {"Format": 10, "Glyph": "small", "Paint": {"Format": 2, "PaletteIndex": 2, "Alpha": 1.0}}}
    graphs = {
        "A": on_box({"Format": 2, "PaletteIndex": 0, "Alpha": 1.0}),
        "B": on_box({"Format": 4, "ColorLine": stops(0, 1), "x0": 100, "y0": 0, "x1": 900, "y1": 0,
                     "x2": 100, "y2": 800}),
        "C": {"Format": 32, "CompositeMode": "dest_out", "SourcePaint": hole,  # PaintComposite
              "BackdropPaint": on_box({"Format": 2, "PaletteIndex": 0xFFFF, "Alpha": 1.0})},
        "D": on_box({"Format": 6, "ColorLine": stops(0, 1), "x0": 500, "y0": 400, "r0": 0,
                     "x1": 500, "y1": 400, "r1": 300}),
        "E": on_box({"Format": 8, "ColorLine": stops(0, 1), "centerX": 500, "centerY": 400,
                     "startAngle": 0, "endAngle": 180}),
    }
    for name, depth in (("F", 8), ("G", 40)):
        paint = {"Format": 2, "PaletteIndex": 0, "Alpha": 1.0}
        for _ in range(depth):
            paint = on_box(paint)
        graphs[name] = paint
    fb.font["COLR"] = buildCOLR(graphs, version=1, glyphMap=fb.font.getReverseGlyphMap())
    fb.save(out)


if __name__ == "__main__":
    main(sys.argv[1])
