// Reference decoding for the JPEG decoder's differential tests and fuzzing.
#ifndef IMGTEXT_REFERENCE_JPEG_H
#define IMGTEXT_REFERENCE_JPEG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "codecs/jpeg/jpeg_decoder.h"

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

// The forms of the library's decoder that must each give the reference's
// result: every kernel, and the widest on two threads.
inline constexpr std::pair<imgtext::jpeg_decode_kernel, int> k_decoder_forms[] = {
    {imgtext::jpeg_decode_kernel::automatic, 1},
    {imgtext::jpeg_decode_kernel::sse2, 1},
    {imgtext::jpeg_decode_kernel::portable, 1},
    {imgtext::jpeg_decode_kernel::automatic, 2},
};

}  // namespace test_support

#endif
