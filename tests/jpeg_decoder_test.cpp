// The own JPEG decoder against stb_image, as the library builds it: the same
// pixels, or the same failure and reason, on generated files of every kind
// the decoder takes and on every damaged form of some of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jpeg_decoder.h"
#include "reference_jpeg.h"
#include "test_support.h"

using test_support::decoded_picture;

namespace {

decoded_picture ours(const std::vector<uint8_t> &file, imgtext::jpeg_decode_kernel kernel, bool *handled) {
    decoded_picture result;
    int w = 0, h = 0;
    unsigned char *pixels = nullptr;
    const char *reason = nullptr;
    const auto r = imgtext::decode_jpeg_rgba(file.data(), static_cast<int>(file.size()), &w, &h, &pixels, &reason, kernel);
    *handled = r != imgtext::jpeg_decode_result::not_handled;
    if (r == imgtext::jpeg_decode_result::decoded) {
        result.ok = true;
        result.width = w, result.height = h;
        result.pixels.assign(pixels, pixels + static_cast<size_t>(w) * h * 4);
        std::free(pixels);
    } else if (r == imgtext::jpeg_decode_result::failed) {
        result.reason = reason;
    }
    return result;
}

// Compares both kernels with the reference; returns how many handled it.
int expect_same(const std::vector<uint8_t> &file, const std::string &what) {
    const decoded_picture reference = test_support::reference_decode(file.data(), file.size());
    int handled_count = 0;
    for (auto kernel : {imgtext::jpeg_decode_kernel::automatic, imgtext::jpeg_decode_kernel::portable}) {
        bool handled = false;
        const decoded_picture own = ours(file, kernel, &handled);
        if (!handled) continue;
        ++handled_count;
        EXPECT_EQ(own.ok, reference.ok) << what << " (" << reference.reason << " / " << own.reason << ")";
        EXPECT_EQ(own.reason, reference.reason) << what;
        EXPECT_EQ(own.width, reference.width) << what;
        EXPECT_EQ(own.height, reference.height) << what;
        EXPECT_TRUE(own.pixels == reference.pixels) << what << " kernel " << static_cast<int>(kernel);
    }
    return handled_count;
}

std::vector<uint8_t> stb_jpeg(int w, int h, int quality, uint32_t seed) {
    test_support::rgba image = test_support::pattern(w, h);
    uint32_t state = seed;
    for (auto &b : image.pixels) b = static_cast<uint8_t>(b + ((state = state * 1103515245u + 12345u) >> 28));
    return test_support::reference_jpg(image, quality);
}

TEST(JpegDecoder, StbWrittenFilesAtEverySize) {
    for (int quality : {95, 60}) {
        for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 3}, std::pair{8, 8}, std::pair{17, 9}, std::pair{16, 32},
                            std::pair{33, 47}, std::pair{255, 3}, std::pair{640, 480}}) {
            const std::string what = std::to_string(w) + "x" + std::to_string(h) + " q" + std::to_string(quality);
            EXPECT_EQ(expect_same(stb_jpeg(w, h, quality, static_cast<uint32_t>(w * h)), what), 2) << what;
        }
    }
}

}  // namespace
