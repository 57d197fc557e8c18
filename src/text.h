// Text: cutting text into lines, measuring them, and drawing them.
#ifndef IMGTEXT_TEXT_H
#define IMGTEXT_TEXT_H

#include <cstddef>
#include <cstdint>

#include "font.h"
#include "image.h"

namespace imgtext {

// One laid-out line: a view into the caller's text (not NUL-terminated).
struct text_line {
    const char *text;
    size_t len;  // bytes, excluding the newline
    int width;   // pixels; 0 for an empty line
};

// The result of measure_text_box. `lines` is malloc'd and owned by the caller
// (release with free_text_layout); it points into the measured text.
struct text_layout {
    text_line *lines;
    size_t line_count;   // 1 + number of newline bytes
    int box_width;       // widest line, at least 1
    int64_t box_height;  // line_height * line_count
    int line_height;     // baseline-to-baseline distance
    int ascent;          // top of the box to the first baseline
};

// Splits text at 0x0A bytes and measures every line at the given size.
// Returns 1, or 0 with a message (font unusable, out of memory), in which
// case *layout is not written.
int measure_text_box(const char *text, int size, text_layout *layout);

void free_text_layout(text_layout *layout);

// Draws the measured lines with (x, y) as the box's top-left corner, either
// each from x or each centred within the box width. Clips to the image.
void render_text_lines(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y, int size,
                       int red, int green, int blue, float opacity, bool centre);

// Pen arithmetic shared by measuring and drawing. Both run exactly this
// single-precision sequence (advance, then kerning to the next byte) so that a
// centred line's glyphs fill the box exactly as measured.
inline float pen_after_advance(float pen, int glyph, float scale) {
    return pen + static_cast<float>(glyph_advance(glyph)) * scale;
}
inline float pen_after_kerning(float pen, int left_glyph, int right_glyph, float scale) {
    return pen + static_cast<float>(glyph_kerning(left_glyph, right_glyph)) * scale;
}

}  // namespace imgtext

#endif
