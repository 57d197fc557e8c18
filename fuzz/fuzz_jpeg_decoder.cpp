// Fuzz target: the library's own JPEG decoder against stb_image built as the
// library builds it. For any bytes, every kernel, and the widest on two
// threads, must either leave the file to stb, or give exactly stb's pixels,
// or fail with exactly stb's reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/jpeg/jpeg_decoder.h"
#include "fuzz_support.h"
#include "reference_jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1 << 20) || fuzz_support::claims_more_pixels_than(data, size, 1 << 22)) return 0;
    bool have_reference = false;
    test_support::decoded_picture reference;
    for (auto [kernel, threads] : test_support::k_decoder_forms) {
        int w = 0, h = 0;
        unsigned char *pixels = nullptr;
        const char *reason = nullptr;
        const auto result =
            imgtext::decode_jpeg_rgba(data, static_cast<int>(size), &w, &h, &pixels, &reason, kernel, threads);
        if (result == imgtext::jpeg_decode_result::not_handled) continue;
        if (!have_reference) reference = test_support::reference_decode(data, size), have_reference = true;
        if (result == imgtext::jpeg_decode_result::failed) {
            if (reference.ok || reference.reason != reason) __builtin_trap();
            continue;
        }
        const bool same = reference.ok && reference.width == w && reference.height == h &&
                          std::memcmp(reference.pixels.data(), pixels, static_cast<size_t>(w) * h * 4) == 0;
        std::free(pixels);
        if (!same) __builtin_trap();
    }
    return 0;
}
