// Reference decoding for the JPEG decoder's differential tests and fuzzing.
#ifndef IMGTEXT_REFERENCE_JPEG_H
#define IMGTEXT_REFERENCE_JPEG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

struct decoded_picture {
    bool ok = false;
    std::string reason;  // when not ok
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;  // RGBA
};

// stb_image's result for a file in memory, with the library's allocator
// settings. A failure that sets no reason of its own reads "(no reason)".
decoded_picture reference_decode(const uint8_t *data, size_t size);

}  // namespace test_support

#endif
