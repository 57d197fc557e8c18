// Fuzz target: hostile photo metadata. The input is read both as an EXIF
// (TIFF) block and as a JPEG's segments. The readers must stay within the
// bytes (the input is copied to a buffer of exactly its size, so the
// sanitizer sees any overread), report an orientation of 1..8 or none, and
// whatever they keep must go back into JPEG and PNG output.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/image_io.h"
#include "image/metadata.h"

namespace {
void append(void *context, const void *data, size_t size) {
    auto *out = static_cast<std::vector<uint8_t> *>(context);
    out->insert(out->end(), static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + size);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace imgtext;
    std::vector<uint8_t> block(data, data + size);

    const int orientation = exif_orientation(block.data(), block.size());
    if (orientation < 0 || orientation > 8) __builtin_trap();
    if (orientation &&
        !(exif_set_orientation(block.data(), block.size(), 1) && exif_orientation(block.data(), block.size()) == 1))
        __builtin_trap();
    int unit = 0;
    double x = 0, y = 0;
    if (exif_resolution(block.data(), block.size(), &unit, &x, &y) &&
        !((unit == DENSITY_PER_INCH || unit == DENSITY_PER_CM) && x > 0 && y > 0))
        __builtin_trap();

    block.assign(data, data + size);
    bool out_of_memory = false;
    image_metadata *metadata = read_jpeg_metadata(block.data(), block.size(), &out_of_memory);
    if (!metadata) return 0;
    if (metadata->orientation < 0 || metadata->orientation > 8) __builtin_trap();
    metadata_oriented(metadata, metadata->orientation);
    unsigned char pixels[3 * 2 * 4] = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0};
    const rgba_image picture{3, 2, pixels};
    for (const int format : {FMT_JPG, FMT_PNG}) {
        encode_settings settings;
        settings.format = format;
        settings.metadata = metadata;
        settings.keep_exif = true;
        std::vector<uint8_t> out;
        if (!encode_image(picture, settings, append, &out) || out.size() < 20) __builtin_trap();
    }
    free_metadata(metadata);
    return 0;
}
