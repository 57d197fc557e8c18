// Rasterising glyphs and compositing their coverage onto an RGBA image with
// source-over on straight alpha. All blending arithmetic is single precision
// in a fixed order, so results are the same on every compiler and platform.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "font.h"
#include "text.h"

namespace imgtext {

namespace {

// Blends a gw x gh coverage bitmap whose top-left lands at (gx, gy), skipping
// rows and then pixels outside the image before doing any arithmetic.
void composite_coverage(const rgba_image &image, const unsigned char *coverage, int gw, int gh, int64_t gx,
                        int64_t gy, const paint &colour) {
    for (int r = 0; r < gh; ++r) {
        const int64_t dy = gy + r;
        if (dy < 0 || dy >= image.height) continue;
        unsigned char *row = image.row(dy);
        for (int c = 0; c < gw; ++c) {
            const int64_t dx = gx + c;
            if (dx < 0 || dx >= image.width) continue;
            const unsigned char cov = coverage[static_cast<size_t>(r) * static_cast<size_t>(gw) + c];
            if (cov == 0) continue;
            composite_pixel(row + static_cast<size_t>(dx) * 4, cov, colour);
        }
    }
}

// Draws one glyph with its pen at (pen, baseline). Glyphs with no outline
// (space, glyph 0), glyphs wholly outside the image and glyphs whose bitmap
// cannot be allocated or indexed draw nothing; the caller's pen moves on
// regardless. Only the part of the bitmap that lands on the image is
// rasterised, with the same bytes the whole bitmap would have there.
void draw_glyph(const rgba_image &image, const glyph_ref &g, float pen, int64_t baseline, const paint &colour) {
    const glyph_box box = glyph_bitmap_box(*g.font, g.glyph, g.scale);
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
    const int ww = window.x1 - window.x0, wh = window.y1 - window.y0;
    auto *coverage = static_cast<unsigned char *>(std::calloc(static_cast<size_t>(ww) * static_cast<size_t>(wh), 1));
    if (!coverage) return;
    rasterise_glyph_window(*g.font, g.glyph, g.scale, window, coverage);
    composite_coverage(image, coverage, ww, wh, gx + left, gy + top, colour);
    std::free(coverage);
}

}  // namespace

void render_layout(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y, const paint &colour,
                   line_align align) {
    for_each_placed_glyph(layout, x, y, align, [&](const glyph_ref &g, float pen, int64_t baseline) {
        draw_glyph(image, g, pen, baseline, colour);
    });
}

void render_text_lines(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y, int size,
                       int red, int green, int blue, float opacity, bool centre) {
    (void)size;  // the layout carries its face
    // NaN passes both tests unchanged and then draws nothing.
    if (opacity < 0.0f) opacity = 0.0f;
    if (opacity > 1.0f) opacity = 1.0f;
    const paint colour{static_cast<float>(clamp_channel(red)), static_cast<float>(clamp_channel(green)),
                       static_cast<float>(clamp_channel(blue)), opacity};
    render_layout(image, layout, x, y, colour, centre ? line_align::centre : line_align::left);
}

}  // namespace imgtext
