// Guessing an input's format from its first bytes and decoding it to RGBA. The
// only user of stb_image, compiled here with static linkage so none of its
// symbols leave the library.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/file_input.h"

#include "codecs/jpeg/jpeg_decoder.h"
#include "frame/errors.h"
#include "image/image_io.h"
#include "image/metadata.h"

namespace imgtext {
bool decoder_dimensions_allowed(uint64_t height, uint64_t width);
// Whether the decoder now running on this thread has read past the end of
// its data (it then reads zeros, as if the file went on).
thread_local bool t_read_past_end = false;
}  // namespace imgtext
#define IMGTEXT_STBI_DIMENSIONS_ALLOWED(height, width) \
  imgtext::decoder_dimensions_allowed(static_cast<uint64_t>(height), static_cast<uint64_t>(width))
#define IMGTEXT_STBI_LOAD_BEGIN() (imgtext::t_read_past_end = false)
#define IMGTEXT_STBI_PAST_END() (imgtext::t_read_past_end = true)
#include "image/decoder_allocation.h"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace imgtext {

namespace {

// JPEG, PNG or BMP by the first bytes (not the full signatures), else 0.
int format_by_signature(const unsigned char *data, size_t size) {
    if (size < 2) return FMT_AUTO;
    if (data[0] == 0xFF) return data[1] == 0xD8 ? FMT_JPG : FMT_AUTO;
    if (data[0] == 0x89) return size >= 8 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G' ? FMT_PNG : FMT_AUTO;
    if (data[0] == 'B' && data[1] == 'M') return FMT_BMP;
    return FMT_AUTO;
}

struct owned_bytes {
    unsigned char *p = nullptr;
    ~owned_bytes() { std::free(p); }
};

imgtext_status decode_failure(const char *path, const char *reason) {
    // The decoder's own words for what went wrong tell memory and size
    // failures apart from damaged data.
    const imgtext_status status = std::strcmp(reason, "outofmem") == 0    ? IMGTEXT_ERROR_MEMORY
                                  : std::strcmp(reason, "too large") == 0 ? IMGTEXT_ERROR_LIMIT
                                                                          : IMGTEXT_ERROR_DECODE;
    if (!path) return set_error(status, "cannot decode image from memory (%s)", reason);
    return set_error(status, "cannot decode image %s (%s)", path, reason);
}

}  // namespace

// Only JPEG, PNG and BMP are recognised, since those are the formats the
// result can be written back in; anything else defers to the extension.
int sniff_format(const char *path, const unsigned char *data, int size) {
    const int by_signature = format_by_signature(data, static_cast<size_t>(size));
    return by_signature ? by_signature : format_from_path(path, FMT_PNG);
}

int count_jpeg_scans(const unsigned char *data, size_t size, int limit) {
    int scans = 0;
    size_t pos = 2;  // past the start-of-image marker
    while (scans <= limit) {
        while (pos < size && data[pos] != 0xFF) ++pos;  // stray bytes between segments
        while (pos < size && data[pos] == 0xFF) ++pos;  // fill bytes before a marker
        if (pos >= size) break;
        const unsigned char marker = data[pos++];
        if (marker == 0xD9) break;                                           // end of image
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length field
        if (pos + 2 > size) break;
        const size_t length = (static_cast<size_t>(data[pos]) << 8) | data[pos + 1];
        pos += length;
        if (marker != 0xDA) continue;
        ++scans;
        // Entropy-coded data runs to the next marker that is neither a
        // stuffed zero nor a restart marker. memchr finds each 0xFF: the
        // data is most of the file, and this pass runs before every decode.
        while (pos + 1 < size) {
            const void *ff = std::memchr(data + pos, 0xFF, size - 1 - pos);
            if (!ff) {
                pos = size - 1;
                break;
            }
            pos = static_cast<size_t>(static_cast<const unsigned char *>(ff) - data);
            const unsigned char next = data[pos + 1];
            if (next != 0x00 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7)) break;
            ++pos;
        }
    }
    return scans;
}

namespace {

// Whether a picture of this size may be decoded: within the caller's pixel
// limit, and accepted by the caller's check. Sets the message if not.
bool size_acceptable(const load_settings &settings, int format, uint64_t width, uint64_t height) {
    const uint64_t pixels = width * height;  // each side below 2^32
    if (settings.max_pixels && pixels > settings.max_pixels) {
        set_error(IMGTEXT_ERROR_LIMIT, "image too large: %.0fx%.0f is more than %.0f pixels",
                  static_cast<double>(width), static_cast<double>(height), static_cast<double>(settings.max_pixels));
        return false;
    }
    if (settings.check &&
        !settings.check->accept(settings.check->context, format, static_cast<int>(width), static_cast<int>(height))) {
        return false;
    }
    return true;
}

// The limits of the decode running on this thread, for stb_image's decoders
// to consult the moment their header gives the size, however they read it.
struct size_gate {
    const load_settings *settings;
    int format;
    bool refused = false;
};
thread_local size_gate *t_gate = nullptr;

struct gate_scope {
    size_gate gate;
    size_gate *previous;
    gate_scope(const load_settings &settings, int format) : gate{&settings, format}, previous(t_gate) {
        t_gate = &gate;
    }
    ~gate_scope() { t_gate = previous; }
    gate_scope(const gate_scope &) = delete;
    gate_scope &operator=(const gate_scope &) = delete;
};

}  // namespace

bool decoder_dimensions_allowed(uint64_t height, uint64_t width) {
    size_gate *gate = t_gate;
    if (!gate || gate->refused) return !gate;
    if (size_acceptable(*gate->settings, gate->format, width, height)) return true;
    gate->refused = true;
    return false;
}

#if !defined(IMGTEXT_REFERENCE_DECODER)
// Where the own JPEG decoder found the data ran out, for the message.
// (Into a fixed buffer: a load allocates nothing beyond the picture, so
// that a failed allocation is always reported as the decoder's.)
void describe_missing_data(const jpeg_damage &damage, int height, char (&out)[96]) {
    if (damage.scans == 0) {
        std::snprintf(out, sizeof out, "the data ends before the picture's data begins");
    } else if (damage.from_row >= 0) {
        std::snprintf(out, sizeof out, "the data ends at row %d of %d", damage.from_row, height);
    } else {
        std::snprintf(out, sizeof out, "the data ends %s scan %d of a progressive picture",
                      damage.within_scan ? "in" : "after", damage.scans);
    }
}
#endif

#if !defined(IMGTEXT_REFERENCE_DECODER)
// The own decoder's rows handed on to the load's consumer, with the
// picture's metadata once its size is known.
class consumer_sink final : public jpeg_row_sink {
public:
    consumer_sink(row_consumer &to, const image_metadata *metadata) : to_(to), metadata_(metadata) {}
    bool begin(int width, int height) override { return to_.begin(width, height, metadata_); }
    unsigned char *row(int y) override { return to_.row(y); }
    void rows_done(int end) override { to_.rows_done(end); }

private:
    row_consumer &to_;
    const image_metadata *metadata_;
};

// Streams a JPEG's rows to settings.rows where it can. True: they went
// there, and the outputs are set as decode_image sets them (the image
// without pixels). False: nothing is set and the whole picture is to be
// decoded; any message set on the way is the whole load's to replace.
bool stream_rows(const unsigned char *data, int length, const load_settings &settings, rgba_image *image) {
    image_metadata *metadata = nullptr;
    if (settings.metadata) {
        bool out_of_memory = false;
        metadata = read_jpeg_metadata(data, static_cast<size_t>(length), &out_of_memory);
        const int orientation = metadata && settings.auto_orient ? metadata->orientation : 0;
        if (out_of_memory || orientation > 1) {
            free_metadata(metadata);
            return false;
        }
    }
    consumer_sink sink(*settings.rows, metadata);
    int width = 0, height = 0;
    const char *reason = nullptr;
    jpeg_damage damage;
    const jpeg_decode_result result =
        decode_jpeg_rows(data, length, sink, &width, &height, &reason, settings.threads, &damage);
    const bool whole = result == jpeg_decode_result::decoded && (!damage.truncated || settings.allow_damaged);
    if (!whole) settings.rows->cancel();
    if (!whole || !settings.rows->finished()) {
        free_metadata(metadata);
        return false;
    }
    if (settings.damage) *settings.damage = damage.truncated ? IMGTEXT_DAMAGE_TRUNCATED : IMGTEXT_DAMAGE_NONE;
    if (settings.metadata) *settings.metadata = metadata;
    *image = rgba_image{width, height, nullptr};
    *settings.streamed = true;
    return true;
}
#endif

imgtext_status decode_image(const unsigned char *data, size_t size, const char *path, const load_settings &settings,
                            int fallback, rgba_image *image, int *format) {
    if (settings.streamed) *settings.streamed = false;
    if (settings.max_input_bytes && size > settings.max_input_bytes) {
        return input_too_large(path, settings.max_input_bytes);
    }
    if (size > INT_MAX) return decode_failure(path, "too large");
    const int length = static_cast<int>(size);
    const int by_signature = format_by_signature(data, size);
    const int sniffed = by_signature ? by_signature : format_from_path(path, fallback);

    // The header gives the size before any pixel is decoded or allocated.
    // Where stbi_info cannot read it, each decoder still asks the gate as
    // soon as its own reading of the header gives the size.
    const bool limited = settings.max_pixels || settings.check;
    gate_scope scope(settings, sniffed);
    int width = 0, height = 0, channels_in_file = 0;
    const bool size_known = limited && stbi_info_from_memory(data, length, &width, &height, &channels_in_file);
    if (size_known &&
        !size_acceptable(settings, sniffed, static_cast<uint64_t>(width), static_cast<uint64_t>(height))) {
        return error_status();
    }
    if (scope.gate.refused) return error_status();
    if (by_signature == FMT_JPG && count_jpeg_scans(data, size, k_max_jpeg_scans) > k_max_jpeg_scans) {
        return decode_failure(path, "too many scans");
    }
    unsigned char *pixels = nullptr;
    int damage = IMGTEXT_DAMAGE_NONE;
    char where_it_ends[96] = "the data ends before the picture does";
#if !defined(IMGTEXT_REFERENCE_DECODER)
    // The own JPEG decoder gives stb's pixels and reasons for the files it
    // takes, faster; stb_image decodes the rest.
    if (settings.rows && settings.streamed != nullptr && by_signature == FMT_JPG && (size_known || !limited) &&
        stream_rows(data, length, settings, image)) {
        *format = sniffed;
        return IMGTEXT_OK;
    }
    const char *reason = nullptr;
    jpeg_damage own_damage;
    // It checks no limit of its own, so it takes only pictures whose size
    // was checked above (or asked for none); stb's decoders gate the rest.
    const jpeg_decode_result own = size_known || !limited
                                       ? decode_jpeg_rgba(data, length, &width, &height, &pixels, &reason,
                                                          jpeg_decode_kernel::automatic, settings.threads, &own_damage)
                                       : jpeg_decode_result::not_handled;
    if (own == jpeg_decode_result::failed) return decode_failure(path, reason);
    if (own == jpeg_decode_result::decoded && own_damage.truncated) {
        damage = IMGTEXT_DAMAGE_TRUNCATED;
        describe_missing_data(own_damage, height, where_it_ends);
    }
    if (own == jpeg_decode_result::not_handled) {
#endif
        t_read_past_end = false;
        pixels = stbi_load_from_memory(data, length, &width, &height, &channels_in_file, 4);
        if (pixels && t_read_past_end) damage = IMGTEXT_DAMAGE_TRUNCATED;
#if !defined(IMGTEXT_REFERENCE_DECODER)
    }
#endif
    if (!pixels) return scope.gate.refused ? error_status() : decode_failure(path, stbi_failure_reason());
    if (damage && !settings.allow_damaged) {
        std::free(pixels);
        char reason_text[112];
        std::snprintf(reason_text, sizeof reason_text, "truncated: %s", where_it_ends);
        return decode_failure(path, reason_text);
    }
    if (settings.damage) *settings.damage = damage;

    rgba_image decoded{width, height, pixels};
    image_metadata *metadata = nullptr;
    if (settings.metadata && by_signature == FMT_JPG) {
        bool out_of_memory = false;
        metadata = read_jpeg_metadata(data, size, &out_of_memory);
        const int orientation = metadata && settings.auto_orient ? metadata->orientation : 0;
        if (out_of_memory || !apply_orientation(&decoded, orientation)) {
            free_metadata(metadata);
            std::free(decoded.pixels);
            return set_error(IMGTEXT_ERROR_MEMORY, "out of memory");
        }
        metadata_oriented(metadata, orientation);
    }
    if (settings.metadata) *settings.metadata = metadata;
    *image = decoded;
    *format = sniffed;
    return IMGTEXT_OK;
}

imgtext_status load_image_file(const char *path, path_encoding encoding, const load_settings &settings, int fallback,
                               rgba_image *image, int *format) {
    owned_bytes file;
    size_t size = 0;
    const imgtext_status read = read_whole_file(path, encoding, &file.p, &size, settings.max_input_bytes);
    if (read != IMGTEXT_OK) return read;
    return decode_image(file.p, size, path, settings, fallback, image, format);
}

}  // namespace imgtext
