// Fuzz target: the library's PNG and JPEG encoders must write exactly the
// bytes stb_image_write does, for any size up to 512 x 512 and any pixels,
// with either match search; the JPEG one at any quality and row stride,
// with either compilation of its transform.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/jpeg_encoder.h"
#include "codecs/png_encoder.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {
void append(void *context, const void *data, size_t size) {
    auto *out = static_cast<std::vector<uint8_t> *>(context);
    out->insert(out->end(), static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + size);
}
void append_int(void *context, void *data, int size) { append(context, data, static_cast<size_t>(size)); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    const int width = 1 + ((data[0] | data[1] << 8) % 512), height = 1 + ((data[2] | data[3] << 8) % 512);
    // Quality and row padding come from the size bytes' spare high bits and
    // the first pixel byte, so the older seeds keep their meaning.
    const int quality = size > 4 ? 1 + data[4] % 100 : 92;
    const size_t pad = static_cast<size_t>((data[1] >> 1) & 7) * 3;
    data += 4, size -= 4;
    // The rest of the input, repeated, fills the pixels: short inputs give the
    // long repeats deflate matches on, long ones give noise.
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = size ? data[i % size] : 0;

    std::vector<uint8_t> ours, reference;
    stbi_write_png_to_func(append_int, &reference, width, height, 4, pixels.data(), width * 4);
    for (auto search : {imgtext::match_search::automatic, imgtext::match_search::portable}) {
        ours.clear();
        if (!imgtext::encode_png(pixels.data(), width, height, append, &ours, search)) return 0;
        if (ours != reference) __builtin_trap();
    }

    reference.clear();
    stbi_write_jpg_to_func(append_int, &reference, width, height, 4, pixels.data(), quality);
    const size_t stride = static_cast<size_t>(width) * 4 + pad;
    std::vector<uint8_t> padded(stride * static_cast<size_t>(height), 0xEE);
    for (int y = 0; y < height; ++y)
        std::memcpy(&padded[stride * static_cast<size_t>(y)],
                    &pixels[static_cast<size_t>(width) * 4 * static_cast<size_t>(y)], static_cast<size_t>(width) * 4);
    for (auto kernel : {imgtext::jpeg_kernel::automatic, imgtext::jpeg_kernel::portable}) {
        ours.clear();
        imgtext::encode_jpeg(padded.data(), width, height, stride, quality, append, &ours, kernel);
        if (ours != reference) __builtin_trap();
    }
    return 0;
}
