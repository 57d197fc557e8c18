// The one in-memory picture: 8-bit RGBA rows, and the drawing API's handle
// around it.
#ifndef IMGTEXT_IMAGE_IMAGE_H
#define IMGTEXT_IMAGE_IMAGE_H

#include <cstddef>
#include <cstdint>

#include "quendal_imgtext.h"

namespace imgtext {

struct image_metadata;

// Some rows of a taller picture: what a picture being streamed holds
// (drawing/streamed.h). Drawing on it computes everything as on the whole
// picture; a row it reaches that is not held goes to `spare` instead and is
// noted, which tells the caller that this drawing needs the whole picture.
struct row_window {
    int64_t first = 0, count = 0;    // the rows held
    unsigned char *spare = nullptr;  // one row's bytes, for rows not held
    mutable bool strayed = false;    // a row not held was asked for
};

// 8-bit RGBA, straight alpha, rows top to bottom. Rows are `stride` bytes
// apart, or packed (width * 4) when stride is 0, as for every picture the
// library allocates itself; a caller's wrapped buffer may have a gap. With
// a window, `pixels` is the first held row.
struct rgba_image {
    int width;
    int height;
    unsigned char *pixels;
    size_t stride = 0;
    const row_window *window = nullptr;
    size_t row_bytes() const { return stride ? stride : static_cast<size_t>(width) * 4; }
    unsigned char *row(int64_t y) const {
        if (window) {
            y -= window->first;
            if (y < 0 || y >= window->count) {
                window->strayed = true;
                return window->spare;
            }
        }
        return pixels + static_cast<size_t>(y) * row_bytes();
    }
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
