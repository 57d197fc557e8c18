// Fonts: the built-in typeface and fonts loaded from files or memory, and
// the few queries that measuring and rendering share. Every query goes
// through stb_truetype on an immutable parsed record, so one font serves
// any number of threads at once.
#ifndef IMGTEXT_FONT_H
#define IMGTEXT_FONT_H

#include <atomic>
#include <cstddef>

#include "quendal_imgtext.h"

namespace imgtext {

using font_face = ::imgtext_font;

// The seven calls' "font is ready" flag: set by the first call that needs
// the font, cleared by imgtext_cleanup. The font itself is parsed once.
extern std::atomic<int> s_font_ready;

// The built-in font, parsed on first use (thread-safe). Null, with a message,
// only if the embedded bytes are damaged.
const font_face *builtin_font();

// builtin_font() for the seven calls: 1 and the flag set, or 0 with a message.
int ensure_font_ready();

// Parses a TrueType/OpenType font (the index-th of a collection) from a copy
// of the bytes. Returns IMGTEXT_OK or a status with a message.
imgtext_status load_font(const unsigned char *data, size_t size, int index, font_face **font);
void free_font(font_face *font);
bool is_builtin(const font_face *font);

// Scale from font units to pixels for a size that is either the pixel height
// from ascender to descender (the seven calls' size) or the em size.
float font_scale(const font_face &font, float size, bool em_size);

struct vertical_metrics {
    int ascent, descent, line_gap;  // font units; descent is negative
};
vertical_metrics font_vertical_metrics(const font_face &font);

// The glyph for a code point, 0 (the missing glyph) if the font has none.
// Negative values, which the seven calls pass for bytes 0x80-0xFF, give 0.
int glyph_for_codepoint(const font_face &font, int codepoint);

// Advance width in font units.
int glyph_advance(const font_face &font, int glyph);

// Kerning between two glyphs in font units; 0 without kern/GPOS data.
int glyph_kerning(const font_face &font, int left_glyph, int right_glyph);

struct glyph_box {
    int x0, y0, x1, y1;  // pixels relative to the pen on the baseline, y down
};
glyph_box glyph_bitmap_box(const font_face &font, int glyph, float scale);

// Rasterises 8-bit coverage into a width x height buffer with stride width,
// where width and height come from glyph_bitmap_box at the same scale: the
// whole bitmap, as stb_truetype makes it.
void rasterise_glyph(const font_face &font, int glyph, float scale, unsigned char *coverage, int width, int height);

// A part of a glyph's bitmap: columns x0..x1-1 and rows y0..y1-1, counted
// from the bitmap's top-left corner. Never empty.
struct glyph_window {
    int x0, y0, x1, y1;
};

// Rasterises only the window of the glyph's bitmap into a buffer of its size
// (stride x1 - x0). Every byte equals the one rasterise_glyph writes at the
// same place, but the cost follows the window, not the glyph: text clipped
// by a small picture costs what the picture shows.
void rasterise_glyph_window(const font_face &font, int glyph, float scale, const glyph_window &window,
                            unsigned char *coverage);

// The seven calls' view of the built-in font, used by them and their tests:
// one glyph per byte, the byte read as signed, and the size as a pixel height.
inline int effective_pixel_size(int size) { return size >= 1 ? size : 24; }
float font_scale(int px);
vertical_metrics font_vertical_metrics();
int glyph_for_byte(char byte);
int glyph_advance(int glyph);
int glyph_kerning(int left_glyph, int right_glyph);
glyph_box glyph_bitmap_box(int glyph, float scale);
void rasterise_glyph(int glyph, float scale, unsigned char *coverage, int width, int height);
void rasterise_glyph_window(int glyph, float scale, const glyph_window &window, unsigned char *coverage);

}  // namespace imgtext

#endif
