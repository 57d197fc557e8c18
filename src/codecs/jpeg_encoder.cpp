// Baseline JPEG encoding with exactly the arithmetic of stb_image_write 1.16:
// the same colour conversion, the same 2 x 2 chroma averaging at quality 90
// and below, the same single-precision AAN forward DCT (rows, then columns),
// the same quantisation and rounding and the standard Huffman tables.
//
// Speed comes from the layout, not from different arithmetic. A strip of up
// to 64 pixels by one MCU row is converted at once from contiguous pixels;
// each block's DCT runs with one row (then one column) per vector lane, so
// every lane computes, in the same order, what the reference computes for
// that row or column and vector code gives the same floats as scalar code
// (contraction is off). Coefficients are found by a bit mask rather than by
// walking zeros, and a 64-bit bit writer emits four bytes at a time when
// none of them needs stuffing. The strip's arithmetic is compiled twice, for
// the processor the build targets and for AVX2, and the second is chosen at
// run time where the processor has it; the AVX2 form keeps a block's eight
// rows in registers and transposes them there, where the compiler's form of
// the portable code goes through memory lane by lane.
#include "codecs/jpeg_encoder.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

// Not on Windows, where GCC cannot keep 32-byte vectors spilled to the
// stack aligned.
#if (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#  define IMGTEXT_JPEG_ENCODER_AVX2 1
#else
#  define IMGTEXT_JPEG_ENCODER_AVX2 0
#endif
#if IMGTEXT_JPEG_ENCODER_AVX2
#  include <immintrin.h>
#endif

namespace imgtext {

namespace {

const uint8_t k_zigzag[64] = {0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42, 3,  8,  12, 17, 25, 30,
                              41, 43, 9,  11, 18, 24, 31, 40, 44, 53, 10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38,
                              46, 51, 55, 60, 21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};

// The quantisation tables stb_image_write scales, in row order.
const int k_luma_quant[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                              14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                              18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                              49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int k_chroma_quant[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
                                99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
const uint8_t k_dc_luma_counts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const uint8_t k_dc_chroma_counts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const uint8_t k_dc_values[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const uint8_t k_ac_luma_counts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const uint8_t k_ac_luma_values[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
const uint8_t k_ac_chroma_counts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const uint8_t k_ac_chroma_values[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// AAN scale factors times sqrt(8), in single precision.
const float k_aan[8] = {1.0f * 2.828427125f,         1.387039845f * 2.828427125f, 1.306562965f * 2.828427125f,
                        1.175875602f * 2.828427125f, 1.0f * 2.828427125f,         0.785694958f * 2.828427125f,
                        0.541196100f * 2.828427125f, 0.275899379f * 2.828427125f};

// Code and length of every symbol of one table, packed as code << 8 | length.
struct huffman {
    uint32_t code[256];
    // Canonical codes from the counts per length and the symbols in order.
    huffman(const uint8_t counts[16], const uint8_t *values) : code{} {
        int k = 0;
        uint32_t next = 0;
        for (int len = 1; len <= 16; ++len, next <<= 1)
            for (int n = 0; n < counts[len - 1]; ++n, ++k, ++next)
                code[values[k]] = next << 8 | static_cast<uint32_t>(len);
    }
};

// Bit writer with JPEG byte stuffing (0x00 after every 0xFF) into a buffer
// that is handed on in large pieces. Bits wait in a 64-bit word and leave
// 32 at a time.
class jpeg_bits {
public:
    jpeg_bits(write_fn write, void *context) : write_(write), context_(context) {}
    ~jpeg_bits() { flush(); }
    // 1 <= length <= 27 (a code with its value bits). Bits gather in the
    // word until 32 wait, which leave as four bytes at once: most codes
    // only shift and add, and only a 0xFF among the four, rare, takes the
    // byte loop that stuffs it.
    void put(uint64_t bits, int length) {
        acc_ = (acc_ << length) | bits;
        count_ += length;
        if (count_ < 32) return;
        count_ -= 32;
        const auto word = static_cast<uint32_t>(acc_ >> count_);
        // A byte of the word is 0xFF exactly when the complement has a
        // zero byte (the test may also flag bytes before a real one).
        const uint32_t inverse = ~word;
        if (__builtin_expect(((inverse - 0x01010101u) & ~inverse & 0x80808080u) != 0, 0)) {
            for (int i = 0; i < 4; ++i) {
                const auto byte = static_cast<uint8_t>(word >> (24 - 8 * i));
                out_[used_++] = byte;
                if (byte == 0xFF) out_[used_++] = 0;
            }
        } else {
            const uint32_t big_endian = __builtin_bswap32(word);
            std::memcpy(out_ + used_, &big_endian, 4);
            used_ += 4;
        }
    }
    // Room for one more block (at most 64 codes of 27 bits, all stuffed,
    // and the eight bytes the last store may write).
    void reserve_block() {
        if (used_ > sizeof out_ - 512) flush();
    }
    // The reference's end: seven 1 bits, then only whole bytes are written.
    void finish() {
        put(0x7F, 7);
        while (count_ >= 8) {
            count_ -= 8;
            const uint8_t byte = static_cast<uint8_t>(acc_ >> count_);
            out_[used_++] = byte;
            if (byte == 0xFF) out_[used_++] = 0;
        }
        count_ = 0;
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

// One AAN forward DCT of eight values, with the reference's operations in
// its order. T is a float, or a vector of them holding one row (or column)
// per lane: the lanes then compute what the reference computes for each.
template <typename T>
inline __attribute__((always_inline)) void aan_dct8(T d[8], const T &c0_707, const T &c0_382, const T &c0_541,
                                                    const T &c1_306) {
    const T tmp0 = d[0] + d[7], tmp7 = d[0] - d[7], tmp1 = d[1] + d[6], tmp6 = d[1] - d[6];
    const T tmp2 = d[2] + d[5], tmp5 = d[2] - d[5], tmp3 = d[3] + d[4], tmp4 = d[3] - d[4];
    T tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    d[0] = tmp10 + tmp11;
    d[4] = tmp10 - tmp11;
    const T z1 = (tmp12 + tmp13) * c0_707;
    d[2] = tmp13 + z1;
    d[6] = tmp13 - z1;
    tmp10 = tmp4 + tmp5;
    tmp11 = tmp5 + tmp6;
    tmp12 = tmp6 + tmp7;
    const T z5 = (tmp10 - tmp12) * c0_382;
    const T z2 = tmp10 * c0_541 + z5;
    const T z4 = tmp12 * c1_306 + z5;
    const T z3 = tmp11 * c0_707;
    const T z11 = tmp7 + z3, z13 = tmp7 - z3;
    d[5] = z13 + z2;
    d[3] = z13 - z2;
    d[1] = z11 + z4;
    d[7] = z11 - z4;
}

// The same DCT on eight independent lanes: lane l of d[k] is input k of
// the l-th row (or column).
inline void dct8_lanes(float d[8][8]) {
    const float c0_707 = 0.707106781f, c0_382 = 0.382683433f, c0_541 = 0.541196100f, c1_306 = 1.306562965f;
    for (int l = 0; l < 8; ++l) {
        float v[8] = {d[0][l], d[1][l], d[2][l], d[3][l], d[4][l], d[5][l], d[6][l], d[7][l]};
        aan_dct8(v, c0_707, c0_382, c0_541, c1_306);
        for (int k = 0; k < 8; ++k) d[k][l] = v[k];
    }
}

constexpr int k_strip = 64;  // pixels across one strip: 8 blocks, or 4 subsampled MCUs

// One strip's samples, as floats in natural layout.
struct strip {
    float y[16][k_strip], u[16][k_strip], v[16][k_strip];
    float su[8][k_strip / 2], sv[8][k_strip / 2];  // averaged chroma when subsampling
};

// Converts rows [y0, y0 + rows) and columns [x0, x0 + columns) of the picture
// (edges repeating the last row and column) to Y, Cb and Cr.
inline void convert_strip(const unsigned char *pixels, size_t stride, int width, int height, int x0, int y0, int rows,
                          int columns, strip &s) {
    const int inside = width - x0 < columns ? width - x0 : columns;
    for (int r = 0; r < rows; ++r) {
        const int row = y0 + r < height ? y0 + r : height - 1;
        const unsigned char *p = pixels + stride * static_cast<size_t>(row) + static_cast<size_t>(x0) * 4;
        float *__restrict ys = s.y[r];
        float *__restrict us = s.u[r];
        float *__restrict vs = s.v[r];
        for (int c = 0; c < inside; ++c) {
            // A pixel as one little-endian word keeps the loads contiguous,
            // which lets the compiler convert eight pixels per instruction.
            uint32_t word;
            std::memcpy(&word, p + c * 4, 4);
            const float red = static_cast<float>(static_cast<int>(word & 0xFF));
            const float green = static_cast<float>(static_cast<int>((word >> 8) & 0xFF));
            const float blue = static_cast<float>(static_cast<int>((word >> 16) & 0xFF));
            ys[c] = +0.29900f * red + 0.58700f * green + 0.11400f * blue - 128;
            us[c] = -0.16874f * red - 0.33126f * green + 0.50000f * blue;
            vs[c] = +0.50000f * red - 0.41869f * green - 0.08131f * blue;
        }
        for (int c = inside; c < columns; ++c) ys[c] = ys[inside - 1], us[c] = us[inside - 1], vs[c] = vs[inside - 1];
    }
}

// The reference's 2 x 2 average of the full-resolution chroma.
inline void subsample_strip(int columns, strip &s) {
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < columns / 2; ++c) {
            s.su[r][c] =
                (s.u[2 * r][2 * c] + s.u[2 * r][2 * c + 1] + s.u[2 * r + 1][2 * c] + s.u[2 * r + 1][2 * c + 1]) * 0.25f;
            s.sv[r][c] =
                (s.v[2 * r][2 * c] + s.v[2 * r][2 * c + 1] + s.v[2 * r + 1][2 * c] + s.v[2 * r + 1][2 * c + 1]) * 0.25f;
        }
}

// DCT, quantisation and rounding of the 8 x 8 block at `in` (row stride
// `pitch` floats); the result stays in row order (the coder reads it in
// zigzag order).
inline void transform_block(const float *in, int pitch, const float *scale, int16_t out[64]) {
    float t[8][8], u[8][8];
    for (int r = 0; r < 8; ++r)
        for (int k = 0; k < 8; ++k) t[k][r] = in[r * pitch + k];
    dct8_lanes(t);  // the row transforms, one row per lane
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) u[r][c] = t[c][r];
    dct8_lanes(u);  // the column transforms, one column per lane
    // Rounding half away from zero as the reference does with
    // v < 0 ? v - 0.5f : v + 0.5f, written without a branch on the
    // sign (v - 0.5f is v + -0.5f; for -0 both give 0).
    const float *v = &u[0][0];
    for (int k = 0; k < 64; ++k) {
        const float q = v[k] * scale[k];
        out[k] = static_cast<int16_t>(static_cast<int>(q + std::copysign(0.5f, q)));
    }
}

#if IMGTEXT_JPEG_ENCODER_AVX2
#  define IMGTEXT_AVX2_INLINE inline __attribute__((target("avx2")))

// Rows of eight floats become columns.
IMGTEXT_AVX2_INLINE void transpose8x8(__m256 r[8]) {
    __m256 t[8], s[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_ps(r[i], r[i + 1]);  // per half: r[i][0], r[i+1][0], r[i][1], r[i+1][1]
        t[i + 1] = _mm256_unpackhi_ps(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4)
        for (int j = 0; j < 2; ++j) {  // per half: columns 2j and 2j + 1 of four rows
            s[i + 2 * j] = _mm256_shuffle_ps(t[i + j], t[i + j + 2], _MM_SHUFFLE(1, 0, 1, 0));
            s[i + 2 * j + 1] = _mm256_shuffle_ps(t[i + j], t[i + j + 2], _MM_SHUFFLE(3, 2, 3, 2));
        }
    for (int c = 0; c < 4; ++c) {
        r[c] = _mm256_permute2f128_ps(s[c], s[c + 4], 0x20);
        r[c + 4] = _mm256_permute2f128_ps(s[c], s[c + 4], 0x31);
    }
}

// transform_block with the rows in registers: the same operations on the
// same lanes, and the same rounding (the results fit 16 bits, so packing
// with saturation keeps them as they are).
IMGTEXT_AVX2_INLINE void transform_block_avx2(const float *in, int pitch, const float *scale, int16_t out[64]) {
    const __m256 c0_707 = _mm256_set1_ps(0.707106781f), c0_382 = _mm256_set1_ps(0.382683433f);
    const __m256 c0_541 = _mm256_set1_ps(0.541196100f), c1_306 = _mm256_set1_ps(1.306562965f);
    __m256 r[8];
    for (int i = 0; i < 8; ++i) r[i] = _mm256_loadu_ps(in + i * pitch);
    transpose8x8(r);
    aan_dct8(r, c0_707, c0_382, c0_541, c1_306);  // the row transforms, one row per lane
    transpose8x8(r);
    aan_dct8(r, c0_707, c0_382, c0_541, c1_306);  // the column transforms, one column per lane
    const __m256 sign = _mm256_set1_ps(-0.0f), half = _mm256_set1_ps(0.5f);
    for (int i = 0; i < 8; i += 2) {
        __m256i v[2];
        for (int j = 0; j < 2; ++j) {
            const __m256 q = _mm256_mul_ps(r[i + j], _mm256_loadu_ps(scale + (i + j) * 8));
            v[j] = _mm256_cvttps_epi32(_mm256_add_ps(q, _mm256_or_ps(_mm256_and_ps(q, sign), half)));
        }
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(v[0], v[1]), _MM_SHUFFLE(3, 1, 2, 0));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i * 8), packed);
    }
}
#endif

struct strip_job {
    const unsigned char *pixels;
    size_t stride;
    int width, height, x0, y0, columns;
    bool subsample;
    const float *luma_scale, *chroma_scale;
    // Blocks in the order they are coded: per MCU the luma blocks, then Cb, Cr.
    int16_t (*blocks)[64];
};

using block_fn = void (*)(const float *, int, const float *, int16_t *);

// Everything between pixels and coefficients for one strip.
template <block_fn transform_block>
inline __attribute__((always_inline)) void transform_strip_body(const strip_job &job) {
    strip s;
    int16_t(*out)[64] = job.blocks;
    if (!job.subsample) {
        convert_strip(job.pixels, job.stride, job.width, job.height, job.x0, job.y0, 8, job.columns, s);
        for (int b = 0; b < job.columns / 8; ++b) {
            transform_block(&s.y[0][b * 8], k_strip, job.luma_scale, *out++);
            transform_block(&s.u[0][b * 8], k_strip, job.chroma_scale, *out++);
            transform_block(&s.v[0][b * 8], k_strip, job.chroma_scale, *out++);
        }
    } else {
        convert_strip(job.pixels, job.stride, job.width, job.height, job.x0, job.y0, 16, job.columns, s);
        subsample_strip(job.columns, s);
        for (int m = 0; m < job.columns / 16; ++m) {
            transform_block(&s.y[0][m * 16], k_strip, job.luma_scale, *out++);
            transform_block(&s.y[0][m * 16 + 8], k_strip, job.luma_scale, *out++);
            transform_block(&s.y[8][m * 16], k_strip, job.luma_scale, *out++);
            transform_block(&s.y[8][m * 16 + 8], k_strip, job.luma_scale, *out++);
            transform_block(&s.su[0][m * 8], k_strip / 2, job.chroma_scale, *out++);
            transform_block(&s.sv[0][m * 8], k_strip / 2, job.chroma_scale, *out++);
        }
    }
}

void transform_strip_portable(const strip_job &job) { transform_strip_body<transform_block>(job); }

#if IMGTEXT_JPEG_ENCODER_AVX2
__attribute__((target("avx2"))) void transform_strip_avx2(const strip_job &job) {
    transform_strip_body<transform_block_avx2>(job);
}

bool processor_has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

using strip_fn = void (*)(const strip_job &);

strip_fn choose_strip_kernel(jpeg_kernel kernel) {
#if IMGTEXT_JPEG_ENCODER_AVX2
    static const bool avx2 = processor_has_avx2();
    if (kernel == jpeg_kernel::automatic && avx2) return transform_strip_avx2;
#else
    (void)kernel;
#endif
    return transform_strip_portable;
}

// Magnitude category of a coefficient and its value bits, as one code.
inline uint32_t magnitude_category(int v) {
    const uint32_t magnitude = static_cast<uint32_t>(v < 0 ? -v : v);
    return magnitude ? 32 - static_cast<uint32_t>(__builtin_clz(magnitude)) : 0;
}

// Where the coder finds things: the row-order index of each zigzag position,
// and for each byte of a row-order bit mask the same bits at their zigzag
// positions.
struct zigzag_maps {
    uint8_t natural[64];
    uint64_t bits[8][256];
    zigzag_maps() : natural{}, bits{} {
        for (int k = 0; k < 64; ++k) natural[k_zigzag[k]] = static_cast<uint8_t>(k);
        for (int byte = 0; byte < 8; ++byte)
            for (int v = 0; v < 256; ++v)
                for (int b = 0; b < 8; ++b)
                    if (v >> b & 1) bits[byte][v] |= uint64_t{1} << k_zigzag[byte * 8 + b];
    }
};

// Bit k set where coefficient k (row order) is not zero.
inline uint64_t nonzero_mask(const int16_t c[64]) {
#if defined(__SSE2__)
    uint64_t mask = 0;
    for (int k = 0; k < 64; k += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + k + 8));
        const __m128i zero = _mm_cmpeq_epi8(_mm_packs_epi16(a, b), _mm_setzero_si128());
        mask |= static_cast<uint64_t>(~_mm_movemask_epi8(zero) & 0xFFFF) << k;
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) mask |= static_cast<uint64_t>(c[k] != 0) << k;
    return mask;
#endif
}

struct block_coder {
    const huffman &dc, &ac;
    int previous_dc = 0;

    // c holds the quantised coefficients in row order.
    void encode(const int16_t c[64], jpeg_bits &out) {
        static const zigzag_maps maps;
        const int diff = c[0] - previous_dc;
        previous_dc = c[0];
        {
            const uint32_t n = magnitude_category(diff);
            const uint32_t code = dc.code[n];
            const uint32_t bits = static_cast<uint32_t>(diff < 0 ? diff - 1 : diff) & ((1u << n) - 1);
            out.put(static_cast<uint64_t>(code >> 8) << n | bits, static_cast<int>((code & 0xFF) + n));
        }
        const uint64_t natural = nonzero_mask(c) & ~uint64_t{1};
        uint64_t nonzero = 0;
        for (int byte = 0; byte < 8; ++byte) nonzero |= maps.bits[byte][(natural >> (byte * 8)) & 0xFF];
        int last = 0;
        while (nonzero) {
            const int i = __builtin_ctzll(nonzero);
            nonzero &= nonzero - 1;
            int zeros = i - last - 1;
            last = i;
            for (; zeros >= 16; zeros -= 16) out.put(ac.code[0xF0] >> 8, static_cast<int>(ac.code[0xF0] & 0xFF));
            const int v = c[maps.natural[i]];
            const uint32_t n = magnitude_category(v);
            const uint32_t code = ac.code[(zeros << 4) + static_cast<int>(n)];
            const uint32_t bits = static_cast<uint32_t>(v < 0 ? v - 1 : v) & ((1u << n) - 1);
            out.put(static_cast<uint64_t>(code >> 8) << n | bits, static_cast<int>((code & 0xFF) + n));
        }
        if (last != 63) out.put(ac.code[0] >> 8, static_cast<int>(ac.code[0] & 0xFF));
    }
};

}  // namespace

namespace {

// The standard tables' codes, made once.
struct huffman_tables {
    huffman dc_luma{k_dc_luma_counts, k_dc_values}, dc_chroma{k_dc_chroma_counts, k_dc_values};
    huffman ac_luma{k_ac_luma_counts, k_ac_luma_values}, ac_chroma{k_ac_chroma_counts, k_ac_chroma_values};
};
const huffman_tables &tables() {
    static const huffman_tables made;
    return made;
}

}  // namespace

// Everything an encoding carries from one MCU row to the next: the tables,
// the bit writer and each component's last DC.
struct jpeg_row_encoder::state {
    state(int w, int h, int quality, write_fn write, void *context, jpeg_kernel kernel)
        : width(w),
          height(h),
          subsample(quality <= 90),
          mcu(subsample ? 16 : 8),
          padded_width((w + mcu - 1) / mcu * mcu),
          transform(choose_strip_kernel(kernel)),
          out(write, context) {}
    int width, height;
    bool subsample;
    int mcu, padded_width;
    strip_fn transform;
    float luma_scale[64], chroma_scale[64];
    jpeg_bits out;
    block_coder luma{tables().dc_luma, tables().ac_luma}, cb{tables().dc_chroma, tables().ac_chroma},
        cr{tables().dc_chroma, tables().ac_chroma};
    int next_row = 0;
    alignas(64) int16_t blocks[24][64];  // one strip: 8 MCUs of 3 blocks, or 4 of 6

    void write_headers(const uint8_t luma_table[64], const uint8_t chroma_table[64]);
    void encode_mcu_row(const unsigned char *rows, size_t stride, int available);
};

void jpeg_row_encoder::state::write_headers(const uint8_t luma_table[64], const uint8_t chroma_table[64]) {
    static const uint8_t head0[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F',  'I',  'F', 0,    1, 1,
                                    0,    0,    1,    0,    1, 0,    0,   0xFF, 0xDB, 0,   0x84, 0};
    static const uint8_t head2[] = {0xFF, 0xDA, 0, 0xC, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 0x3F, 0};
    const uint8_t head1[] = {0xFF,
                             0xC0,
                             0,
                             0x11,
                             8,
                             static_cast<uint8_t>(height >> 8),
                             static_cast<uint8_t>(height),
                             static_cast<uint8_t>(width >> 8),
                             static_cast<uint8_t>(width),
                             3,
                             1,
                             static_cast<uint8_t>(subsample ? 0x22 : 0x11),
                             0,
                             2,
                             0x11,
                             1,
                             3,
                             0x11,
                             1,
                             0xFF,
                             0xC4,
                             0x01,
                             0xA2,
                             0};
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

// `rows` is the MCU row's first pixel row; `available` of its rows exist
// (fewer than mcu at the bottom, whose last row then repeats).
void jpeg_row_encoder::state::encode_mcu_row(const unsigned char *rows, size_t stride, int available) {
    for (int x = 0; x < padded_width; x += k_strip) {
        const int columns = padded_width - x < k_strip ? padded_width - x : k_strip;
        const strip_job job{rows, stride, width, available, x, 0, columns, subsample, luma_scale, chroma_scale, blocks};
        transform(job);
        const int16_t(*block)[64] = blocks;
        for (int m = 0; m < columns / mcu; ++m) {
            out.reserve_block();
            if (subsample) {
                for (int i = 0; i < 4; ++i) {
                    luma.encode(*block++, out);
                    out.reserve_block();
                }
            } else {
                luma.encode(*block++, out);
                out.reserve_block();
            }
            cb.encode(*block++, out);
            out.reserve_block();
            cr.encode(*block++, out);
        }
    }
}

jpeg_row_encoder::jpeg_row_encoder(int width, int height, int quality, write_fn write, void *context,
                                   jpeg_kernel kernel) {
    quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
    s_ = new (std::nothrow) state(width, height, quality, write, context, kernel);
    if (!s_) return;
    const int factor = quality < 50 ? 5000 / quality : 200 - quality * 2;
    uint8_t luma_table[64], chroma_table[64];
    for (int i = 0; i < 64; ++i) {
        const int y = (k_luma_quant[i] * factor + 50) / 100, uv = (k_chroma_quant[i] * factor + 50) / 100;
        luma_table[k_zigzag[i]] = static_cast<uint8_t>(y < 1 ? 1 : y > 255 ? 255 : y);
        chroma_table[k_zigzag[i]] = static_cast<uint8_t>(uv < 1 ? 1 : uv > 255 ? 255 : uv);
    }
    for (int row = 0, k = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col, ++k) {
            s_->luma_scale[k] = 1 / (luma_table[k_zigzag[k]] * k_aan[row] * k_aan[col]);
            s_->chroma_scale[k] = 1 / (chroma_table[k_zigzag[k]] * k_aan[row] * k_aan[col]);
        }
    s_->write_headers(luma_table, chroma_table);
}

jpeg_row_encoder::~jpeg_row_encoder() { delete s_; }

int jpeg_row_encoder::mcu_rows() const { return s_ ? s_->mcu : 16; }

void jpeg_row_encoder::add(const unsigned char *rows, size_t stride) {
    if (!s_ || s_->next_row >= s_->height) return;
    const int left = s_->height - s_->next_row;
    s_->encode_mcu_row(rows, stride, left < s_->mcu ? left : s_->mcu);
    s_->next_row += s_->mcu;
}

void jpeg_row_encoder::finish() {
    if (!s_) return;
    s_->out.finish();
    static const uint8_t end[] = {0xFF, 0xD9};
    s_->out.raw(end, 2);
}

int encode_jpeg(const unsigned char *pixels, int width, int height, size_t stride, int quality, write_fn write,
                void *context, jpeg_kernel kernel) {
    jpeg_row_encoder encoder(width, height, quality, write, context, kernel);
    if (!encoder.ready()) return 0;
    const int mcu = encoder.mcu_rows();
    for (int y = 0; y < height; y += mcu) encoder.add(pixels + stride * static_cast<size_t>(y), stride);
    encoder.finish();
    return 1;
}

}  // namespace imgtext
