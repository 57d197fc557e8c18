// COLRv1 colour glyphs: the glyph's paint graph, walked by HarfBuzz
// (hb_font_paint_glyph), painted here into premultiplied float surfaces over
// the glyph's box: solid fills, linear, radial and sweep gradients, clips to
// glyphs (rasterised by the glyphs' own rasteriser) and rectangles,
// transforms, and groups composited by their modes. The work is bounded by
// QUENDAL_IMGTEXT_MAX_COLOR_PAINT_DEPTH and _OPERATIONS.
#ifndef IMGTEXT_TEXT_COLOUR_PAINT_H
#define IMGTEXT_TEXT_COLOUR_PAINT_H

#include <cstddef>
#include <cstdint>

#include "font/font.h"
#include "image/paint.h"

namespace imgtext {

// Whether the glyph has a COLRv1 paint graph.
bool has_colour_paint(const font_face &font, int glyph);

// Draws the window of the glyph's paint graph over its box (the box of its
// extents at the scale) as straight RGBA into `rgba` (zeroed, rows `stride`
// bytes apart). The foreground colour is `text`'s at full alpha, as COLRv0
// layers take it. Returns the work done, in pixels visited.
uint64_t draw_colour_paint_window(const font_face &font, int glyph, float scale, const glyph_box &box,
                                  const glyph_window &window, const paint &text, unsigned char *rgba, size_t stride);

}  // namespace imgtext

#endif
