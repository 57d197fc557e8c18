// The RGBA buffer's one non-blending primitive: the opaque rectangle fill.
#include "image.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace imgtext {

void fill_rect(const rgba_image &image, int64_t x, int64_t y, int64_t w, int64_t h, int red, int green, int blue) {
    if (w < 1 || h < 1) return;
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(x + w, image.width);
    const int64_t bottom = std::min<int64_t>(y + h, image.height);
    if (left >= right || top >= bottom) return;

    const unsigned char pixel[4] = {static_cast<unsigned char>(clamp_channel(red)),
                                    static_cast<unsigned char>(clamp_channel(green)),
                                    static_cast<unsigned char>(clamp_channel(blue)), 255};
    const size_t stride = static_cast<size_t>(image.width) * 4;
    for (int64_t row = top; row < bottom; ++row) {
        unsigned char *p = image.pixels + static_cast<size_t>(row) * stride + static_cast<size_t>(left) * 4;
        for (int64_t col = left; col < right; ++col, p += 4) std::memcpy(p, pixel, 4);
    }
}

}  // namespace imgtext
