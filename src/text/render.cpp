// Rasterising glyphs and compositing their coverage onto an RGBA image with
// source-over on straight alpha. All blending arithmetic is single precision
// in a fixed order, so results are the same on every compiler and platform.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "text/render.h"

#include "font/font.h"
#include "image/paint.h"
#include "text/glyph_cache.h"
#include "text/layout.h"

namespace imgtext {

namespace {

// Blends a w x h part of a coverage bitmap (rows `stride` bytes apart) whose
// top-left lands at (gx, gy), skipping rows and then pixels outside the image
// before doing any arithmetic.
void composite_coverage(const rgba_image &image, const unsigned char *coverage, int w, int h, size_t stride, int64_t gx,
                        int64_t gy, const paint &colour) {
    for (int r = 0; r < h; ++r) {
        const int64_t dy = gy + r;
        if (dy < 0 || dy >= image.height) continue;
        unsigned char *row = image.row(dy);
        const unsigned char *cov = coverage + static_cast<size_t>(r) * stride;
        for (int c = 0; c < w; ++c) {
            const int64_t dx = gx + c;
            if (dx < 0 || dx >= image.width) continue;
            if (cov[c] == 0) continue;
            composite_pixel(row + static_cast<size_t>(dx) * 4, cov[c], colour);
        }
    }
}

// Blends a w x h part of a colour glyph's straight RGBA pixels (rows
// `stride` bytes apart) whose top-left lands at (gx, gy): each pixel in its
// own colour at its alpha times the text's opacity (which holds the text
// colour's alpha).
void composite_colour(const rgba_image &image, const unsigned char *pixels, int w, int h, size_t stride, int64_t gx,
                      int64_t gy, float opacity) {
    for (int r = 0; r < h; ++r) {
        const int64_t dy = gy + r;
        if (dy < 0 || dy >= image.height) continue;
        unsigned char *row = image.row(dy);
        const unsigned char *p = pixels + static_cast<size_t>(r) * stride;
        for (int c = 0; c < w; ++c, p += 4) {
            const int64_t dx = gx + c;
            if (dx < 0 || dx >= image.width || p[3] == 0) continue;
            const paint own{static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]), opacity};
            composite_pixel(row + static_cast<size_t>(dx) * 4, p[3], own);
        }
    }
}

// Draws one glyph with its pen at (pen, baseline). Glyphs with no outline
// (space, glyph 0), glyphs wholly outside the image and glyphs whose bitmap
// cannot be allocated or indexed draw nothing; the caller's pen moves on
// regardless. A glyph partly outside the image has only its visible part
// rasterised, with the same bytes the whole bitmap would have there.
void draw_glyph(const rgba_image &image, const glyph_ref &g, float pen, int64_t baseline, const paint &colour,
                glyph_cache &cache) {
    glyph_cache::entry &e = cache.entry_of(g);
    const glyph_box box = e.box;
    const int gw = box.x1 - box.x0, gh = box.y1 - box.y0;
    if (gw <= 0 || gh <= 0) return;
    // The rasteriser indexes a whole bitmap with int arithmetic; glyphs it
    // could not make whole stay left out, as they always were.
    if (static_cast<uint64_t>(gw) * static_cast<uint64_t>(gh) > INT32_MAX) return;

    // Only the placement drops the pen's fraction; the pen itself keeps it.
    const int64_t gx = static_cast<int64_t>(std::floor(pen)) + box.x0;
    const int64_t gy = baseline + box.y0;
    const int64_t left = std::max<int64_t>(0, -gx), top = std::max<int64_t>(0, -gy);
    const int64_t right = std::min<int64_t>(gw, image.width - gx);
    const int64_t bottom = std::min<int64_t>(gh, image.height - gy);
    if (left >= right || top >= bottom) return;
    const glyph_window window{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                              static_cast<int>(bottom)};
    glyph_coverage coverage;
    if (e.colour != colour_kind::none) {
        cache.colour_pixels(e, g, window, coverage);
        if (coverage.bytes) {
            composite_colour(image, coverage.bytes, window.x1 - window.x0, window.y1 - window.y0, coverage.stride,
                             gx + left, gy + top, colour.opacity);
        }
        return;
    }
    cache.coverage(e, g, window, coverage);
    if (!coverage.bytes) return;
    composite_coverage(image, coverage.bytes, window.x1 - window.x0, window.y1 - window.y0, coverage.stride, gx + left,
                       gy + top, colour);
}

}  // namespace

void render_layout(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y, const paint &colour,
                   line_align align, glyph_cache &cache) {
    for_each_placed_glyph(layout, x, y, align, [&](const glyph_ref &g, float pen, int64_t baseline) {
        if (!cache.over_budget()) draw_glyph(image, g, pen, baseline, colour, cache);
    });
}

}  // namespace imgtext
