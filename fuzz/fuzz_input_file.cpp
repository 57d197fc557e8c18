// Fuzz target: arbitrary bytes as the input picture of imgtext_add. Every
// decoder stb_image has is reachable; the result is encoded for real and
// written to /dev/null, which also exercises the direct-write path.
// Before that the input is decoded twice, over differently dirtied stack and
// heap, and both must end the same (the same pixels, or the same error): a
// decoder that reads memory it never wrote shows up here even where no
// sanitizer sees it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "engine_support.h"
#include "frame/errors.h"
#include "fuzz_support.h"
#include "quendal_imgtext.h"

namespace {

struct decoded {
    bool ok = false;
    int width = 0, height = 0, format = 0;
    size_t digest = 0;  // of the pixels: huge pictures are not kept twice
    std::string error;
    bool operator==(const decoded &o) const {
        return ok == o.ok && width == o.width && height == o.height && format == o.format && digest == o.digest &&
               error == o.error;
    }
};

decoded decode(const std::string &path, unsigned char dirt) {
    fuzz_support::dirty_memory(dirt);
    imgtext::rgba_image image{0, 0, nullptr};
    decoded result;
    result.ok = imgtext::load_image(path.c_str(), &image, &result.format) == 1;
    if (result.ok) {
        result.width = image.width, result.height = image.height;
        const size_t size = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4;
        result.digest = std::hash<std::string_view>{}({reinterpret_cast<const char *>(image.pixels), size});
        std::free(image.pixels);
    } else {
        result.error = imgtext::s_err;
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Legitimately huge pictures only make the fuzzer slow, not wiser.
    if (fuzz_support::claims_more_pixels_than(data, size, 1 << 22)) return 0;
    static const std::string input = fuzz_support::scratch_path("fuzz-input");
    if (!fuzz_support::write_file(input, data, size)) return 0;
    if (!(decode(input, 0xA5) == decode(input, 0x5A))) {
        std::fprintf(stderr, "the same input decoded two different ways\n");
        __builtin_trap();
    }
    if (!imgtext_add(input.c_str(), "/dev/null", "Fuzz\nAV", 3, -4, 14, 255, 128, 0, 0.75f)) {
        // Every failure must carry a message.
        if (imgtext_last_error()[0] == '\0') __builtin_trap();
    }
    return 0;
}
