// Fuzz target: arbitrary bytes as the input picture of imgtext_add. Every
// decoder stb_image has is reachable; the result is encoded for real and
// written to /dev/null, which also exercises the direct-write path.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "quendal_imgtext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Legitimately huge pictures only make the fuzzer slow, not wiser.
    if (fuzz_support::claims_more_pixels_than(data, size, 1 << 22)) return 0;
    static const std::string input = fuzz_support::scratch_path("fuzz-input");
    if (!fuzz_support::write_file(input, data, size)) return 0;
    if (!imgtext_add(input.c_str(), "/dev/null", "Fuzz\nAV", 3, -4, 14, 255, 128, 0, 0.75f)) {
        // Every failure must carry a message.
        if (imgtext_last_error()[0] == '\0') __builtin_trap();
    }
    return 0;
}
