// Fuzz target: arbitrary bytes as the input picture of imgtext_add. Every
// decoder stb_image has is reachable; the result is encoded for real. Each
// input is drawn on twice, over differently dirtied stack and heap, and both
// runs must end the same (the same file bytes, or the same error): a decoder
// that reads memory it never wrote shows up here even where no sanitizer
// sees it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "quendal_imgtext.h"

namespace {

struct outcome {
    bool ok = false;
    std::string error;
    std::vector<uint8_t> bytes;
    bool operator==(const outcome &o) const { return ok == o.ok && error == o.error && bytes == o.bytes; }
};

outcome draw(const std::string &input, const std::string &output, unsigned char dirt) {
    fuzz_support::dirty_memory(dirt);
    std::remove(output.c_str());
    outcome result;
    result.ok = imgtext_add(input.c_str(), output.c_str(), "Fuzz\nAV", 3, -4, 14, 255, 128, 0, 0.75f) == 1;
    result.error = imgtext_last_error();
    // Every failure must carry a message.
    if (!result.ok && result.error.empty()) __builtin_trap();
    if (result.ok) result.bytes = fuzz_support::read_file(output);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Legitimately huge pictures only make the fuzzer slow, not wiser.
    if (fuzz_support::claims_more_pixels_than(data, size, 1 << 22)) return 0;
    static const std::string input = fuzz_support::scratch_path("fuzz-input");
    // One output path for both, since error messages name it.
    static const std::string output = fuzz_support::scratch_path("fuzz-output");
    if (!fuzz_support::write_file(input, data, size)) return 0;
    if (!(draw(input, output, 0xA5) == draw(input, output, 0x5A))) {
        std::fprintf(stderr, "the same input gave two different results\n");
        __builtin_trap();
    }
    return 0;
}
