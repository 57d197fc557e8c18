// Fonts: the built-in typeface and fonts loaded from files or memory, and
// the few queries that measuring and rendering share. Every query goes
// through stb_truetype on an immutable parsed record, so one font serves
// any number of threads at once; the only thing a font learns after it is
// loaded, which of its CFF glyphs cannot be drawn, is written once per
// glyph and atomically.
#ifndef IMGTEXT_FONT_H
#define IMGTEXT_FONT_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quendal_imgtext.h"

struct hb_font_t;

namespace imgtext {

using font_face = ::imgtext_font;

// The built-in font, parsed on first use (thread-safe). Null, with a message,
// only if the embedded bytes are damaged.
const font_face *builtin_font();

// Parses a TrueType/OpenType font (the index-th of a collection) from a copy
// of the bytes. Returns IMGTEXT_OK or a status with a message.
imgtext_status load_font(const unsigned char *data, size_t size, int index, font_face **font);
void free_font(font_face *font);
bool is_builtin(const font_face *font);

// The font's HarfBuzz object, made with it and as immutable: shaping
// positions come back in font units (its scale is the units per em).
hb_font_t *harfbuzz_font(const font_face &font);

// Whether the font has outlines ('glyf' or CFF). A font of colour glyphs
// alone has none: every glyph's outline box is empty and draws nothing.
bool font_has_outlines(const font_face &font);

// The colour glyph tables HarfBuzz reads from the font (bits below; 0 for
// the built-in font): PNG bitmaps ('CBDT'/'CBLC' or 'sbix') and COLRv0
// layers ('COLR' with its 'CPAL' palettes).
enum colour_table : uint8_t { colour_bitmaps = 1, colour_layers = 2 };
uint8_t font_colour_tables(const font_face &font);

// The number of glyphs: every glyph index below it is one the font has.
int font_glyph_count(const font_face &font);

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
// The glyph's bitmap box. A CFF glyph runs its charstring for it; one whose
// charstring fails or runs too long has an empty box, and once a font has
// found that, the glyph is never run again.
glyph_box glyph_bitmap_box(const font_face &font, int glyph, float scale);

// A part of a glyph's bitmap: columns x0..x1-1 and rows y0..y1-1, counted
// from the bitmap's top-left corner. Never empty.
struct glyph_window {
    int x0, y0, x1, y1;
};

// Rasterises only the window of the glyph's bitmap, whose box (from
// glyph_bitmap_box at the same scale) the caller gives, into a buffer of
// the window's size (stride x1 - x0). Every byte equals the one
// stbtt_MakeGlyphBitmapSubpixel writes at the same place in the whole
// bitmap, but the cost follows the window, not the glyph: text clipped by a
// small picture costs what the picture shows.
void rasterise_glyph_window(const font_face &font, int glyph, float scale, const glyph_box &box,
                            const glyph_window &window, unsigned char *coverage);

// ---- Variable fonts. stb_truetype reads no glyph variations (gvar, HVAR),
// so a font at a point of its design space is a copy for one call that
// takes its outlines and advances from a HarfBuzz sub-font at those axis
// values, while its character map, kerning and vertical metrics stay the
// default instance's. Shaping uses the same sub-font, so shaped text gets
// varied positions and kerning too.

// True if the font has variation axes (an fvar table) and glyf outlines.
bool font_has_variations(const font_face &font);

// Checks a style's variations: axis values as HarfBuzz reads them
// ("wght=700,wdth=85", separated by commas or spaces), or, without any '=',
// the name of a named instance. IMGTEXT_ERROR_ARGUMENT names what is
// malformed.
imgtext_status check_variations(const char *variations);

// The font at the variations (checked above), for one call: *varied is a
// new font to free with free_font, or null when the font has no variations
// or no named instance of that name. Fails only for memory.
imgtext_status vary_font(const font_face &font, const char *variations, font_face **varied);

// ---- Outlines for transformed drawing (rotated text).

// A glyph's outline as closed polygons, curves flattened as finely as
// drawing at `scale` needs: points (x, y) in font units, y up, and the
// number of points of each contour.
struct flat_outline {
    std::vector<float> xy;
    std::vector<int> lengths;
};
void glyph_flat_outline(const font_face &font, int glyph, float scale, flat_outline &out);

// Rasterises polygons given in pixels (y down) with the glyphs' rasteriser
// (non-zero winding, exact area coverage) into a w x h buffer (stride w,
// zeroed) whose top-left pixel is (x0, y0).
void rasterise_polygons(const flat_outline &pixels, int x0, int y0, int w, int h, unsigned char *coverage);

// Charstring steps run on the calling thread so far, by the two calls above
// (TrueType glyphs run none: validation bounds their work at load). A
// drawing call meters its glyph work by the difference.
uint64_t charstring_steps_run();

}  // namespace imgtext

#endif
