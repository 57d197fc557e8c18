// Fuzz target: text bytes, size, position, padding, colours and opacity for
// every drawing function, on a small picture.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "quendal_imgtext.h"

namespace {

// Reads fixed-size fields off the front of the input, zeros once exhausted.
struct reader {
    const uint8_t *data;
    size_t size;
    template <typename T>
    T take() {
        T value{};
        const size_t n = size < sizeof(T) ? size : sizeof(T);
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

// Mostly small values, sometimes the extremes, which is where overflow hides.
int position(int16_t raw) {
    switch (raw & 0x1F) {
        case 0: return INT32_MIN;
        case 1: return INT32_MAX;
        default: return raw / 16;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string picture = [] {
        std::string path = fuzz_support::scratch_path("fuzz-picture.png");
        imgtext_create(path.c_str(), nullptr, 48, 32, 0, 0, 0, 0, 30, 60, 90);
        return path;
    }();

    reader in{data, size};
    const uint8_t which = in.take<uint8_t>();
    const int x = position(in.take<int16_t>()), y = position(in.take<int16_t>());
    const int padding = position(in.take<int16_t>());
    const int size_arg = static_cast<int8_t>(in.take<uint8_t>());  // -128..127
    const int red = position(in.take<int16_t>()), green = in.take<uint8_t>(), blue = in.take<uint8_t>();
    const float opacity = in.take<float>();
    const std::string text(reinterpret_cast<const char *>(in.data), in.size);  // stops at the first NUL

    int ok = 1;
    switch (which % 4) {
        case 0:
            ok = imgtext_add(picture.c_str(), "/dev/null", text.c_str(), x, y, size_arg, red, green, blue, opacity);
            break;
        case 1:
            ok = imgtext_add_boxed(picture.c_str(), "/dev/null", text.c_str(), x, y, size_arg, red, green, blue, blue,
                                   green, red, padding);
            break;
        case 2: ok = imgtext_centered(picture.c_str(), "/dev/null", text.c_str(), size_arg, red, green, blue); break;
        default: {
            const int w = 1 + (x & 0x7F), h = 1 + (y & 0x3F);
            ok = imgtext_create("/dev/null", text.c_str(), w, h, size_arg, red, green, blue, 0, 0, 0);
        }
    }
    if (!ok) __builtin_trap();  // nothing here may fail: valid picture, sizes <= 127
    return 0;
}
