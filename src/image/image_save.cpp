// Choosing the output format from a path and encoding the pixels. The only
// user of stb_image_write, compiled here with static linkage so none of its
// symbols leave the library.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/jpeg_encoder.h"
#include "codecs/png_deflate.h"
#include "codecs/png_encoder.h"
#include "files/file_output.h"

#include "frame/errors.h"
#include "image/image_io.h"
#include "image/metadata.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace imgtext {

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

const char *foreign_extension(const char *path) {
    const char *name = path;
    for (const char *p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    const char *dot = std::strrchr(name, '.');
    if (!dot || dot == name || !dot[1]) return nullptr;
    return format_from_path(dot, FMT_AUTO) == FMT_AUTO ? dot : nullptr;
}

namespace {

// stb_image_write's size arithmetic is 32-bit int, and JPEG headers store
// 16-bit sides. Beyond these limits the writer would overflow or write a
// corrupt file while reporting success, so such images are refused.
constexpr uint64_t k_int_max = 2147483647u;
// The PNG writer's growable zlib buffer doubles an int capacity: from the
// first capacity past 2^30 (1,610,612,735 bytes) the next growth overflows.
constexpr uint64_t k_png_stream_max = 1610612733u;

struct func_writer {
    write_fn write;
    void *context;
};

void write_through_func(void *context, void *data, int size) {
    auto *w = static_cast<func_writer *>(context);
    w->write(w->context, data, static_cast<size_t>(size));
}

// Pixels as the encoders take them: packed rows, and for an RGB PNG three
// channels. Borrows the image's own rows when they already are that.
struct packed_pixels {
    const unsigned char *data = nullptr;
    unsigned char *owned = nullptr;
    ~packed_pixels() { std::free(owned); }
    bool pack(const rgba_image &image, int channels) {
        const size_t packed_row = static_cast<size_t>(image.width) * static_cast<size_t>(channels);
        if (channels == 4 && image.row_bytes() == packed_row) {
            data = image.pixels;
            return true;
        }
        owned = static_cast<unsigned char *>(std::malloc(packed_row * static_cast<size_t>(image.height)));
        if (!owned) return false;
        for (int y = 0; y < image.height; ++y) {
            const unsigned char *from = image.row(y);
            unsigned char *to = owned + packed_row * static_cast<size_t>(y);
            if (channels == 4) {
                std::memcpy(to, from, packed_row);
            } else {
                for (int x = 0; x < image.width; ++x, from += 4, to += 3) std::memcpy(to, from, 3);
            }
        }
        data = owned;
        return true;
    }
};

bool every_pixel_opaque(const rgba_image &image) {
    for (int y = 0; y < image.height; ++y) {
        const unsigned char *p = image.row(y);
        for (int x = 0; x < image.width; ++x)
            if (p[x * 4 + 3] != 255) return false;
    }
    return true;
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

// The library's own encoders write exactly stb_image_write's bytes, faster,
// for the settings they cover (RGBA PNG; JPEG at every quality); stb's
// writers do the rest (BMP, RGB PNG).
int encode_image(const rgba_image &image, const encode_settings &settings, write_fn write, void *context) {
    if (!writer_can_encode(settings.format, image.width, image.height)) return 0;
    if (settings.metadata) {
        // The encoders stay as they are; the metadata goes into their stream.
        metadata_writer with_metadata(write, context);
        if (!with_metadata.prepare(*settings.metadata, settings.format, settings.keep_exif)) return 0;
        if (with_metadata.adds_anything()) {
            encode_settings plain = settings;
            plain.metadata = nullptr;
            const int encoded = encode_image(image, plain, metadata_writer::write, &with_metadata);
            with_metadata.finish();
            return encoded;
        }
    }
#if !defined(IMGTEXT_REFERENCE_WRITERS)
    // The JPEG encoder takes every quality and reads padded rows in place.
    if (settings.format == FMT_JPG) {
        return encode_jpeg(image.pixels, image.width, image.height, image.row_bytes(), settings.jpeg_quality, write,
                           context);
    }
#endif
    const bool rgb_png = settings.format != FMT_JPG && settings.format != FMT_BMP && settings.png_rgb_if_opaque &&
                         every_pixel_opaque(image);
    packed_pixels packed;
    if (!packed.pack(image, rgb_png ? 3 : 4)) return 0;
    func_writer to_func{write, context};
    const int w = image.width, h = image.height;
    switch (settings.format) {
        case FMT_JPG:
            return stbi_write_jpg_to_func(write_through_func, &to_func, w, h, 4, packed.data, settings.jpeg_quality);
        case FMT_BMP: return stbi_write_bmp_to_func(write_through_func, &to_func, w, h, 4, packed.data);
        default:
            if (rgb_png) return stbi_write_png_to_func(write_through_func, &to_func, w, h, 3, packed.data, w * 3);
#if !defined(IMGTEXT_REFERENCE_WRITERS)
            return encode_png(packed.data, w, h, write, context);
#else
            return stbi_write_png_to_func(write_through_func, &to_func, w, h, 4, packed.data, w * 4);
#endif
    }
}

// The end of a save: the file in place, or the message for what failed.
static imgtext_status committed(const char *path, file_output &file, bool encoded, bool give_reason);

imgtext_status save_image_file(const char *path, path_encoding encoding, const rgba_image &image,
                               const encode_settings &settings) {
    if (!writer_can_encode(settings.format, image.width, image.height)) {
        return set_error(IMGTEXT_ERROR_LIMIT, "failed to write image to %s", path);
    }
    // The writers' own file output ignores write errors; encoding through
    // a callback lets every byte's write be checked.
    file_output file(path, encoding);
    const int encoded = encode_image(image, settings, file_output::write_to, &file);
    return committed(path, file, encoded != 0, settings.give_reason);
}

imgtext_status commit_output(const char *path, file_output &file, bool give_reason) {
    return committed(path, file, true, give_reason);
}

void memory_output::write(void *context, const void *bytes, size_t n) {
    auto *sink = static_cast<memory_output *>(context);
    if (sink->failed || n == 0) return;  // (data may still be NULL, which memcpy takes not even for nothing)
    if (!sink->data || n > sink->capacity - sink->size) {
        size_t grown = sink->capacity ? sink->capacity : 64 * 1024;
        while (grown - sink->size < n) {
            if (grown > SIZE_MAX / 2) {
                sink->failed = true;
                return;
            }
            grown *= 2;
        }
        auto *p = static_cast<unsigned char *>(std::realloc(sink->data, grown));
        if (!p) {
            sink->failed = true;
            return;
        }
        sink->data = p;
        sink->capacity = grown;
    }
    std::memcpy(sink->data + sink->size, bytes, n);
    sink->size += n;
}

static imgtext_status committed(const char *path, file_output &file, bool encoded, bool give_reason) {
    if (encoded && file.commit()) return IMGTEXT_OK;
    if (!give_reason) return set_error(IMGTEXT_ERROR_WRITE, "failed to write image to %s", path);
    if (!encoded) return set_error(IMGTEXT_ERROR_MEMORY, "failed to write image to %s: out of memory", path);
    const char *reason = system_reason(file.error());
    if (reason) return set_error(IMGTEXT_ERROR_WRITE, "failed to write image to %s: %s", path, reason);
    return set_error(IMGTEXT_ERROR_WRITE, "failed to write image to %s: system error %d", path, file.error());
}

imgtext_status encode_image_to_memory(const rgba_image &image, const encode_settings &settings, void **data,
                                      size_t *size) {
    if (!writer_can_encode(settings.format, image.width, image.height)) {
        return set_error(IMGTEXT_ERROR_LIMIT, "image too large to encode in this format (%dx%d)", image.width,
                         image.height);
    }
    memory_output sink;
    if (!encode_image(image, settings, memory_output::write, &sink) || sink.failed) {
        return set_error(IMGTEXT_ERROR_MEMORY, "out of memory encoding image (%dx%d)", image.width, image.height);
    }
    *data = sink.data;
    *size = sink.size;
    sink.data = nullptr;
    return IMGTEXT_OK;
}

}  // namespace imgtext
