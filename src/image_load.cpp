// Reading an input file whole, guessing its format from the first bytes, and
// decoding it to RGBA. The only user of stb_image, compiled here with static
// linkage so none of its symbols leave the library.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image.h"
#include "jpeg_decoder.h"
#include "library_frame.h"

namespace {
// The decoder reads memory it never wrote for some truncated or corrupt
// files (JPEG especially). Zero-filled allocations make such reads see zeros,
// so damaged files decode the same way every time and never carry leftover
// heap contents into an output file. Valid files decode exactly as before.
void *zeroed_realloc(void *p, size_t old_size, size_t new_size) {
    auto *q = static_cast<unsigned char *>(std::realloc(p, new_size));
    if (q && new_size > old_size) std::memset(q + old_size, 0, new_size - old_size);
    return q;
}
}  // namespace

#define STBI_MALLOC(size) std::calloc(1, size)
#define STBI_REALLOC_SIZED(p, old_size, new_size) zeroed_realloc(p, old_size, new_size)
#define STBI_FREE(p) std::free(p)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace imgtext {

namespace {

int cannot_read(const char *path) {
    set_err("cannot read file: %s", path);
    return 0;
}

// Reads the whole file into one malloc'd buffer of exactly its size.
int read_whole_file(const char *path, unsigned char **data, int *size) {
    FILE *file = std::fopen(path, "rb");
    if (!file) return cannot_read(path);

    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    // Empty files, ftell errors and files the decoder's int length cannot
    // describe are all unreadable here.
    if (length <= 0 || length > INT_MAX) {
        std::fclose(file);
        return cannot_read(path);
    }
    std::rewind(file);

    auto *buffer = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(length)));
    if (!buffer) {
        std::fclose(file);
        return cannot_read(path);
    }
    const size_t got = std::fread(buffer, 1, static_cast<size_t>(length), file);
    std::fclose(file);
    if (got != static_cast<size_t>(length)) {
        std::free(buffer);
        return cannot_read(path);
    }
    *data = buffer;
    *size = static_cast<int>(length);
    return 1;
}

}  // namespace

// Only JPEG, PNG and BMP are recognised, since those are the formats the
// result can be written back in; anything else defers to the extension.
// Only the first bytes are looked at, not the full signatures.
int sniff_format(const char *path, const unsigned char *data, int size) {
    const int by_extension = format_from_path(path, FMT_PNG);
    if (size == 1) return by_extension;
    if (data[0] == 0xFF) return data[1] == 0xD8 ? FMT_JPG : by_extension;
    if (data[0] == 0x89) {
        const bool png = size >= 8 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G';
        return png ? FMT_PNG : by_extension;
    }
    if (data[0] == 'B' && data[1] == 'M') return FMT_BMP;
    return by_extension;
}

int count_jpeg_scans(const unsigned char *data, size_t size, int limit) {
    int scans = 0;
    size_t pos = 2;  // past the start-of-image marker
    while (scans <= limit) {
        while (pos < size && data[pos] != 0xFF) ++pos;  // stray bytes between segments
        while (pos < size && data[pos] == 0xFF) ++pos;  // fill bytes before a marker
        if (pos >= size) break;
        const unsigned char marker = data[pos++];
        if (marker == 0xD9) break;                                         // end of image
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length field
        if (pos + 2 > size) break;
        const size_t length = (static_cast<size_t>(data[pos]) << 8) | data[pos + 1];
        pos += length;
        if (marker != 0xDA) continue;
        ++scans;
        // Entropy-coded data runs to the next marker that is neither a
        // stuffed zero nor a restart marker.
        for (; pos + 1 < size; ++pos) {
            if (data[pos] != 0xFF) continue;
            const unsigned char next = data[pos + 1];
            if (next != 0x00 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7)) break;
        }
    }
    return scans;
}

int load_image(const char *path, rgba_image *image, int *format, const load_check *check) {
    unsigned char *data = nullptr;
    int size = 0;
    if (!read_whole_file(path, &data, &size)) return 0;
    struct owned_bytes {
        unsigned char *p;
        ~owned_bytes() { std::free(p); }
    } file{data};

    const int sniffed = sniff_format(path, data, size);
    int width = 0, height = 0, channels_in_file = 0;
    if (check && stbi_info_from_memory(data, size, &width, &height, &channels_in_file) &&
        !check->accept(check->context, sniffed, width, height)) {
        return 0;
    }
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8 &&
        count_jpeg_scans(data, static_cast<size_t>(size), k_max_jpeg_scans) > k_max_jpeg_scans) {
        set_err("cannot decode image %s (too many scans)", path);
        return 0;
    }
#if !defined(IMGTEXT_REFERENCE_DECODER)
    // The own JPEG decoder gives stb's pixels and reasons for the files it takes.
    unsigned char *own = nullptr;
    const char *reason = nullptr;
    const jpeg_decode_result own_result = decode_jpeg_rgba(data, size, &width, &height, &own, &reason);
    if (own_result == jpeg_decode_result::failed) {
        set_err("cannot decode image %s (%s)", path, reason);
        return 0;
    }
    if (own_result == jpeg_decode_result::decoded) {
        *image = rgba_image{width, height, own};
        *format = sniffed;
        return 1;
    }
#endif
    unsigned char *pixels = stbi_load_from_memory(data, size, &width, &height, &channels_in_file, 4);
    if (!pixels) {
        set_err("cannot decode image %s (%s)", path, stbi_failure_reason());
        return 0;
    }

    *image = rgba_image{width, height, pixels};
    *format = sniffed;
    return 1;
}

}  // namespace imgtext
