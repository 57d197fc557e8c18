// The engine seen as the seven calls see it, for the unit tests, the fuzz
// replays and the benchmarks: the built-in font at a pixel size with one
// glyph per byte (read as signed, so 0x80-0xFF match nothing), measuring and
// drawing bytes, and loading and saving files with their defaults. Each is a
// few lines over the library's real calls; none of it ships.
#ifndef IMGTEXT_TESTS_ENGINE_SUPPORT_H
#define IMGTEXT_TESTS_ENGINE_SUPPORT_H

#include <cstdint>

#include "font/font.h"
#include "image/image.h"
#include "image/image_io.h"
#include "image/paint.h"
#include "text/layout.h"

namespace imgtext {

// The built-in font, parsed (false if its bytes are damaged).
bool builtin_font_ready();

inline int effective_pixel_size(int size) { return size >= 1 ? size : 24; }
float font_scale(int px);
vertical_metrics font_vertical_metrics();
int glyph_for_byte(char byte);
int glyph_advance(int glyph);
int glyph_kerning(int left_glyph, int right_glyph);
glyph_box glyph_bitmap_box(int glyph, float scale);
void rasterise_glyph_window(int glyph, float scale, const glyph_window &window, unsigned char *coverage);

// The whole bitmap of a built-in glyph as stb_truetype 1.26 itself makes it
// (stbtt_MakeGlyphBitmapSubpixel of the pinned header, without the build's
// changes): the reference the library's windowed rasteriser must equal.
void reference_rasterise_glyph(int glyph, float scale, unsigned char *coverage, int width, int height);

// The built-in font at a pixel size.
text_face pixel_size_face(int px);

// Bytes in the built-in font at a pixel size (0 or less means 24). Returns
// 1, or 0 with a message (size too large, out of memory).
int measure_text_box(const char *text, int size, text_layout *layout);

// Draws as the seven calls do: clamped colour, opacity clamped to 0..1 (NaN
// draws nothing), lines from x or centred.
void render_text_lines(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y, int red, int green,
                       int blue, float opacity, bool centre);

// Loads a file as the seven calls do (fallback format PNG): 1, or 0 with a
// message and both outputs untouched.
int load_image(const char *path, rgba_image *image, int *format, const load_check *check = nullptr);

// Saves packed RGBA pixels as the seven calls do (JPEG, BMP, else PNG): 1,
// or 0 with "failed to write image to <path>" in the seven calls' text.
int save_image(const char *path, int width, int height, const unsigned char *pixels, int format);

}  // namespace imgtext

#endif
