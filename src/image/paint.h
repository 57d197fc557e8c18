// Source-over blending of a solid colour onto straight-alpha RGBA, the one
// arithmetic behind text and translucent boxes. Single precision in a fixed
// order, so results are the same on every compiler and platform.
#ifndef IMGTEXT_BLEND_H
#define IMGTEXT_BLEND_H

namespace imgtext {

struct paint {
    float red, green, blue;  // clamped channel values
    float opacity;           // 0..1, or NaN (draws nothing)
};

// Blends the colour at coverage/255 x opacity over the pixel d (RGBA).
void composite_pixel(unsigned char *d, unsigned char coverage, const paint &colour);

}  // namespace imgtext

#endif
