// Text layout: decoding code points, cutting text into lines (at line breaks
// and, when asked, by width), measuring them, and walking the glyphs where
// they are placed, which drawing and the effects share.
#ifndef IMGTEXT_TEXT_LAYOUT_H
#define IMGTEXT_TEXT_LAYOUT_H

#include <cstddef>
#include <cstdint>

#include "font/font.h"

namespace imgtext {

// How text bytes become code points. The seven calls read one code point per
// byte, taken as a signed char (so bytes 0x80-0xFF match no glyph) and break
// lines at LF only; the drawing API reads UTF-8 and also takes CR LF as one
// line break.
enum class text_encoding { bytes, utf8 };

// The fonts and numbers one size of text is laid out with.
struct text_face {
    const font_face *font;      // never null
    const font_face *fallback;  // for code points `font` lacks; may be null
    float scale;                // font units to pixels, for `font`
    float fallback_scale;
    int line_height;  // baseline-to-baseline pitch
    int ascent;       // top of a line to its baseline
    int descent;      // baseline to the font's descender
};

// One laid-out line: a view into the caller's text (not NUL-terminated).
struct text_line {
    const char *text;
    size_t len;  // bytes, excluding the line break
    int width;   // pixels; 0 for an empty line
};

// The result of laying out text. `lines` is malloc'd and owned by the caller
// (release with free_text_layout); it points into the laid-out text.
struct text_layout {
    text_line *lines;
    size_t line_count;
    int box_width;       // widest line, at least 1
    int64_t box_height;  // line_height * line_count
    int line_height;     // baseline-to-baseline distance
    int ascent;          // top of the box to the first baseline
    int descent;
    int missing_glyphs;  // code points neither font has a glyph for
    text_face face;
    text_encoding encoding;
};

struct layout_request {
    const char *text;
    size_t size;  // bytes
    text_encoding encoding;
    text_face face;
    int max_width;  // wrap lines wider than this; 0: never
};

// Lays out the text. Returns IMGTEXT_OK, or MEMORY with "out of memory
// allocating line layout", in which case *layout is not written.
imgtext_status layout_text(const layout_request &request, text_layout *layout);
void free_text_layout(text_layout *layout);

// The fonts and metrics of text at a size: the pixel height from ascender to
// descender (the seven calls' size) or, with em_size, the em. line_spacing
// multiplies the font's line pitch (1: the font's own, as the seven calls use
// it). The caller has checked the numbers' ranges.
text_face make_text_face(const font_face &font, const font_face *fallback, float size, bool em_size,
                         float line_spacing);

enum class line_align { left, centre, right };

// A glyph of a text face: which font drew it, at which scale.
struct glyph_ref {
    const font_face *font;
    int glyph;
    float scale;
    bool missing;  // neither font has the code point
};

glyph_ref glyph_of(const text_face &face, int codepoint);

// Reads the next code point and advances p (never past end).
int next_codepoint(const char *&p, const char *end, text_encoding encoding);

// Walks a line's glyphs from pen position `pen`, calling visit(glyph, pen)
// for each, and returns the pen after the last glyph's advance. Measuring
// and drawing both run exactly this single-precision sequence (advance, then
// kerning to the next glyph of the same font) so that aligned lines fill the
// box exactly as measured.
template <typename Visit>
float walk_line(const text_face &face, text_encoding encoding, const char *p, size_t len, float pen, Visit visit) {
    const char *end = p + len;
    glyph_ref g = glyph_of(face, next_codepoint(p, end, encoding));
    for (;;) {
        visit(g, pen);
        pen = pen + static_cast<float>(glyph_advance(*g.font, g.glyph)) * g.scale;
        if (p == end) return pen;
        const glyph_ref next = glyph_of(face, next_codepoint(p, end, encoding));
        const int kerning = g.font == next.font ? glyph_kerning(*g.font, g.glyph, next.glyph) : 0;
        pen = pen + static_cast<float>(kerning) * g.scale;
        g = next;
    }
}

// Walks every glyph of the laid-out lines with (x, y) as the box's top-left
// corner, each line aligned within the box width, calling
// visit(glyph, pen, baseline). Drawing and the outline and shadow masks all
// place glyphs through this one walk.
template <typename Visit>
void for_each_placed_glyph(const text_layout &layout, int64_t x, int64_t y, line_align align, Visit visit) {
    int64_t baseline = y + layout.ascent;
    for (size_t i = 0; i < layout.line_count; ++i, baseline += layout.line_height) {
        const text_line &line = layout.lines[i];
        if (line.len == 0) continue;
        float pen = static_cast<float>(x);
        if (align != line_align::left && line.width < layout.box_width) {
            const float spare = static_cast<float>(layout.box_width - line.width);
            pen = (align == line_align::centre ? spare * 0.5f : spare) + static_cast<float>(x);
        }
        walk_line(layout.face, layout.encoding, line.text, line.len, pen,
                  [&](const glyph_ref &g, float at) { visit(g, at, baseline); });
    }
}

// ceilf then int, saturating where a float beyond int's range would
// otherwise make the conversion undefined.
int ceil_to_int(float value);

}  // namespace imgtext

#endif
