// PNG encoding that makes exactly the decisions stb_image_write 1.16 makes:
// the same filter per row (least sum of |signed byte|, ties to the lower
// type) and the same deflate stream (png_deflate.cpp). Filters are summed in
// one pass without building rejected rows, CRCs eight bytes a step, and the
// file is handed out without a final copy.
#include "codecs/png_encoder.h"

#include "codecs/png_deflate.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace imgtext {

namespace {

// ---------------------------------------------------------------- filters

inline int magnitude(int filtered_byte) { return std::abs(static_cast<int>(static_cast<int8_t>(filtered_byte))); }

// The byte Paeth-filtered against left a, up b and up-left c, branch-free so
// that the row loops vectorise.
inline uint8_t paeth_filtered(int x, int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    const int predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
    return static_cast<uint8_t>(x - predictor);
}

// The first row is filtered against a row of zeros: that makes Up the same
// as None, Average use only the left byte and Paeth become Sub, which is
// exactly how the reference treats the row with nothing above it.

// Writes the row filtered with `type` (as the reference encoder numbers them).
void write_filtered(int type, const uint8_t *z, const uint8_t *up, size_t n, uint8_t *out) {
    const size_t first = n < 4 ? n : 4;  // the first pixel has no left neighbour
    switch (type) {
        case 0: std::memcpy(out, z, n); break;
        case 1:
            for (size_t i = 0; i < first; ++i) out[i] = z[i];
            for (size_t i = 4; i < n; ++i) out[i] = static_cast<uint8_t>(z[i] - z[i - 4]);
            break;
        case 2:
            for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(z[i] - up[i]);
            break;
        case 3:
            for (size_t i = 0; i < first; ++i) out[i] = static_cast<uint8_t>(z[i] - (up[i] >> 1));
            for (size_t i = 4; i < n; ++i) out[i] = static_cast<uint8_t>(z[i] - ((z[i - 4] + up[i]) >> 1));
            break;
        default:
            for (size_t i = 0; i < first; ++i) out[i] = paeth_filtered(z[i], 0, up[i], 0);
            for (size_t i = 4; i < n; ++i) out[i] = paeth_filtered(z[i], z[i - 4], up[i], up[i - 4]);
            break;
    }
}

// The five candidates' sums of |filtered byte as signed|, in one pass that
// writes nothing. Sums run in 32 bits over stretches short enough not to
// overflow (at most 128 a byte), so the loop vectorises widely.
void candidate_sums(const uint8_t *z, const uint8_t *up, size_t n, int64_t sums[5]) {
    const size_t first = n < 4 ? n : 4;  // the first pixel has no left neighbour
    for (int t = 0; t < 5; ++t) sums[t] = 0;
    for (size_t i = 0; i < first; ++i) {
        sums[0] += magnitude(z[i]), sums[1] += magnitude(z[i]), sums[2] += magnitude(z[i] - up[i]);
        sums[3] += magnitude(z[i] - (up[i] >> 1)), sums[4] += magnitude(paeth_filtered(z[i], 0, up[i], 0));
    }
    constexpr size_t stretch = size_t{1} << 23;
    for (size_t start = 4; start < n; start += stretch) {
        const size_t end = n - start > stretch ? start + stretch : n;
        int32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0;
        for (size_t i = start; i < end; ++i) {
            const int x = z[i], a = z[i - 4], b = up[i], c = up[i - 4];
            s0 += magnitude(x), s1 += magnitude(x - a), s2 += magnitude(x - b);
            s3 += magnitude(x - ((a + b) >> 1)), s4 += magnitude(paeth_filtered(x, a, b, c));
        }
        sums[0] += s0, sums[1] += s1, sums[2] += s2, sums[3] += s3, sums[4] += s4;
    }
}

// Chooses the row's filter by the least sum, ties to the lower type, and
// writes the filter byte and the filtered row.
void filter_row(const uint8_t *z, const uint8_t *up, size_t n, uint8_t *out) {
    int64_t sums[5];
    candidate_sums(z, up, n, sums);
    int best = 0;
    for (int type = 1; type < 5; ++type)
        if (sums[type] < sums[best]) best = type;
    out[0] = static_cast<uint8_t>(best);
    write_filtered(best, z, up, n, out + 1);
}

// ---------------------------------------------------------------- chunks

struct crc_table {
    uint32_t entry[8][256];
    crc_table() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[0][n] = c;
        }
        for (int t = 1; t < 8; ++t)
            for (uint32_t n = 0; n < 256; ++n) entry[t][n] = (entry[t - 1][n] >> 8) ^ entry[0][entry[t - 1][n] & 0xFF];
    }
};

// CRC-32 continued over more bytes, eight at a time.
uint32_t crc_update(uint32_t crc, const uint8_t *p, size_t n) {
    static const crc_table t;
    crc = ~crc;
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t lo = crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
        crc = t.entry[7][lo & 0xFF] ^ t.entry[6][(lo >> 8) & 0xFF] ^ t.entry[5][(lo >> 16) & 0xFF] ^
              t.entry[4][lo >> 24] ^ t.entry[3][p[4]] ^ t.entry[2][p[5]] ^ t.entry[1][p[6]] ^ t.entry[0][p[7]];
    }
    while (n--) crc = t.entry[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put_be32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24), p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8), p[3] = static_cast<uint8_t>(v);
}

}  // namespace

uint32_t png_crc(uint32_t crc, const uint8_t *data, size_t size) { return crc_update(crc, data, size); }

int encode_png(const unsigned char *pixels, int width, int height, write_fn write, void *context, match_search search) {
    const size_t row = static_cast<size_t>(width) * 4;
    const size_t filtered_size = (row + 1) * static_cast<size_t>(height);
    auto *filt = static_cast<uint8_t *>(std::malloc(filtered_size + row));
    if (!filt) return 0;
    uint8_t *zero_row = filt + filtered_size;  // what the first row is filtered against
    std::memset(zero_row, 0, row);
    for (int y = 0; y < height; ++y) {
        const uint8_t *z = pixels + row * static_cast<size_t>(y);
        filter_row(z, y ? z - row : zero_row, row, filt + (row + 1) * static_cast<size_t>(y));
    }
    byte_buffer zlib;
    const bool ok = zlib_compress(filt, static_cast<int>(filtered_size), zlib, search);
    std::free(filt);
    if (!ok) return 0;

    uint8_t head[8 + 25 + 8];
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::memcpy(head, signature, 8);
    put_be32(head + 8, 13);
    std::memcpy(head + 12, "IHDR", 4);
    put_be32(head + 16, static_cast<uint32_t>(width));
    put_be32(head + 20, static_cast<uint32_t>(height));
    const uint8_t ihdr_tail[5] = {8, 6, 0, 0, 0};  // 8-bit RGBA, no interlace
    std::memcpy(head + 24, ihdr_tail, 5);
    put_be32(head + 29, crc_update(0, head + 12, 17));
    put_be32(head + 33, static_cast<uint32_t>(zlib.size()));
    std::memcpy(head + 37, "IDAT", 4);
    write(context, head, sizeof head);
    write(context, zlib.data(), zlib.size());

    uint8_t tail[4 + 12];
    put_be32(tail, crc_update(crc_update(0, reinterpret_cast<const uint8_t *>("IDAT"), 4), zlib.data(), zlib.size()));
    put_be32(tail + 4, 0);
    std::memcpy(tail + 8, "IEND", 4);
    put_be32(tail + 12, crc_update(0, reinterpret_cast<const uint8_t *>("IEND"), 4));
    write(context, tail, sizeof tail);
    return 1;
}

}  // namespace imgtext
