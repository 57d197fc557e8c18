// The JPEG decoder's portable and SSE2 kernels (IDCT, upsampling, colour conversion), and the choice of form.
#include "codecs/jpeg/kernels.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codecs/jpeg/idct_queue.h"

namespace imgtext::jpeg {

namespace {

inline int16_t wrap16(int32_t v) { return static_cast<int16_t>(v); }
inline int16_t saturate16(int32_t v) { return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }
inline int32_t add32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t sub32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// One pass of the x86 reference IDCT on one lane: sums of two inputs wrap
// at 16 bits, products and their sums are 32-bit, results saturate to 16.
inline void idct_pass_lane(const int16_t in[8], int16_t out[8], int32_t bias, int shift) {
    const int32_t t2e = in[2] * k_rot0_0a + in[6] * k_rot0_0b;
    const int32_t t3e = in[2] * k_rot0_1a + in[6] * k_rot0_1b;
    const int32_t t0e = wrap16(in[0] + in[4]) * 4096, t1e = wrap16(in[0] - in[4]) * 4096;
    const int32_t x0 = add32(t0e, t3e), x3 = sub32(t0e, t3e), x1 = add32(t1e, t2e), x2 = sub32(t1e, t2e);
    const int32_t y0o = in[7] * k_rot2_0a + in[3] * k_rot2_0b, y2o = in[7] * k_rot2_1a + in[3] * k_rot2_1b;
    const int32_t y1o = in[5] * k_rot3_0a + in[1] * k_rot3_0b, y3o = in[5] * k_rot3_1a + in[1] * k_rot3_1b;
    const int32_t s17 = wrap16(in[1] + in[7]), s35 = wrap16(in[3] + in[5]);
    const int32_t y4o = s17 * k_rot1_0a + s35 * k_rot1_0b, y5o = s17 * k_rot1_1a + s35 * k_rot1_1b;
    const int32_t x4 = add32(y0o, y4o), x5 = add32(y1o, y5o), x6 = add32(y2o, y5o), x7 = add32(y3o, y4o);
    const int32_t b0 = add32(x0, bias), b1 = add32(x1, bias), b2 = add32(x2, bias), b3 = add32(x3, bias);
    out[0] = saturate16(add32(b0, x7) >> shift);
    out[7] = saturate16(sub32(b0, x7) >> shift);
    out[1] = saturate16(add32(b1, x6) >> shift);
    out[6] = saturate16(sub32(b1, x6) >> shift);
    out[2] = saturate16(add32(b2, x5) >> shift);
    out[5] = saturate16(sub32(b2, x5) >> shift);
    out[3] = saturate16(add32(b3, x4) >> shift);
    out[4] = saturate16(sub32(b3, x4) >> shift);
}

// Each takes the block's values and their dequantisation factors: the
// products are taken to 16 bits, as the reference's are.
void idct_portable(uint8_t *out, int stride, const int16_t data[64], const uint16_t dq[64]) {
    int16_t columns[8][8];  // [column][output row]
    for (int c = 0; c < 8; ++c) {
        int16_t in[8];
        for (int r = 0; r < 8; ++r) in[r] = static_cast<int16_t>(data[r * 8 + c] * dq[r * 8 + c]);
        idct_pass_lane(in, columns[c], k_pass1_bias, 10);
    }
    for (int r = 0; r < 8; ++r) {
        int16_t in[8], o[8];
        for (int c = 0; c < 8; ++c) in[c] = columns[c][r];
        idct_pass_lane(in, o, k_pass2_bias, 17);
        for (int c = 0; c < 8; ++c) out[r * stride + c] = static_cast<uint8_t>(o[c] < 0 ? 0 : o[c] > 255 ? 255 : o[c]);
    }
}

// The same IDCT of a block whose only value is its DC (dc, dequantised):
// every pass gives each lane the same value, so every pixel is this one.
uint8_t idct_flat_value(int dc) {
    const int first = saturate16((dc * 4096 + k_pass1_bias) >> 10);
    const int second = saturate16((first * 4096 + k_pass2_bias) >> 17);
    return static_cast<uint8_t>(second < 0 ? 0 : second > 255 ? 255 : second);
}

#if IMGTEXT_JPEG_X86
void idct_sse2(uint8_t *out, int stride, const int16_t data[64], const uint16_t dq[64]) {
    using V = __m128i;
    V r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const V *>(data + i * 8)),
                               _mm_loadu_si128(reinterpret_cast<const V *>(dq + i * 8)));
    idct_pass_vec<V, sse2_ops>(r, sse2_ops::set32(k_pass1_bias), 10);
    transpose16<V, sse2_ops>(r);
    idct_pass_vec<V, sse2_ops>(r, sse2_ops::set32(k_pass2_bias), 17);
    // r[x] holds output column x for the eight rows: pack to bytes and
    // transpose back to rows.
    transpose16<V, sse2_ops>(r);
    for (int i = 0; i < 8; i += 2) {
        const V bytes = _mm_packus_epi16(r[i], r[i + 1]);
        _mm_storel_epi64(reinterpret_cast<V *>(out + i * stride), bytes);
        _mm_storel_epi64(reinterpret_cast<V *>(out + (i + 1) * stride), _mm_unpackhi_epi64(bytes, bytes));
    }
}
#endif

#if IMGTEXT_JPEG_AVX2
bool processor_has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

// One job, in the form the queue's mode names.
void run_one(const idct_queue::job &j, int mode) {
    if (j.dc_only) {
        const uint8_t value = idct_flat_value(j.data[0] * j.dq[0]);
        for (int r = 0; r < 8; ++r) std::memset(j.out + static_cast<std::ptrdiff_t>(r) * j.stride, value, 8);
        return;
    }
#if IMGTEXT_JPEG_X86
    if (mode > 0) {
        idct_sse2(j.out, j.stride, j.data, j.dq);
        return;
    }
#endif
    idct_portable(j.out, j.stride, j.data, j.dq);
}

}  // namespace

idct_queue::idct_queue(jpeg_decode_kernel kernel) {
#if IMGTEXT_JPEG_AVX2
    static const bool avx2 = processor_has_avx2();
    mode_ = kernel == jpeg_decode_kernel::portable ? 0 : kernel == jpeg_decode_kernel::sse2 || !avx2 ? 1 : 2;
#elif IMGTEXT_JPEG_X86
    mode_ = kernel == jpeg_decode_kernel::portable ? 0 : 1;
#else
    (void)kernel;
#endif
}

void idct_queue::run_next() {
    const job &a = jobs_[first_];
    int done = 1;
#if IMGTEXT_JPEG_AVX2
    const job &b = jobs_[(first_ + 1) & 3];
    if (mode_ == 2 && count_ >= 2 && !a.dc_only && !b.dc_only) {
        jpeg_idct_pair_avx2(a.out, a.stride, a.data, a.dq, b.out, b.stride, b.data, b.dq);
        done = 2;
    } else
#endif
        run_one(a, mode_);
    first_ = (first_ + done) & 3;
    count_ -= done;
}

// The reference's upsampling filters: the result row, which for a factor
// of 1 is the input row itself.
const uint8_t *resample_row(uint8_t *out, const uint8_t *near, const uint8_t *far, int w, int hs, int vs, int level) {
    if (hs == 1 && vs == 1) return near;
    if (hs == 1) {  // vertical only
        for (int i = 0; i < w; ++i) out[i] = static_cast<uint8_t>((3 * near[i] + far[i] + 2) >> 2);
        return out;
    }
    if (vs == 1) {  // horizontal only
        if (w == 1) {
            out[0] = out[1] = near[0];
            return out;
        }
        out[0] = near[0];
        out[1] = static_cast<uint8_t>((near[0] * 3 + near[1] + 2) >> 2);
        int i = 1;
        for (; i < w - 1; ++i) {
            const int n = 3 * near[i] + 2;
            out[i * 2] = static_cast<uint8_t>((n + near[i - 1]) >> 2);
            out[i * 2 + 1] = static_cast<uint8_t>((n + near[i + 1]) >> 2);
        }
        out[i * 2] = static_cast<uint8_t>((near[w - 2] * 3 + near[w - 1] + 2) >> 2);
        out[i * 2 + 1] = near[w - 1];
        return out;
    }
    // both
    if (w == 1) {
        out[0] = out[1] = static_cast<uint8_t>((3 * near[0] + far[0] + 2) >> 2);
        return out;
    }
#if IMGTEXT_JPEG_AVX2
    if (level == 2) {
        jpeg_upsample_hv2_avx2(out, near, far, w);
        return out;
    }
#endif
#if IMGTEXT_JPEG_X86
    if (level >= 1) {
        upsample_hv2_sse2(out, near, far, w);
        return out;
    }
#endif
    (void)level;
    int t1 = 3 * near[0] + far[0];
    out[0] = static_cast<uint8_t>((t1 + 2) >> 2);
    for (int i = 1; i < w; ++i) {
        const int t0 = t1;
        t1 = 3 * near[i] + far[i];
        out[i * 2 - 1] = static_cast<uint8_t>((3 * t0 + t1 + 8) >> 4);
        out[i * 2] = static_cast<uint8_t>((3 * t1 + t0 + 8) >> 4);
    }
    out[w * 2 - 1] = static_cast<uint8_t>((t1 + 2) >> 2);
    return out;
}

// The reference's fixed-point YCbCr to RGB (its SSE2 form computes the
// same values), alpha 255; `level` 1 and 2 take the SSE2 and AVX2 forms for
// as many pixels as they can.
void ycbcr_to_rgba(uint8_t *__restrict out, const uint8_t *__restrict y, const uint8_t *__restrict cb,
                   const uint8_t *__restrict cr, int count, int level) {
    int done = 0;
#if IMGTEXT_JPEG_AVX2
    if (level == 2) {
        jpeg_ycbcr_to_rgba_avx2(out, y, cb, cr, count);
        done = count & ~7;
    }
#endif
#if IMGTEXT_JPEG_X86
    if (level >= 1)
        for (; done + 8 <= count; done += 8) ycbcr8_sse2(out + done * 4, y + done, cb + done, cr + done);
#endif
    (void)level;
    for (int i = done; i < count; ++i) {
        const int y_fixed = (y[i] << 20) + (1 << 19);
        const int crv = cr[i] - 128, cbv = cb[i] - 128;
        int r = y_fixed + crv * (5743 << 8);
        int g =
            y_fixed + crv * -(2925 << 8) + static_cast<int>(static_cast<uint32_t>(cbv * -(1410 << 8)) & 0xffff0000u);
        int b = y_fixed + cbv * (7258 << 8);
        r >>= 20, g >>= 20, b >>= 20;
        out[i * 4] = static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
        out[i * 4 + 1] = static_cast<uint8_t>(g < 0 ? 0 : g > 255 ? 255 : g);
        out[i * 4 + 2] = static_cast<uint8_t>(b < 0 ? 0 : b > 255 ? 255 : b);
        out[i * 4 + 3] = 255;
    }
}

}  // namespace imgtext::jpeg
