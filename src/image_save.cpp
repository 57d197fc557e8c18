// Choosing the output format from a path and encoding the pixels. The only
// user of stb_image_write, compiled here with static linkage so none of its
// symbols leave the library.
#include <cstring>

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

int save_image(const char *path, int width, int height, const unsigned char *pixels, int format) {
    int written;
    switch (format) {
        case FMT_JPG: written = stbi_write_jpg(path, width, height, 4, pixels, k_jpeg_quality); break;
        case FMT_BMP: written = stbi_write_bmp(path, width, height, 4, pixels); break;
        default: written = stbi_write_png(path, width, height, 4, pixels, width * 4); break;
    }
    if (!written) set_err("failed to write image to %s", path);
    return written;
}

}  // namespace imgtext
