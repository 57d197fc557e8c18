// The RGBA buffer's painting primitives: the opaque rectangle fill, and
// source-over blending of a colour at some coverage, shared by text and boxes.
#include "image/image.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/paint.h"

namespace imgtext {

namespace {

struct clipped_rect {
    int64_t left, top, right, bottom;
    bool empty() const { return left >= right || top >= bottom; }
};

clipped_rect clip(const rgba_image &image, int64_t x, int64_t y, int64_t w, int64_t h) {
    if (w < 1 || h < 1) return {0, 0, 0, 0};
    return {std::max<int64_t>(x, 0), std::max<int64_t>(y, 0), std::min<int64_t>(x + w, image.width),
            std::min<int64_t>(y + h, image.height)};
}

uint8_t blend_channel(float text_value, float a, float image_value, float da, float inv, float out) {
    const int v = static_cast<int>(((text_value * a) + (image_value * da) * inv) / out + 0.5f);
    return static_cast<uint8_t>(v < 255 ? v : 255);
}

// A channel under full coverage: (C * 1 + D * da * 0) / 1 + 0.5 is C + 0.5.
uint8_t full_channel(float value) {
    const int v = static_cast<int>(value + 0.5f);
    return static_cast<uint8_t>(v < 255 ? v : 255);
}

}  // namespace

void composite_pixel(unsigned char *d, unsigned char coverage, const paint &colour) {
    // Full coverage at full opacity: the arithmetic below with a = 1,
    // inv = 0 and out = 1, which leaves the colour and alpha 255 exactly.
    if (coverage == 255 && colour.opacity == 1.0f) {
        d[0] = full_channel(colour.red), d[1] = full_channel(colour.green), d[2] = full_channel(colour.blue);
        d[3] = 255;
        return;
    }
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

void fill_rect(const rgba_image &image, int64_t x, int64_t y, int64_t w, int64_t h, int red, int green, int blue) {
    const clipped_rect r = clip(image, x, y, w, h);
    if (r.empty()) return;
    const unsigned char pixel[4] = {static_cast<unsigned char>(clamp_channel(red)),
                                    static_cast<unsigned char>(clamp_channel(green)),
                                    static_cast<unsigned char>(clamp_channel(blue)), 255};
    for (int64_t row = r.top; row < r.bottom; ++row) {
        unsigned char *p = image.row(row) + static_cast<size_t>(r.left) * 4;
        for (int64_t col = r.left; col < r.right; ++col, p += 4) std::memcpy(p, pixel, 4);
    }
}

void blend_rect(const rgba_image &image, int64_t x, int64_t y, int64_t w, int64_t h, imgtext_color colour) {
    if (colour.a == 255) return fill_rect(image, x, y, w, h, colour.r, colour.g, colour.b);
    const clipped_rect r = clip(image, x, y, w, h);
    if (r.empty() || colour.a == 0) return;
    const paint p{static_cast<float>(colour.r), static_cast<float>(colour.g), static_cast<float>(colour.b),
                  static_cast<float>(colour.a) / 255.0f};
    for (int64_t row = r.top; row < r.bottom; ++row) {
        unsigned char *d = image.row(row) + static_cast<size_t>(r.left) * 4;
        for (int64_t col = r.left; col < r.right; ++col, d += 4) composite_pixel(d, 255, p);
    }
}

void blend_rounded_rect(const rgba_image &image, int64_t x, int64_t y, int64_t w, int64_t h, float radius,
                        imgtext_color colour) {
    const clipped_rect r = clip(image, x, y, w, h);
    if (r.empty() || colour.a == 0) return;
    const float half_side = static_cast<float>(std::min(w, h)) * 0.5f;
    const float rad = radius < half_side ? radius : half_side;
    // Rows and columns this close to an edge may lie in a corner.
    const int64_t zone = static_cast<int64_t>(std::ceil(rad));
    const paint p{static_cast<float>(colour.r), static_cast<float>(colour.g), static_cast<float>(colour.b),
                  static_cast<float>(colour.a) / 255.0f};
    // How far a pixel's centre lies beyond its corner's centre along one
    // axis, given its distance in pixels from the nearer edge; 0 or less
    // outside the corners.
    auto beyond = [&](int64_t from_edge) {
        return from_edge < zone ? rad - static_cast<float>(from_edge) - 0.5f : 0.0f;
    };
    for (int64_t row = r.top; row < r.bottom; ++row) {
        const float dy = beyond(std::min(row - y, y + h - 1 - row));
        unsigned char *d = image.row(row) + static_cast<size_t>(r.left) * 4;
        for (int64_t col = r.left; col < r.right; ++col, d += 4) {
            const float dx = beyond(std::min(col - x, x + w - 1 - col));
            unsigned char coverage = 255;
            if (dx > 0.0f && dy > 0.0f) {
                // Coverage from the distance of the pixel's centre to the arc.
                const float inside = rad + 0.5f - std::sqrt(dx * dx + dy * dy);
                if (inside <= 0.0f) continue;
                if (inside < 1.0f) coverage = static_cast<unsigned char>(inside * 255.0f + 0.5f);
            }
            composite_pixel(d, coverage, p);
        }
    }
}

}  // namespace imgtext
