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

struct text_colour {
    float red, green, blue;  // clamped channel values
    float opacity;           // clamped to 0..1, or NaN
};

uint8_t blend_channel(float text_value, float a, float image_value, float da, float inv, float out) {
    const int v = static_cast<int>(((text_value * a) + (image_value * da) * inv) / out + 0.5f);
    return static_cast<uint8_t>(v < 255 ? v : 255);
}

void composite_pixel(unsigned char *d, unsigned char coverage, const text_colour &colour) {
    const float a = (static_cast<float>(coverage) / 255.0f) * colour.opacity;
    if (a <= 0.0f) return;  // a NaN opacity falls through to the test below
    const float da = static_cast<float>(d[3]) / 255.0f;
    const float inv = 1.0f - a;
    const float out = da * inv + a;
    if (!(out > 0.00001f)) return;  // also rejects NaN
    d[0] = blend_channel(colour.red, a, static_cast<float>(d[0]), da, inv, out);
    d[1] = blend_channel(colour.green, a, static_cast<float>(d[1]), da, inv, out);
    d[2] = blend_channel(colour.blue, a, static_cast<float>(d[2]), da, inv, out);
    const int alpha = static_cast<int>(out * 255.0f + 0.5f);
    d[3] = static_cast<uint8_t>(alpha < 255 ? alpha : 255);
}

// Blends a gw x gh coverage bitmap whose top-left lands at (gx, gy), skipping
// rows and then pixels outside the image before doing any arithmetic.
void composite_coverage(const rgba_image &image, const unsigned char *coverage, int gw, int gh, int64_t gx,
                        int64_t gy, const text_colour &colour) {
    const size_t stride = static_cast<size_t>(image.width) * 4;
    for (int r = 0; r < gh; ++r) {
        const int64_t dy = gy + r;
        if (dy < 0 || dy >= image.height) continue;
        unsigned char *row = image.pixels + static_cast<size_t>(dy) * stride;
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
void draw_glyph(const rgba_image &image, int glyph, float scale, float pen, int64_t baseline,
                const text_colour &colour) {
    const glyph_box box = glyph_bitmap_box(glyph, scale);
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
    rasterise_glyph_window(glyph, scale, window, coverage);
    composite_coverage(image, coverage, ww, wh, gx + left, gy + top, colour);
    std::free(coverage);
}

void draw_line(const rgba_image &image, const text_line &line, float pen, int64_t baseline, float scale,
               const text_colour &colour) {
    int glyph = glyph_for_byte(line.text[0]);
    for (size_t i = 0;; ++i) {
        draw_glyph(image, glyph, scale, pen, baseline, colour);
        if (i + 1 == line.len) return;
        const int next = glyph_for_byte(line.text[i + 1]);
        pen = pen_after_advance(pen, glyph, scale);
        pen = pen_after_kerning(pen, glyph, next, scale);
        glyph = next;
    }
}

}  // namespace

void render_text_lines(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y, int size,
                       int red, int green, int blue, float opacity, bool centre) {
    // NaN passes both tests unchanged and then draws nothing.
    if (opacity < 0.0f) opacity = 0.0f;
    if (opacity > 1.0f) opacity = 1.0f;
    if (layout.line_count == 0) return;

    const float scale = font_scale(effective_pixel_size(size));
    const text_colour colour{static_cast<float>(clamp_channel(red)), static_cast<float>(clamp_channel(green)),
                             static_cast<float>(clamp_channel(blue)), opacity};
    int64_t baseline = y + layout.ascent;
    for (size_t i = 0; i < layout.line_count; ++i, baseline += layout.line_height) {
        const text_line &line = layout.lines[i];
        if (line.len == 0) continue;
        float pen = static_cast<float>(x);
        if (centre && line.width < layout.box_width) {
            pen = static_cast<float>(layout.box_width - line.width) * 0.5f + static_cast<float>(x);
        }
        draw_line(image, line, pen, baseline, scale, colour);
    }
}

}  // namespace imgtext
