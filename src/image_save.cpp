// Choosing the output format from a path and encoding the pixels. The only
// user of stb_image_write, compiled here with static linkage so none of its
// symbols leave the library.
#include <cstdint>
#include <cstring>

#include "file_output.h"
#include "jpeg_encoder.h"
#include "png_deflate.h"
#include "png_encoder.h"

#include "image.h"
#include "library_frame.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace imgtext {

namespace {
constexpr int k_jpeg_quality = 92;  // high enough that the writer keeps full-resolution chroma
}

int str_ends_with_nocase(const char *s, const char *suffix) {
    const size_t s_len = std::strlen(s), suffix_len = std::strlen(suffix);
    if (s_len < suffix_len) return 0;
    const char *tail = s + (s_len - suffix_len);
    for (size_t i = 0; i < suffix_len; ++i) {
        // Setting bit 0x20 folds ASCII upper case onto lower case.
        if ((tail[i] | 0x20) != (suffix[i] | 0x20)) return 0;
    }
    return 1;
}

int format_from_path(const char *path, int fallback) {
    if (!path) return fallback;
    if (str_ends_with_nocase(path, ".jpg") || str_ends_with_nocase(path, ".jpeg")) return FMT_JPG;
    if (str_ends_with_nocase(path, ".png")) return FMT_PNG;
    if (str_ends_with_nocase(path, ".bmp")) return FMT_BMP;
    return fallback;
}

namespace {

// stb_image_write's size arithmetic is 32-bit int, and JPEG headers store
// 16-bit sides. Beyond these limits the writer would overflow or write a
// corrupt file while reporting success, so such images are refused.
constexpr uint64_t k_int_max = 2147483647u;
// The PNG writer's growable zlib buffer doubles an int capacity: from the
// first capacity past 2^30 (1,610,612,735 bytes) the next growth overflows.
constexpr uint64_t k_png_stream_max = 1610612733u;

void write_to_file(void *context, void *data, int size) {
    static_cast<file_output *>(context)->write(data, static_cast<size_t>(size));
}

[[maybe_unused]] void write_bytes_to_file(void *context, const void *data, size_t size) {
    static_cast<file_output *>(context)->write(data, size);
}

}  // namespace

bool writer_can_encode(int format, int width, int height) {
    if (width < 1 || height < 1) return false;
    const uint64_t w = static_cast<uint64_t>(width), h = static_cast<uint64_t>(height);
    switch (format) {
        case FMT_JPG: return w <= 65535 && h <= 65535 && w * h * 4 <= k_int_max;
        case FMT_BMP: return 122 + w * h * 4 <= k_int_max;
        default: {
            const uint64_t filtered = (w * 4 + 1) * h;
            return filtered <= k_int_max && zlib_bound(filtered) <= k_png_stream_max;
        }
    }
}

int save_image(const char *path, int width, int height, const unsigned char *pixels, int format) {
    int encoded = 0;
    bool written = false;
    if (writer_can_encode(format, width, height)) {
        // The writers' own file output ignores write errors; encoding through
        // a callback lets every byte's write be checked.
        file_output file(path);
        switch (format) {
            case FMT_JPG:
#if defined(IMGTEXT_REFERENCE_WRITERS)
                encoded = stbi_write_jpg_to_func(write_to_file, &file, width, height, 4, pixels, k_jpeg_quality);
#else
                encoded = encode_jpeg(pixels, width, height, k_jpeg_quality, write_bytes_to_file, &file);
#endif
                break;
            case FMT_BMP: encoded = stbi_write_bmp_to_func(write_to_file, &file, width, height, 4, pixels); break;
            default:
#if defined(IMGTEXT_REFERENCE_WRITERS)
                encoded = stbi_write_png_to_func(write_to_file, &file, width, height, 4, pixels, width * 4);
#else
                encoded = encode_png(pixels, width, height, write_bytes_to_file, &file);
#endif
                break;
        }
        written = encoded && file.commit();
    }
    if (!written) {
        set_err("failed to write image to %s", path);
        return 0;
    }
    return 1;
}

}  // namespace imgtext
