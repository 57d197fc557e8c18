// Drawing laid-out text: each glyph rasterised (once per drawing call, for
// glyphs that recur: see text/glyph_cache.h) and composited at its place.
#ifndef IMGTEXT_TEXT_RENDER_H
#define IMGTEXT_TEXT_RENDER_H

#include <cstdint>

#include "image/image.h"
#include "image/paint.h"
#include "text/layout.h"

namespace imgtext {

class glyph_cache;

// Draws the laid-out lines with (x, y) as the box's top-left corner, each
// line aligned within the box width. Clips to the image. Once the call's
// glyph work is over its budget (cache.over_budget()), draws no more glyphs.
void render_layout(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y, const paint &colour,
                   line_align align, glyph_cache &cache);

}  // namespace imgtext

#endif
