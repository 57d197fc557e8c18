// The built-in typeface: lazy parsing and the few queries that measuring and
// rendering share. Every query goes through stb_truetype on the one parsed
// font record; nothing is cached, so a query costs the same every time.
#ifndef IMGTEXT_FONT_H
#define IMGTEXT_FONT_H

namespace imgtext {

// 1 once the font record has been parsed from the embedded bytes.
extern int s_font_ready;

// Parses the embedded font. Returns 1, or 0 after setting a message.
// Callers test s_font_ready first and call this only when it is 0.
int ensure_font_ready();

// The size argument as a pixel height: values below 1 mean 24.
inline int effective_pixel_size(int size) { return size >= 1 ? size : 24; }

// px / (ascender - descender), in single precision.
float font_scale(int px);

struct vertical_metrics {
    int ascent, descent, line_gap;  // font units; descent is negative
};
vertical_metrics font_vertical_metrics();

// The glyph for one text byte. The byte is read as signed, so 0x80-0xFF (and
// every code the font lacks) give glyph 0, which has no outline.
int glyph_for_byte(char byte);

// Advance width in font units.
int glyph_advance(int glyph);

// Kerning between two glyphs in font units; 0 without kern/GPOS data.
int glyph_kerning(int left_glyph, int right_glyph);

struct glyph_box {
    int x0, y0, x1, y1;  // pixels relative to the pen on the baseline, y down
};
glyph_box glyph_bitmap_box(int glyph, float scale);

// Rasterises 8-bit coverage into a width x height buffer with stride width,
// where width and height come from glyph_bitmap_box at the same scale: the
// whole bitmap, as stb_truetype makes it.
void rasterise_glyph(int glyph, float scale, unsigned char *coverage, int width, int height);

// A part of a glyph's bitmap: columns x0..x1-1 and rows y0..y1-1, counted
// from the bitmap's top-left corner. Never empty.
struct glyph_window {
    int x0, y0, x1, y1;
};

// Rasterises only the window of the glyph's bitmap into a buffer of its size
// (stride x1 - x0). Every byte equals the one rasterise_glyph writes at the
// same place, but the cost follows the window, not the glyph: text clipped
// by a small picture costs what the picture shows.
void rasterise_glyph_window(int glyph, float scale, const glyph_window &window, unsigned char *coverage);

}  // namespace imgtext

#endif
