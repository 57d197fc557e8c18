// Photo metadata: reading the EXIF orientation, ICC profile and resolution
// of a JPEG, turning pixels upright, and adding the metadata to encoded
// JPEG and PNG streams. Input bytes may be hostile: every read below is
// checked against the bytes actually there, in 64-bit arithmetic, and a
// record that does not fit is treated as absent rather than as a failure.
#include "image/metadata.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "codecs/png_deflate.h"
#include "codecs/png_encoder.h"

namespace imgtext {

namespace {

constexpr uint16_t k_tag_orientation = 0x0112;
constexpr uint16_t k_tag_x_resolution = 0x011A;
constexpr uint16_t k_tag_y_resolution = 0x011B;
constexpr uint16_t k_tag_resolution_unit = 0x0128;
constexpr uint16_t k_type_short = 3;
constexpr uint16_t k_type_rational = 5;

// Bounds-checked reads of a TIFF block in its own byte order.
struct tiff_block {
    const unsigned char *p;
    size_t size;
    bool little;

    bool fits(uint64_t offset, uint64_t length) const { return offset <= size && length <= size - offset; }
    uint32_t u16(size_t at) const { return little ? p[at] | p[at + 1] << 8 : p[at] << 8 | p[at + 1]; }
    uint32_t u32(size_t at) const {
        const uint32_t b0 = p[at], b1 = p[at + 1], b2 = p[at + 2], b3 = p[at + 3];
        return little ? b0 | b1 << 8 | b2 << 16 | b3 << 24 : b3 | b2 << 8 | b1 << 16 | b0 << 24;
    }
};

// The header's byte order mark, 42, and the first directory's offset.
bool open_tiff(const unsigned char *p, size_t size, tiff_block *tiff, size_t *ifd0) {
    if (!p || size < 8) return false;
    if (p[0] == 'I' && p[1] == 'I') {
        *tiff = tiff_block{p, size, true};
    } else if (p[0] == 'M' && p[1] == 'M') {
        *tiff = tiff_block{p, size, false};
    } else {
        return false;
    }
    if (tiff->u16(2) != 42) return false;
    const uint32_t offset = tiff->u32(4);
    if (!tiff->fits(offset, 2)) return false;
    *ifd0 = offset;
    return true;
}

// The offset of IFD0's 12-byte entry for tag, or 0 (no entry can start
// there: the header occupies it). Entries past the end of the block are
// not read; a directory claiming more is cut to what is there.
size_t find_entry(const tiff_block &tiff, size_t ifd0, uint16_t tag) {
    const uint64_t count = tiff.u16(ifd0);
    const uint64_t room = (tiff.size - ifd0 - 2) / 12;
    for (uint64_t i = 0; i < count && i < room; ++i) {
        const size_t entry = ifd0 + 2 + static_cast<size_t>(i) * 12;
        if (tiff.u16(entry) == tag) return entry;
    }
    return 0;
}

// A SHORT entry's first value, or -1.
int short_value(const tiff_block &tiff, size_t entry) {
    if (!entry || tiff.u16(entry + 2) != k_type_short || tiff.u32(entry + 4) < 1) return -1;
    return static_cast<int>(tiff.u16(entry + 8));  // one SHORT sits in the value field itself
}

// A RATIONAL entry's value, or a negative number.
double rational_value(const tiff_block &tiff, size_t entry) {
    if (!entry || tiff.u16(entry + 2) != k_type_rational || tiff.u32(entry + 4) < 1) return -1;
    const uint32_t offset = tiff.u32(entry + 8);
    if (!tiff.fits(offset, 8)) return -1;
    const uint32_t numerator = tiff.u32(offset), denominator = tiff.u32(offset + 4);
    if (denominator == 0) return -1;
    return static_cast<double>(numerator) / static_cast<double>(denominator);
}

uint32_t be16(const unsigned char *p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }
void put_be16(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 8), p[1] = static_cast<unsigned char>(v);
}
void put_be32(unsigned char *p, uint32_t v) {
    put_be16(p, v >> 16);
    put_be16(p + 2, v & 0xFFFF);
}

unsigned char *copy_of(const unsigned char *p, size_t size) {
    auto *copy = static_cast<unsigned char *>(std::malloc(size));
    if (copy) std::memcpy(copy, p, size);
    return copy;
}

const char k_icc_tag[] = "ICC_PROFILE";  // 12 bytes with its NUL
constexpr size_t k_icc_header = 14;      // the tag, the chunk's number and the count
constexpr size_t k_icc_chunk_max = 65535 - 2 - k_icc_header;
const char k_exif_tag[] = "Exif\0";  // 6 bytes with the implicit NUL

// The ICC profile's pieces as the APP2 segments number them (1..count).
struct icc_pieces {
    const unsigned char *data[256] = {};
    size_t size[256] = {};
    int count = 0;  // 0: none seen yet; -1: inconsistent, ignore them all
    int seen = 0;

    void add(const unsigned char *payload, size_t size_with_header) {
        const int number = payload[12], of = payload[13];
        if (count < 0) return;
        if (of == 0 || number == 0 || number > of || (count && of != count) || data[number]) {
            count = -1;
            return;
        }
        count = of;
        data[number] = payload + k_icc_header;
        size[number] = size_with_header - k_icc_header;
        ++seen;
    }
    bool complete() const { return count > 0 && seen == count; }
};

}  // namespace

void free_metadata(image_metadata *metadata) {
    if (!metadata) return;
    std::free(metadata->icc);
    std::free(metadata->exif);
    std::free(metadata);
}

int exif_orientation(const unsigned char *p, size_t size) {
    tiff_block tiff{};
    size_t ifd0 = 0;
    if (!open_tiff(p, size, &tiff, &ifd0)) return 0;
    const int value = short_value(tiff, find_entry(tiff, ifd0, k_tag_orientation));
    return value >= 1 && value <= 8 ? value : 0;
}

bool exif_resolution(const unsigned char *p, size_t size, int *unit, double *x, double *y) {
    tiff_block tiff{};
    size_t ifd0 = 0;
    if (!open_tiff(p, size, &tiff, &ifd0)) return false;
    const double rx = rational_value(tiff, find_entry(tiff, ifd0, k_tag_x_resolution));
    const double ry = rational_value(tiff, find_entry(tiff, ifd0, k_tag_y_resolution));
    const size_t unit_entry = find_entry(tiff, ifd0, k_tag_resolution_unit);
    const int u = unit_entry ? short_value(tiff, unit_entry) : 2;  // EXIF's default unit is the inch
    if (!(rx > 0 && ry > 0) || (u != 2 && u != 3)) return false;
    *unit = u == 2 ? DENSITY_PER_INCH : DENSITY_PER_CM;
    *x = rx, *y = ry;
    return true;
}

bool exif_set_orientation(unsigned char *p, size_t size, int orientation) {
    tiff_block tiff{};
    size_t ifd0 = 0;
    if (!open_tiff(p, size, &tiff, &ifd0)) return false;
    const size_t entry = find_entry(tiff, ifd0, k_tag_orientation);
    if (short_value(tiff, entry) < 0) return false;
    const auto v = static_cast<unsigned char>(orientation);
    p[entry + 8] = tiff.little ? v : 0;
    p[entry + 9] = tiff.little ? 0 : v;
    return true;
}

image_metadata *read_jpeg_metadata(const unsigned char *data, size_t size, bool *out_of_memory) {
    *out_of_memory = false;
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return nullptr;
    const unsigned char *exif = nullptr;
    size_t exif_size = 0;
    int jfif_unit = DENSITY_NONE;
    uint32_t jfif_x = 0, jfif_y = 0;
    icc_pieces icc;

    // Segments run back to back up to the first scan; a stream that stops
    // making sense ends the reading, keeping what was read before.
    size_t pos = 2;
    while (pos + 4 <= size && data[pos] == 0xFF) {
        const unsigned char marker = data[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;  // first scan, or end of image
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const size_t length = be16(data + pos + 2);
        if (length < 2 || length > size - pos - 2) break;
        const unsigned char *payload = data + pos + 4;
        const size_t n = length - 2;
        if (marker == 0xE0 && n >= 12 && std::memcmp(payload, "JFIF", 5) == 0) {
            jfif_unit = payload[7];
            jfif_x = be16(payload + 8), jfif_y = be16(payload + 10);
        } else if (marker == 0xE1 && !exif && n > 6 && std::memcmp(payload, k_exif_tag, 6) == 0) {
            exif = payload + 6, exif_size = n - 6;
        } else if (marker == 0xE2 && n > k_icc_header && std::memcmp(payload, k_icc_tag, 12) == 0) {
            icc.add(payload, n);
        }
        pos += 2 + length;
    }

    image_metadata found;
    if (exif) found.orientation = exif_orientation(exif, exif_size);
    if ((jfif_unit == DENSITY_PER_INCH || jfif_unit == DENSITY_PER_CM) && jfif_x && jfif_y) {
        found.density_unit = jfif_unit;
        found.density_x = jfif_x, found.density_y = jfif_y;
    } else if (exif) {
        int unit = DENSITY_NONE;
        double x = 0, y = 0;
        if (exif_resolution(exif, exif_size, &unit, &x, &y))
            found.density_unit = unit, found.density_x = x, found.density_y = y;
    }
    if (!exif && !icc.complete() && found.density_unit == DENSITY_NONE) return nullptr;

    auto *metadata = static_cast<image_metadata *>(std::malloc(sizeof(image_metadata)));
    if (!metadata) {
        *out_of_memory = true;
        return nullptr;
    }
    *metadata = found;
    bool failed = false;
    if (exif) failed |= !(metadata->exif = copy_of(exif, exif_size));
    metadata->exif_size = metadata->exif ? exif_size : 0;
    if (icc.complete()) {
        size_t total = 0;
        for (int i = 1; i <= icc.count; ++i) total += icc.size[i];
        if (total && (metadata->icc = static_cast<unsigned char *>(std::malloc(total)))) {
            size_t at = 0;
            for (int i = 1; i <= icc.count; at += icc.size[i], ++i)
                std::memcpy(metadata->icc + at, icc.data[i], icc.size[i]);
            metadata->icc_size = total;
        }
        failed |= total && !metadata->icc;
    }
    if (failed) {
        free_metadata(metadata);
        *out_of_memory = true;
        return nullptr;
    }
    return metadata;
}

bool apply_orientation(rgba_image *image, int orientation) {
    if (orientation < 2 || orientation > 8) return true;
    const int64_t w = image->width, h = image->height;
    const bool swaps = orientation >= 5;  // 5..8 turn by a quarter, so the sides swap
    const int64_t out_w = swaps ? h : w, out_h = swaps ? w : h;
    auto *out = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(w) * static_cast<size_t>(h) * 4));
    if (!out) return false;
    for (int64_t y = 0; y < out_h; ++y) {
        unsigned char *to = out + static_cast<size_t>(y * out_w) * 4;
        for (int64_t x = 0; x < out_w; ++x, to += 4) {
            // The stored pixel that shows at (x, y) once upright.
            int64_t sx = x, sy = y;
            switch (orientation) {
                case 2: sx = w - 1 - x; break;                  // mirrored
                case 3: sx = w - 1 - x, sy = h - 1 - y; break;  // upside down
                case 4: sy = h - 1 - y; break;                  // mirrored upside down
                case 5: sx = y, sy = x; break;                  // transposed
                case 6: sx = y, sy = h - 1 - x; break;          // turn a quarter clockwise
                case 7: sx = w - 1 - y, sy = h - 1 - x; break;  // transversed
                default: sx = w - 1 - y, sy = x; break;         // 8: a quarter anticlockwise
            }
            std::memcpy(to, image->row(sy) + static_cast<size_t>(sx) * 4, 4);
        }
    }
    std::free(image->pixels);
    *image = rgba_image{static_cast<int>(out_w), static_cast<int>(out_h), out};
    return true;
}

void metadata_oriented(image_metadata *metadata, int orientation) {
    if (!metadata || orientation < 2 || orientation > 8) return;
    if (metadata->exif) exif_set_orientation(metadata->exif, metadata->exif_size, 1);
    metadata->orientation = 1;
    if (orientation >= 5) {
        const double x = metadata->density_x;
        metadata->density_x = metadata->density_y, metadata->density_y = x;
    }
}

// ---- writing

metadata_writer::~metadata_writer() { std::free(insert_); }

namespace {

// Appends bytes to a growing malloc'd block; the caller sized it.
struct appender {
    unsigned char *p;
    size_t at = 0;
    void put(const void *data, size_t n) {
        std::memcpy(p + at, data, n);
        at += n;
    }
};

uint32_t rounded_density(double value, double limit) {
    const double r = std::floor(value + 0.5);
    return r >= 1 && r <= limit ? static_cast<uint32_t>(r) : 0;
}

}  // namespace

bool metadata_writer::prepare(const image_metadata &metadata, int format, bool keep_exif) {
    format_ = format;
    const bool icc = metadata.icc && metadata.icc_size;
    const bool has_density = metadata.density_unit != DENSITY_NONE;
    if (format == FMT_JPG) {
        head_size_ = 20;  // SOI and the 16-byte JFIF segment
        if (has_density) {
            const uint32_t x = rounded_density(metadata.density_x, 65535),
                           y = rounded_density(metadata.density_y, 65535);
            if (x && y) {
                patch_density_ = true;
                density_[0] = static_cast<unsigned char>(metadata.density_unit);
                put_be16(density_ + 1, x), put_be16(density_ + 3, y);
            }
        }
        const bool exif = keep_exif && metadata.exif && metadata.exif_size <= 65535 - 2 - 6;
        const size_t chunks = icc ? (metadata.icc_size + k_icc_chunk_max - 1) / k_icc_chunk_max : 0;
        if (chunks > 255) return true;  // a profile no JPEG could have carried: leave it out
        const size_t total =
            (exif ? 4 + 6 + metadata.exif_size : 0) + chunks * (4 + k_icc_header) + (icc ? metadata.icc_size : 0);
        if (!total) return true;
        insert_ = static_cast<unsigned char *>(std::malloc(total));
        if (!insert_) return false;
        appender out{insert_};
        unsigned char segment[4 + k_icc_header];
        if (exif) {
            segment[0] = 0xFF, segment[1] = 0xE1;
            put_be16(segment + 2, static_cast<uint32_t>(2 + 6 + metadata.exif_size));
            out.put(segment, 4);
            out.put(k_exif_tag, 6);
            out.put(metadata.exif, metadata.exif_size);
        }
        for (size_t i = 0; i < chunks; ++i) {
            const size_t offset = i * k_icc_chunk_max;
            const size_t n =
                metadata.icc_size - offset < k_icc_chunk_max ? metadata.icc_size - offset : k_icc_chunk_max;
            segment[0] = 0xFF, segment[1] = 0xE2;
            put_be16(segment + 2, static_cast<uint32_t>(2 + k_icc_header + n));
            std::memcpy(segment + 4, k_icc_tag, 12);
            segment[16] = static_cast<unsigned char>(i + 1), segment[17] = static_cast<unsigned char>(chunks);
            out.put(segment, sizeof segment);
            out.put(metadata.icc + offset, n);
        }
        insert_size_ = out.at;
        return true;
    }
    if (format != FMT_PNG) return true;
    head_size_ = 33;  // the signature and IHDR
    byte_buffer zlib;
    static const char profile_name[] = "ICC profile";  // with its NUL, then compression method 0
    if (icc && metadata.icc_size <= 0x7FFFFFFF &&
        !zlib_compress(metadata.icc, static_cast<int>(metadata.icc_size), zlib))
        return false;
    const size_t iccp = zlib.size() ? 12 + sizeof profile_name + 1 + zlib.size() : 0;
    uint32_t ppm_x = 0, ppm_y = 0;
    if (has_density) {
        const double per_metre = metadata.density_unit == DENSITY_PER_INCH ? 1 / 0.0254 : 100;
        ppm_x = rounded_density(metadata.density_x * per_metre, 0x7FFFFFFF);
        ppm_y = rounded_density(metadata.density_y * per_metre, 0x7FFFFFFF);
    }
    const size_t phys = ppm_x && ppm_y ? 12 + 9 : 0;
    if (!iccp && !phys) return true;
    insert_ = static_cast<unsigned char *>(std::malloc(iccp + phys));
    if (!insert_) return false;
    appender out{insert_};
    unsigned char word[4];
    if (iccp) {
        const size_t start = out.at;
        put_be32(word, static_cast<uint32_t>(iccp - 12));
        out.put(word, 4);
        out.put("iCCP", 4);
        out.put(profile_name, sizeof profile_name);
        out.put("", 1);  // compression method: zlib
        out.put(zlib.data(), zlib.size());
        put_be32(word, png_crc(0, insert_ + start + 4, out.at - start - 4));
        out.put(word, 4);
    }
    if (phys) {
        const size_t start = out.at;
        unsigned char chunk[8 + 9];
        put_be32(chunk, 9);
        std::memcpy(chunk + 4, "pHYs", 4);
        put_be32(chunk + 8, ppm_x), put_be32(chunk + 12, ppm_y);
        chunk[16] = 1;  // the unit is the metre
        out.put(chunk, sizeof chunk);
        put_be32(word, png_crc(0, insert_ + start + 4, 4 + 9));
        out.put(word, 4);
    }
    insert_size_ = out.at;
    return true;
}

void metadata_writer::release_head() {
    released_ = true;
    // The encoders write a fixed header; anything else passes unchanged.
    static const unsigned char jfif[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    static const unsigned char png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    const bool expected = held_count_ == head_size_ && (format_ == FMT_JPG ? std::memcmp(held_, jfif, sizeof jfif) == 0
                                                                           : std::memcmp(held_, png, sizeof png) == 0);
    if (expected && patch_density_) std::memcpy(held_ + 13, density_, sizeof density_);
    write_(context_, held_, held_count_);
    if (expected && insert_size_) write_(context_, insert_, insert_size_);
}

void metadata_writer::write(void *context, const void *data, size_t size) {
    auto *self = static_cast<metadata_writer *>(context);
    const auto *bytes = static_cast<const unsigned char *>(data);
    if (!self->released_) {
        const size_t take = size < self->head_size_ - self->held_count_ ? size : self->head_size_ - self->held_count_;
        std::memcpy(self->held_ + self->held_count_, bytes, take);
        self->held_count_ += take, bytes += take, size -= take;
        if (self->held_count_ < self->head_size_) return;
        self->release_head();
    }
    if (size) self->write_(self->context_, bytes, size);
}

void metadata_writer::finish() {
    if (!released_ && held_count_) write_(context_, held_, held_count_);
    released_ = true;
}

}  // namespace imgtext
