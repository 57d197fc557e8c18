// Painting on the RGBA buffer: source-over blending of a solid colour at some
// coverage (the one arithmetic behind text, outlines, shadows and boxes), and
// the rectangle fills. Single precision in a fixed order, so results are the
// same on every compiler and platform.
#ifndef IMGTEXT_IMAGE_PAINT_H
#define IMGTEXT_IMAGE_PAINT_H

#include <cstdint>

#include "image/image.h"

namespace imgtext {

struct paint {
    float red, green, blue;  // clamped channel values
    float opacity;           // 0..1, or NaN (draws nothing)
};

// Blends the colour at coverage/255 x opacity over the pixel d (RGBA).
void composite_pixel(unsigned char *d, unsigned char coverage, const paint &colour);

inline int clamp_channel(int value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

// Opacity clamped to 0..1; NaN passes both tests unchanged and then draws
// nothing.
inline float clamp_opacity(float opacity) {
    if (opacity < 0.0f) opacity = 0.0f;
    if (opacity > 1.0f) opacity = 1.0f;
    return opacity;
}

// Paints the part of the rectangle inside the image with the clamped colour
// at alpha 255, overwriting what was there. Geometry is 64-bit so that a
// padded box near INT_MAX cannot overflow.
void fill_rect(const rgba_image &image, int64_t x, int64_t y, int64_t w, int64_t h, int red, int green, int blue);

// Blends the colour over the part of the rectangle inside the image with
// the given alpha, as text of that coverage would be.
void blend_rect(const rgba_image &image, int64_t x, int64_t y, int64_t w, int64_t h, imgtext_color colour);

// As blend_rect, with corners rounded to radius (at most half the shorter
// side) and antialiased: each pixel of a corner takes the share of it the
// arc leaves inside, as coverage.
void blend_rounded_rect(const rgba_image &image, int64_t x, int64_t y, int64_t w, int64_t h, float radius,
                        imgtext_color colour);

}  // namespace imgtext

#endif
