// Helpers for the tests that use the drawing API through the shared library.
#ifndef IMGTEXT_API_SUPPORT_H
#define IMGTEXT_API_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "quendal_imgtext.h"
#include "test_support.h"

namespace test_support {

// An image the test owns, freed when it goes.
struct image_handle {
    imgtext_image *p = nullptr;
    ~image_handle() { imgtext_image_free(p); }
};

// The default style at a pixel size.
inline imgtext_text_style style_of(float size) {
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.size = size;
    return style;
}

// The default save options for a format.
inline imgtext_save_options save_options(int format) {
    imgtext_save_options options;
    imgtext_save_options_init(&options);
    options.format = format;
    return options;
}

// The image encoded in memory; fails the test if it cannot be.
inline std::vector<uint8_t> encoded(const imgtext_image *image, const imgtext_save_options &options) {
    void *data = nullptr;
    size_t size = 0;
    EXPECT_EQ(imgtext_image_encode(image, &options, &data, &size), IMGTEXT_OK) << imgtext_error_message();
    std::vector<uint8_t> bytes(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
    imgtext_free(data);
    return bytes;
}

// The image's pixels without the padding at the end of its rows.
inline rgba pixels_of(imgtext_image *image) {
    rgba out{imgtext_image_width(image), imgtext_image_height(image), {}};
    for (int y = 0; y < out.height; ++y) {
        const uint8_t *row = imgtext_image_pixels(image) + imgtext_image_stride(image) * y;
        out.pixels.insert(out.pixels.end(), row, row + static_cast<size_t>(out.width) * 4);
    }
    return out;
}

}  // namespace test_support

#endif
