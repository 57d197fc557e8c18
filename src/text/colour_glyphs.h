// Colour glyphs: the PNG bitmaps of 'CBDT'/'CBLC' and 'sbix' fonts and the
// COLRv0 layers of 'COLR'/'CPAL' fonts, read through HarfBuzz and drawn as
// straight RGBA over the glyph's box, so that the fill composites each pixel
// in its own colour and the outline and shadow take the pixels' alpha as the
// glyph's coverage. COLRv1 paint graphs are painted by text/colour_paint.h.
#ifndef IMGTEXT_TEXT_COLOUR_GLYPHS_H
#define IMGTEXT_TEXT_COLOUR_GLYPHS_H

#include <cstddef>
#include <cstdint>

#include "font/font.h"
#include "image/paint.h"

namespace imgtext {

enum class colour_kind : uint8_t { none, bitmap, layers, paint };

// How the glyph is drawn in colour: from its PNG bitmap (the font's
// largest strike that has one, whose PNG is within the header's limits),
// from its COLRv1 paint graph (when its extents are not empty), from its
// COLRv0 layers, or not at all (none: its outline, if any).
colour_kind colour_kind_of(const font_face &font, int glyph);

// The box of the colour glyph at a scale, as glyph_bitmap_box gives an
// outline's: the bitmap's or paint graph's place from its extents, or all
// its layers' boxes.
glyph_box colour_glyph_box(const font_face &font, int glyph, colour_kind kind, float scale);

// Draws the window of the colour glyph's box (its box from colour_glyph_box
// at the same scale) as straight RGBA into `rgba` (zeroed, rows `stride`
// bytes apart). Layers in the palette's 0xFFFF entry take `text`'s colour at
// full alpha (the text's alpha and opacity apply when the glyph is
// composited). A bitmap is scaled by the average over the area of the
// source each pixel covers. Returns the work done, in pixels visited, for
// the call's budget; a PNG that fails to decode draws nothing.
uint64_t draw_colour_window(const font_face &font, int glyph, colour_kind kind, float scale, const glyph_box &box,
                            const glyph_window &window, const paint &text, unsigned char *rgba, size_t stride);

}  // namespace imgtext

#endif
