// The one in-memory picture: 8-bit RGBA rows, and the drawing API's handle
// around it.
#ifndef IMGTEXT_IMAGE_IMAGE_H
#define IMGTEXT_IMAGE_IMAGE_H

#include <cstddef>
#include <cstdint>

#include "quendal_imgtext.h"

namespace imgtext {

struct image_metadata;

// 8-bit RGBA, straight alpha, rows top to bottom. Rows are `stride` bytes
// apart, or packed (width * 4) when stride is 0, as for every picture the
// library allocates itself; a caller's wrapped buffer may have a gap.
struct rgba_image {
    int width;
    int height;
    unsigned char *pixels;
    size_t stride = 0;
    size_t row_bytes() const { return stride ? stride : static_cast<size_t>(width) * 4; }
    unsigned char *row(int64_t y) const { return pixels + static_cast<size_t>(y) * row_bytes(); }
};

// Output format codes, as in the public header; any other value is PNG.
enum : int {
    FMT_AUTO = IMGTEXT_FORMAT_AUTO,
    FMT_JPG = IMGTEXT_FORMAT_JPEG,
    FMT_PNG = IMGTEXT_FORMAT_PNG,
    FMT_BMP = IMGTEXT_FORMAT_BMP
};

}  // namespace imgtext

// An image handle of the drawing API.
struct imgtext_image {
    imgtext::rgba_image view;
    bool owns_pixels;
    int format;                                   // what the loaded file looked like, or FMT_AUTO
    imgtext::image_metadata *metadata = nullptr;  // a loaded JPEG's, owned; null otherwise
    int damage = IMGTEXT_DAMAGE_NONE;             // what the load found wrong with the data
};

#endif
