// Text layout: text cut into lines (at line breaks and, when asked, at the
// break opportunities Unicode gives, by width), each line's glyphs and
// width, and the one walk over the placed glyphs that drawing, measuring and
// the effects share.
//
// A line is laid out one of two ways, and both give the same stream of
// placed glyphs to everything that draws or measures:
// - simple: one glyph per code point from the first font of the chain that
//   has it, kerning pairs as stb_truetype reads them, in logical order. The
//   seven calls' layout, and the drawing API's for text its built-in font
//   covers, whose bytes it must keep.
// - shaped: bidirectional levels and visual order (UAX #9), runs by level,
//   script and font, each shaped by HarfBuzz with the font's GSUB and GPOS.
#ifndef IMGTEXT_TEXT_LAYOUT_H
#define IMGTEXT_TEXT_LAYOUT_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "font/font.h"
#include "text/utf8.h"

namespace imgtext {

// The most fonts a chain may hold: the style's font and its fallbacks.
constexpr int k_max_fonts = QUENDAL_IMGTEXT_MAX_FONTS;

struct face_font {
    const font_face *font;
    float scale;  // font units to pixels
};

// The fonts and metrics one size of text is laid out with. A character goes
// to the first font of the chain that has a glyph for it; the line metrics
// are the first font's.
struct text_face {
    face_font fonts[k_max_fonts];
    int font_count;
    int line_height;  // baseline-to-baseline pitch
    int ascent;       // top of a line to its baseline
    int descent;      // baseline to the font's descender
    // Colour glyphs off: each glyph is drawn from its outline, and a font
    // without outlines (colour glyphs alone) has no glyph for anything.
    bool outlines_only;
};

// Whether the face may draw glyphs of the font: any font, unless colour
// glyphs are off and the font has no outlines.
inline bool face_draws(const text_face &face, const font_face &font) {
    return !face.outlines_only || font_has_outlines(font);
}

// How lines are laid out (see the banner): automatically shaped unless the
// built-in font alone draws a left-to-right paragraph, or always one way.
enum class layout_mode { automatic, simple, shaped };
enum class text_direction { automatic, ltr, rtl };

// What shaping takes beyond the fonts. The strings were checked by the
// caller (shaping.h) and outlive the layout call.
struct shaping_options {
    layout_mode mode = layout_mode::automatic;
    text_direction direction = text_direction::automatic;
    const char *language = nullptr;  // a BCP 47 tag, or null: none
    const char *features = nullptr;  // "-liga,smcp,ss01=1", or null: the defaults
    bool spaced = false;             // letter spacing: optional ligatures off (see shaping.h)
};

// Where lines may be cut when they are wrapped: at Unicode's break
// opportunities (words), at any grapheme cluster, or nowhere.
enum class wrap_mode { word, character, none };

struct layout_request {
    const char *text;
    size_t size;  // bytes
    text_encoding encoding;
    text_face face;
    int max_width;  // wrap lines wider than this; 0: never
    shaping_options shaping = {};
    // Boxes (the drawing API's; the defaults lay text out as always).
    wrap_mode wrap = wrap_mode::word;  // how max_width cuts lines
    float letter_spacing = 0.0f;       // pixels between grapheme clusters (see box_layout.h)
    bool justify = false;              // lines but a paragraph's last widened to the box
    size_t max_lines = 0;              // 0: no limit; else lines past it are cut, the last ending in an ellipsis
    int ellipsis_width = 0;            // the width the ellipsis line must fit; 0: none
    bool store_all = false;            // store every line's glyphs (set by the box steps themselves)
};

// One laid-out line: a view into the caller's text (not NUL-terminated).
struct text_line {
    const char *text;
    size_t len;      // bytes, excluding the line break and the spaces a wrap ends on
    int width;       // pixels; 0 for an empty line
    uint8_t rtl;     // 1 when its paragraph runs right to left (for start and end alignment)
    uint8_t shaped;  // 1 when its glyphs are stored in the layout rather than read from the text
};

// A glyph of a stored line, in visual order: the pen draws it at its
// offset, then moves by advance and then by kerning (two steps, as the
// simple layout moves, so that its arithmetic is the same wherever it runs).
struct line_glyph {
    uint16_t font;  // index into the face's fonts
    uint16_t missing;
    uint32_t glyph;
    float advance, kerning;
    float dx, dy;  // from the pen, pixels, y down
};

// The stored glyphs of shaped lines: line i's are glyphs[first[i]] up to
// glyphs[first[i + 1]] (unstored lines have none).
struct stored_glyphs {
    std::vector<line_glyph> glyphs;
    std::vector<size_t> first;
    std::string owned_text;  // an ellipsis line's text, when there is one
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
    int missing_glyphs;  // code points no font has a glyph for
    text_face face;
    text_encoding encoding;
    stored_glyphs *stored;   // null when every line is simple
    bool truncated = false;  // max_lines cut text off
};

// Lays out the text. Returns IMGTEXT_OK, or MEMORY with "out of memory
// allocating line layout", in which case *layout is not written.
imgtext_status layout_text(const layout_request &request, text_layout *layout);
void free_text_layout(text_layout *layout);

// A layout freed when it goes out of scope.
struct owned_layout {
    text_layout layout{};
    owned_layout() = default;
    owned_layout(const owned_layout &) = delete;
    owned_layout &operator=(const owned_layout &) = delete;
    ~owned_layout() { free_text_layout(&layout); }
};

// The chain's fonts and metrics at a size: the pixel height from ascender to
// descender (the seven calls' size) or, with em_size, the em. line_spacing
// multiplies the first font's line pitch (1: the font's own, as the seven
// calls use it). The caller has checked the numbers' ranges and the count.
// line_height, when more than 0, is the pitch in pixels instead, and
// leading (pixels, negative allowed) is added to either; the pitch is never
// below 1.
text_face make_text_face(const font_face *const *fonts, int font_count, float size, bool em_size, float line_spacing,
                         float line_height = 0.0f, float leading = 0.0f);

// justify: a justified line fills the box (box_layout.h); a line left as it
// is (a paragraph's last) goes to its start.
enum class line_align { left, centre, right, start, end, justify };

// A glyph of a text face: which font drew it, at which scale.
struct glyph_ref {
    const font_face *font;
    int glyph;
    float scale;
    bool missing;  // no font of the chain has the code point
};

// The simple layout's glyph for a code point: the first font of the chain
// that has one, else the first font's missing glyph.
glyph_ref glyph_of(const text_face &face, int codepoint);

// Walks a simple line's glyphs from pen position `pen`, calling
// visit(glyph, pen) for each, and returns the pen after the last glyph's
// advance. Measuring and drawing both run exactly this single-precision
// sequence (advance, then kerning to the next glyph of the same font) so
// that aligned lines fill the box exactly as measured.
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

// The same for a stored line's glyphs: visit(glyph, pen, dy) with the pen
// where the glyph is drawn (its offset added) and dy its vertical offset.
template <typename Visit>
float walk_stored_line(const text_face &face, const line_glyph *glyphs, size_t count, float pen, Visit visit) {
    for (size_t i = 0; i < count; ++i) {
        const line_glyph &g = glyphs[i];
        const face_font &f = face.fonts[g.font];
        visit(glyph_ref{f.font, static_cast<int>(g.glyph), f.scale, g.missing != 0}, g.dx != 0.0f ? pen + g.dx : pen,
              g.dy);
        pen = pen + g.advance;
        if (g.kerning != 0.0f) pen = pen + g.kerning;
    }
    return pen;
}

// Where a line of the layout starts: at x, or aligned within the box width.
float line_start(const text_layout &layout, const text_line &line, int64_t x, line_align align);

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
        const float pen = line_start(layout, line, x, align);
        if (!line.shaped) {
            walk_line(layout.face, layout.encoding, line.text, line.len, pen,
                      [&](const glyph_ref &g, float at) { visit(g, at, baseline); });
            continue;
        }
        const size_t first = layout.stored->first[i], count = layout.stored->first[i + 1] - first;
        walk_stored_line(layout.face, layout.stored->glyphs.data() + first, count, pen,
                         [&](const glyph_ref &g, float at, float dy) {
                             visit(g, at, dy != 0.0f ? baseline + static_cast<int64_t>(std::floor(dy)) : baseline);
                         });
    }
}

// ceilf then int, saturating where a float beyond int's range would
// otherwise make the conversion undefined.
int ceil_to_int(float value);

}  // namespace imgtext

#endif
