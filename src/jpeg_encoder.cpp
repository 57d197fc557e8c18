// Baseline JPEG encoding with exactly the arithmetic of stb_image_write 1.16
// at qualities above 90: the same colour conversion, the same single-precision
// AAN forward DCT (rows, then columns), the same quantisation and rounding and
// the standard Huffman tables. Speed comes from doing each step for eight
// rows or columns of a block at once (every lane computes what the reference
// computes for one of them, so the compiler's vector code gives the same
// floats as scalar code) and from a 64-bit bit writer with byte stuffing
// into a buffer, instead of one call per byte.
#include "jpeg_encoder.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace imgtext {

namespace {

const uint8_t k_zigzag[64] = {0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42,
                              3,  8,  12, 17, 25, 30, 41, 43, 9,  11, 18, 24, 31, 40, 44, 53,
                              10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38, 46, 51, 55, 60,
                              21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};

// The example tables of the JPEG standard (ITU T.81 Annex K), in row order.
const int k_luma_quant[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                              14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                              18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                              49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int k_chroma_quant[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
const uint8_t k_dc_luma_counts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const uint8_t k_dc_chroma_counts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const uint8_t k_dc_values[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const uint8_t k_ac_luma_counts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const uint8_t k_ac_luma_values[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71, 0x14,
    0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09,
    0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a,
    0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65,
    0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88,
    0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9,
    0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea,
    0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
const uint8_t k_ac_chroma_counts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const uint8_t k_ac_chroma_values[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22, 0x32,
    0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16,
    0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39,
    0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86,
    0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8,
    0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9,
    0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// AAN scale factors times sqrt(8), in single precision.
const float k_aan[8] = {1.0f * 2.828427125f,         1.387039845f * 2.828427125f, 1.306562965f * 2.828427125f,
                        1.175875602f * 2.828427125f, 1.0f * 2.828427125f,         0.785694958f * 2.828427125f,
                        0.541196100f * 2.828427125f, 0.275899379f * 2.828427125f};

struct huffman {
    uint16_t code[256];
    uint8_t length[256];
    // Canonical codes from the counts per length and the symbols in order.
    huffman(const uint8_t counts[16], const uint8_t *values) : code{}, length{} {
        int k = 0;
        uint16_t next = 0;
        for (int len = 1; len <= 16; ++len, next <<= 1)
            for (int n = 0; n < counts[len - 1]; ++n, ++k, ++next) {
                code[values[k]] = next;
                length[values[k]] = static_cast<uint8_t>(len);
            }
    }
};

// Bit writer with JPEG byte stuffing (0x00 after every 0xFF) into a buffer
// that is handed on in large pieces.
class jpeg_bits {
public:
    jpeg_bits(write_fn write, void *context) : write_(write), context_(context) {}
    ~jpeg_bits() { flush(); }
    void put(uint32_t bits, int length) {  // length <= 24
        acc_ = (acc_ << length) | bits;
        count_ += length;
        while (count_ >= 8) {
            const uint8_t byte = static_cast<uint8_t>(acc_ >> (count_ - 8));
            out_[used_++] = byte;
            if (byte == 0xFF) out_[used_++] = 0;
            count_ -= 8;
        }
        if (used_ > sizeof out_ - 16) flush();
    }
    void raw(const void *data, size_t n) {
        flush();
        write_(context_, data, n);
    }
    void flush() {
        if (used_) write_(context_, out_, used_);
        used_ = 0;
    }

private:
    write_fn write_;
    void *context_;
    uint64_t acc_ = 0;
    int count_ = 0;
    uint8_t out_[16384];
    size_t used_ = 0;
};

// One AAN forward DCT step on eight independent lanes: lane l of d[k] is
// input k of the l-th row (or column). The operations, and their order, are
// the reference's for a single row.
void dct8_lanes(float d[8][8]) {
    for (int l = 0; l < 8; ++l) {
        const float d0 = d[0][l], d1 = d[1][l], d2 = d[2][l], d3 = d[3][l];
        const float d4 = d[4][l], d5 = d[5][l], d6 = d[6][l], d7 = d[7][l];
        const float tmp0 = d0 + d7, tmp7 = d0 - d7, tmp1 = d1 + d6, tmp6 = d1 - d6;
        const float tmp2 = d2 + d5, tmp5 = d2 - d5, tmp3 = d3 + d4, tmp4 = d3 - d4;
        float tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
        d[0][l] = tmp10 + tmp11;
        d[4][l] = tmp10 - tmp11;
        const float z1 = (tmp12 + tmp13) * 0.707106781f;
        d[2][l] = tmp13 + z1;
        d[6][l] = tmp13 - z1;
        tmp10 = tmp4 + tmp5;
        tmp11 = tmp5 + tmp6;
        tmp12 = tmp6 + tmp7;
        const float z5 = (tmp10 - tmp12) * 0.382683433f;
        const float z2 = tmp10 * 0.541196100f + z5;
        const float z4 = tmp12 * 1.306562965f + z5;
        const float z3 = tmp11 * 0.707106781f;
        const float z11 = tmp7 + z3, z13 = tmp7 - z3;
        d[5][l] = z13 + z2;
        d[3][l] = z13 - z2;
        d[1][l] = z11 + z4;
        d[7][l] = z11 - z4;
    }
}

void transpose(const float in[8][8], float out[8][8]) {
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) out[c][r] = in[r][c];
}

// Magnitude category and value bits of a coefficient, as JPEG codes them.
inline void value_bits(int v, uint32_t *bits, int *length) {
    const int magnitude = v < 0 ? -v : v;
    int n = 1;
    for (int m = magnitude >> 1; m; m >>= 1) ++n;
    *length = n;
    *bits = static_cast<uint32_t>(v < 0 ? v - 1 : v) & ((1u << n) - 1);
}

struct block_coder {
    const float *scale;  // quantisation and AAN descaling, row order
    const huffman &dc, &ac;
    int previous_dc = 0;

    // block holds the samples with block[col][row] (transposed), as gathered.
    void encode(float block[8][8], jpeg_bits &out) {
        float rows_done[8][8];
        dct8_lanes(block);              // the row transforms, one row per lane
        transpose(block, rows_done);    // now rows_done[row][k]
        dct8_lanes(rows_done);          // the column transforms, one column per lane
        // Rounding half away from zero as the reference does with
        // v < 0 ? v - 0.5f : v + 0.5f, written without a branch on the
        // sign (v - 0.5f is v + -0.5f; for -0 both give 0).
        int quantised[64], du[64];
        const float *v = &rows_done[0][0];
        for (int k = 0; k < 64; ++k) {
            const float q = v[k] * scale[k];
            quantised[k] = static_cast<int>(q + std::copysign(0.5f, q));
        }
        for (int k = 0; k < 64; ++k) du[k_zigzag[k]] = quantised[k];

        const int diff = du[0] - previous_dc;
        previous_dc = du[0];
        if (diff == 0) {
            out.put(dc.code[0], dc.length[0]);
        } else {
            uint32_t bits;
            int n;
            value_bits(diff, &bits, &n);
            out.put(dc.code[n], dc.length[n]);
            out.put(bits, n);
        }
        int end = 63;
        while (end > 0 && du[end] == 0) --end;
        for (int i = 1; i <= end; ++i) {
            int zeros = 0;
            while (du[i] == 0) ++zeros, ++i;
            for (; zeros >= 16; zeros -= 16) out.put(ac.code[0xF0], ac.length[0xF0]);
            uint32_t bits;
            int n;
            value_bits(du[i], &bits, &n);
            const int symbol = (zeros << 4) + n;
            out.put(ac.code[symbol], ac.length[symbol]);
            out.put(bits, n);
        }
        if (end != 63) out.put(ac.code[0], ac.length[0]);
    }
};

}  // namespace

int encode_jpeg(const unsigned char *pixels, int width, int height, int quality, write_fn write, void *context) {
    static const huffman dc_luma(k_dc_luma_counts, k_dc_values), dc_chroma(k_dc_chroma_counts, k_dc_values);
    static const huffman ac_luma(k_ac_luma_counts, k_ac_luma_values), ac_chroma(k_ac_chroma_counts, k_ac_chroma_values);

    quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
    const int factor = quality < 50 ? 5000 / quality : 200 - quality * 2;
    uint8_t luma_table[64], chroma_table[64];
    for (int i = 0; i < 64; ++i) {
        const int y = (k_luma_quant[i] * factor + 50) / 100, uv = (k_chroma_quant[i] * factor + 50) / 100;
        luma_table[k_zigzag[i]] = static_cast<uint8_t>(y < 1 ? 1 : y > 255 ? 255 : y);
        chroma_table[k_zigzag[i]] = static_cast<uint8_t>(uv < 1 ? 1 : uv > 255 ? 255 : uv);
    }
    float luma_scale[64], chroma_scale[64];
    for (int row = 0, k = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col, ++k) {
            luma_scale[k] = 1 / (luma_table[k_zigzag[k]] * k_aan[row] * k_aan[col]);
            chroma_scale[k] = 1 / (chroma_table[k_zigzag[k]] * k_aan[row] * k_aan[col]);
        }

    jpeg_bits out(write, context);
    {
        static const uint8_t head0[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0,    1,    1,
                                        0,    0,    1,    0,    1, 0,    0,   0xFF, 0xDB, 0,   0x84, 0};
        static const uint8_t head2[] = {0xFF, 0xDA, 0, 0xC, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 0x3F, 0};
        const uint8_t head1[] = {0xFF, 0xC0, 0, 0x11, 8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                                 static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width), 3, 1, 0x11, 0, 2, 0x11, 1,
                                 3, 0x11, 1, 0xFF, 0xC4, 0x01, 0xA2, 0};
        const uint8_t one = 1, ac_luma_id = 0x10, dc_chroma_id = 1, ac_chroma_id = 0x11;
        out.raw(head0, sizeof head0);
        out.raw(luma_table, 64);
        out.raw(&one, 1);
        out.raw(chroma_table, 64);
        out.raw(head1, sizeof head1);
        out.raw(k_dc_luma_counts, 16);
        out.raw(k_dc_values, 12);
        out.raw(&ac_luma_id, 1);
        out.raw(k_ac_luma_counts, 16);
        out.raw(k_ac_luma_values, 162);
        out.raw(&dc_chroma_id, 1);
        out.raw(k_dc_chroma_counts, 16);
        out.raw(k_dc_values, 12);
        out.raw(&ac_chroma_id, 1);
        out.raw(k_ac_chroma_counts, 16);
        out.raw(k_ac_chroma_values, 162);
        out.raw(head2, sizeof head2);
    }

    block_coder luma{luma_scale, dc_luma, ac_luma}, cb{chroma_scale, dc_chroma, ac_chroma},
        cr{chroma_scale, dc_chroma, ac_chroma};
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; y += 8) {
        for (int x = 0; x < width; x += 8) {
            // Gathered transposed ([col][row]) so the row transforms run one
            // row per lane; edges repeat the last row and column.
            float Y[8][8], U[8][8], V[8][8];
            for (int row = 0; row < 8; ++row) {
                const int clamped_row = y + row < height ? y + row : height - 1;
                const unsigned char *line = pixels + stride * static_cast<size_t>(clamped_row);
                for (int col = 0; col < 8; ++col) {
                    const unsigned char *p = line + static_cast<size_t>(x + col < width ? x + col : width - 1) * 4;
                    const float r = p[0], g = p[1], b = p[2];
                    Y[col][row] = +0.29900f * r + 0.58700f * g + 0.11400f * b - 128;
                    U[col][row] = -0.16874f * r - 0.33126f * g + 0.50000f * b;
                    V[col][row] = +0.50000f * r - 0.41869f * g - 0.08131f * b;
                }
            }
            luma.encode(Y, out);
            cb.encode(U, out);
            cr.encode(V, out);
        }
    }
    out.put(0x7F, 7);  // pad the last byte with ones
    static const uint8_t end[] = {0xFF, 0xD9};
    out.raw(end, 2);
    return 1;
}

}  // namespace imgtext
