// stb_image's decoder built as the library builds it: zero-filled
// allocations, so that damaged files decode the same way every time.
#include "reference_jpeg.h"

#include <cstdlib>
#include <cstring>

#include "image/decoder_allocation.h"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#include <stb_image.h>

namespace test_support {

decoded_picture reference_decode(const uint8_t *data, size_t size) {
    decoded_picture result;
    // A reason left from an earlier call must not pass for this one's.
    stbi__g_failure_reason = "(no reason)";
    int w = 0, h = 0, n = 0;
    unsigned char *pixels = stbi_load_from_memory(data, static_cast<int>(size), &w, &h, &n, 4);
    if (!pixels) {
        result.reason = stbi_failure_reason();
        return result;
    }
    result.ok = true;
    result.width = w, result.height = h;
    result.pixels.assign(pixels, pixels + static_cast<size_t>(w) * h * 4);
    stbi_image_free(pixels);
    return result;
}

}  // namespace test_support
