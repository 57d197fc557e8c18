// The decoder's kernels: the entry points of each form, and the vector code
// shared by its SSE2 code (kernels.cpp) and its AVX2 code (kernels_avx2.cpp,
// the only unit compiled for AVX2, whose functions run only where the
// processor has it). The vector code has internal linkage, so no unit's
// AVX2 code can stand in for another's.
#ifndef IMGTEXT_JPEG_DECODER_SIMD_H
#define IMGTEXT_JPEG_DECODER_SIMD_H

#include <cstdint>

// stb_image uses its SSE2 kernels on x86-64, which is where this decoder
// runs; the build adds the AVX2 unit where it can (IMGTEXT_JPEG_AVX2).
#if (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#  define IMGTEXT_JPEG_X86 1
#  include <immintrin.h>
#else
#  define IMGTEXT_JPEG_X86 0
#endif
#if !defined(IMGTEXT_JPEG_AVX2)
#  define IMGTEXT_JPEG_AVX2 0
#endif

namespace imgtext {

namespace jpeg {

// The upsampling filters and the colour conversion in the form `level`
// names (the IDCT queue's: 0 portable, 1 SSE2, 2 AVX2); see kernels.cpp.
const uint8_t *resample_row(uint8_t *out, const uint8_t *near, const uint8_t *far, int w, int hs, int vs, int level);
void ycbcr_to_rgba(uint8_t *__restrict out, const uint8_t *__restrict y, const uint8_t *__restrict cb,
                   const uint8_t *__restrict cr, int count, int level);

}  // namespace jpeg

namespace {

// The reference's IDCT constants: value * 4096 rounded as its macro does
// (in float, then + 0.5 in double, truncated).
constexpr int f2f(float x) { return static_cast<int>(x * 4096 + 0.5); }

// Pairs (a, b) for out = x * a + y * b, as the SSE2 IDCT multiplies.
inline constexpr int k_rot0_0a = f2f(0.5411961f), k_rot0_0b = f2f(0.5411961f) + f2f(-1.847759065f);
inline constexpr int k_rot0_1a = f2f(0.5411961f) + f2f(0.765366865f), k_rot0_1b = f2f(0.5411961f);
inline constexpr int k_rot1_0a = f2f(1.175875602f) + f2f(-0.899976223f), k_rot1_0b = f2f(1.175875602f);
inline constexpr int k_rot1_1a = f2f(1.175875602f), k_rot1_1b = f2f(1.175875602f) + f2f(-2.562915447f);
inline constexpr int k_rot2_0a = f2f(-1.961570560f) + f2f(0.298631336f), k_rot2_0b = f2f(-1.961570560f);
inline constexpr int k_rot2_1a = f2f(-1.961570560f), k_rot2_1b = f2f(-1.961570560f) + f2f(3.072711026f);
inline constexpr int k_rot3_0a = f2f(-0.390180644f) + f2f(2.053119869f), k_rot3_0b = f2f(-0.390180644f);
inline constexpr int k_rot3_1a = f2f(-0.390180644f), k_rot3_1b = f2f(-0.390180644f) + f2f(1.501321110f);

inline constexpr int32_t k_pass1_bias = 512, k_pass2_bias = 65536 + (128 << 17);

#if IMGTEXT_JPEG_X86

// The same two passes on eight lanes at once (one block per 128 bits). The
// vector type and its operations are those of SSE2 or AVX2; every operation
// stays within its 128-bit half, so with AVX2 the halves are two blocks.
template <typename V, typename Ops>
inline void idct_pass_vec(V r[8], V bias, int shift) {
    const V t2e_l = Ops::madd(Ops::unpacklo16(r[2], r[6]), Ops::pair(k_rot0_0a, k_rot0_0b));
    const V t2e_h = Ops::madd(Ops::unpackhi16(r[2], r[6]), Ops::pair(k_rot0_0a, k_rot0_0b));
    const V t3e_l = Ops::madd(Ops::unpacklo16(r[2], r[6]), Ops::pair(k_rot0_1a, k_rot0_1b));
    const V t3e_h = Ops::madd(Ops::unpackhi16(r[2], r[6]), Ops::pair(k_rot0_1a, k_rot0_1b));
    const V sum04 = Ops::add16(r[0], r[4]), dif04 = Ops::sub16(r[0], r[4]);
    const V t0e_l = Ops::srai32(Ops::unpacklo16(Ops::zero(), sum04), 4);
    const V t0e_h = Ops::srai32(Ops::unpackhi16(Ops::zero(), sum04), 4);
    const V t1e_l = Ops::srai32(Ops::unpacklo16(Ops::zero(), dif04), 4);
    const V t1e_h = Ops::srai32(Ops::unpackhi16(Ops::zero(), dif04), 4);
    const V x0_l = Ops::add32(t0e_l, t3e_l), x0_h = Ops::add32(t0e_h, t3e_h);
    const V x3_l = Ops::sub32(t0e_l, t3e_l), x3_h = Ops::sub32(t0e_h, t3e_h);
    const V x1_l = Ops::add32(t1e_l, t2e_l), x1_h = Ops::add32(t1e_h, t2e_h);
    const V x2_l = Ops::sub32(t1e_l, t2e_l), x2_h = Ops::sub32(t1e_h, t2e_h);

    const V p73_l = Ops::unpacklo16(r[7], r[3]), p73_h = Ops::unpackhi16(r[7], r[3]);
    const V p51_l = Ops::unpacklo16(r[5], r[1]), p51_h = Ops::unpackhi16(r[5], r[1]);
    const V y0o_l = Ops::madd(p73_l, Ops::pair(k_rot2_0a, k_rot2_0b)),
            y0o_h = Ops::madd(p73_h, Ops::pair(k_rot2_0a, k_rot2_0b));
    const V y2o_l = Ops::madd(p73_l, Ops::pair(k_rot2_1a, k_rot2_1b)),
            y2o_h = Ops::madd(p73_h, Ops::pair(k_rot2_1a, k_rot2_1b));
    const V y1o_l = Ops::madd(p51_l, Ops::pair(k_rot3_0a, k_rot3_0b)),
            y1o_h = Ops::madd(p51_h, Ops::pair(k_rot3_0a, k_rot3_0b));
    const V y3o_l = Ops::madd(p51_l, Ops::pair(k_rot3_1a, k_rot3_1b)),
            y3o_h = Ops::madd(p51_h, Ops::pair(k_rot3_1a, k_rot3_1b));
    const V s17 = Ops::add16(r[1], r[7]), s35 = Ops::add16(r[3], r[5]);
    const V ps_l = Ops::unpacklo16(s17, s35), ps_h = Ops::unpackhi16(s17, s35);
    const V y4o_l = Ops::madd(ps_l, Ops::pair(k_rot1_0a, k_rot1_0b)),
            y4o_h = Ops::madd(ps_h, Ops::pair(k_rot1_0a, k_rot1_0b));
    const V y5o_l = Ops::madd(ps_l, Ops::pair(k_rot1_1a, k_rot1_1b)),
            y5o_h = Ops::madd(ps_h, Ops::pair(k_rot1_1a, k_rot1_1b));
    const V x4_l = Ops::add32(y0o_l, y4o_l), x4_h = Ops::add32(y0o_h, y4o_h);
    const V x5_l = Ops::add32(y1o_l, y5o_l), x5_h = Ops::add32(y1o_h, y5o_h);
    const V x6_l = Ops::add32(y2o_l, y5o_l), x6_h = Ops::add32(y2o_h, y5o_h);
    const V x7_l = Ops::add32(y3o_l, y4o_l), x7_h = Ops::add32(y3o_h, y4o_h);

    auto butterfly = [&](V a_l, V a_h, V b_l, V b_h, V &sum, V &dif) {
        const V al = Ops::add32(a_l, bias), ah = Ops::add32(a_h, bias);
        sum = Ops::packs32(Ops::srai32(Ops::add32(al, b_l), shift), Ops::srai32(Ops::add32(ah, b_h), shift));
        dif = Ops::packs32(Ops::srai32(Ops::sub32(al, b_l), shift), Ops::srai32(Ops::sub32(ah, b_h), shift));
    };
    butterfly(x0_l, x0_h, x7_l, x7_h, r[0], r[7]);
    butterfly(x1_l, x1_h, x6_l, x6_h, r[1], r[6]);
    butterfly(x2_l, x2_h, x5_l, x5_h, r[2], r[5]);
    butterfly(x3_l, x3_h, x4_l, x4_h, r[3], r[4]);
}

template <typename V, typename Ops>
inline void transpose16(V r[8]) {
    auto step = [](V &a, V &b) {
        const V t = a;
        a = Ops::unpacklo16(a, b);
        b = Ops::unpackhi16(t, b);
    };
    step(r[0], r[4]), step(r[1], r[5]), step(r[2], r[6]), step(r[3], r[7]);
    step(r[0], r[2]), step(r[1], r[3]), step(r[4], r[6]), step(r[5], r[7]);
    step(r[0], r[1]), step(r[2], r[3]), step(r[4], r[5]), step(r[6], r[7]);
}

struct sse2_ops {
    using V = __m128i;
    static V zero() { return _mm_setzero_si128(); }
    static V pair(int a, int b) {
        return _mm_setr_epi16(static_cast<short>(a), static_cast<short>(b), static_cast<short>(a),
                              static_cast<short>(b), static_cast<short>(a), static_cast<short>(b),
                              static_cast<short>(a), static_cast<short>(b));
    }
    static V unpacklo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V unpackhi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static V madd(V a, V b) { return _mm_madd_epi16(a, b); }
    static V add16(V a, V b) { return _mm_add_epi16(a, b); }
    static V sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static V add32(V a, V b) { return _mm_add_epi32(a, b); }
    static V sub32(V a, V b) { return _mm_sub_epi32(a, b); }
    static V srai32(V a, int n) { return _mm_sra_epi32(a, _mm_cvtsi32_si128(n)); }
    static V packs32(V a, V b) { return _mm_packs_epi32(a, b); }
    static V set32(int v) { return _mm_set1_epi32(v); }
};

// The reference's SSE2 YCbCr conversion, whose 16-bit steps give exactly
// its fixed-point formula: eight pixels.
inline void ycbcr8_sse2(uint8_t *out, const uint8_t *y, const uint8_t *cb, const uint8_t *cr) {
    const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(128);
    const __m128i yw = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(y)), zero);
    const __m128i cbw = _mm_slli_epi16(
        _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cb)), zero), bias), 8);
    const __m128i crw = _mm_slli_epi16(
        _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cr)), zero), bias), 8);
    const __m128i yws = _mm_add_epi16(_mm_slli_epi16(yw, 4), _mm_set1_epi16(8));
    const __m128i r = _mm_srai_epi16(_mm_add_epi16(_mm_mulhi_epi16(crw, _mm_set1_epi16(5743)), yws), 4);
    const __m128i g = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_mulhi_epi16(cbw, _mm_set1_epi16(-1410)), yws),
                                                   _mm_mulhi_epi16(crw, _mm_set1_epi16(-2925))),
                                     4);
    const __m128i b = _mm_srai_epi16(_mm_add_epi16(yws, _mm_mulhi_epi16(cbw, _mm_set1_epi16(7258))), 4);
    const __m128i rb = _mm_packus_epi16(r, b), ga = _mm_packus_epi16(g, _mm_set1_epi16(255));
    const __m128i rg = _mm_unpacklo_epi8(rb, ga), ba = _mm_unpackhi_epi8(rb, ga);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi16(rg, ba));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), _mm_unpackhi_epi16(rg, ba));
}

// The 2 x 2 upsampling filter for w >= 2 input samples, eight at a time as
// the reference's SSE2 form does; the same values as its scalar form.
inline void upsample_hv2_sse2(uint8_t *out, const uint8_t *near, const uint8_t *far, int w) {
    const __m128i zero = _mm_setzero_si128(), eight = _mm_set1_epi16(8);
    int t1 = 3 * near[0] + far[0];
    int i = 0;
    for (; i < ((w - 1) & ~7); i += 8) {
        const __m128i n = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(near + i)), zero);
        const __m128i f = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(far + i)), zero);
        const __m128i cur = _mm_add_epi16(_mm_add_epi16(n, n), _mm_add_epi16(n, f));
        const __m128i prev = _mm_insert_epi16(_mm_slli_si128(cur, 2), t1, 0);
        const __m128i next = _mm_insert_epi16(_mm_srli_si128(cur, 2), 3 * near[i + 8] + far[i + 8], 7);
        const __m128i cur3 = _mm_add_epi16(_mm_add_epi16(cur, cur), _mm_add_epi16(cur, eight));
        const __m128i even = _mm_srli_epi16(_mm_add_epi16(cur3, prev), 4);
        const __m128i odd = _mm_srli_epi16(_mm_add_epi16(cur3, next), 4);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i * 2),
                         _mm_packus_epi16(_mm_unpacklo_epi16(even, odd), _mm_unpackhi_epi16(even, odd)));
        t1 = 3 * near[i + 7] + far[i + 7];
    }
    int t0 = t1;
    t1 = 3 * near[i] + far[i];
    out[i * 2] = static_cast<uint8_t>((3 * t1 + t0 + 8) >> 4);
    for (++i; i < w; ++i) {
        t0 = t1;
        t1 = 3 * near[i] + far[i];
        out[i * 2 - 1] = static_cast<uint8_t>((3 * t0 + t1 + 8) >> 4);
        out[i * 2] = static_cast<uint8_t>((3 * t1 + t0 + 8) >> 4);
    }
    out[w * 2 - 1] = static_cast<uint8_t>((t1 + 2) >> 2);
}

#  if defined(__AVX2__)
struct avx2_ops {
    using V = __m256i;
    static V zero() { return _mm256_setzero_si256(); }
    static V pair(int a, int b) {
        return _mm256_set1_epi32(
            static_cast<int>((static_cast<uint32_t>(b) << 16) | (static_cast<uint32_t>(a) & 0xFFFF)));
    }
    static V unpacklo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static V unpackhi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    static V madd(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V add16(V a, V b) { return _mm256_add_epi16(a, b); }
    static V sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V add32(V a, V b) { return _mm256_add_epi32(a, b); }
    static V sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V srai32(V a, int n) { return _mm256_sra_epi32(a, _mm_cvtsi32_si128(n)); }
    static V packs32(V a, V b) { return _mm256_packs_epi32(a, b); }
    static V set32(int v) { return _mm256_set1_epi32(v); }
};

#  endif
#endif

}  // namespace

#if IMGTEXT_JPEG_X86
// The AVX2 unit's entry points.
// The x86 IDCT on two blocks (values and their dequantisation factors):
// a's rows in the low halves, b's in the high.
void jpeg_idct_pair_avx2(uint8_t *out_a, int stride_a, const int16_t a[64], const uint16_t dq_a[64], uint8_t *out_b,
                         int stride_b, const int16_t b[64], const uint16_t dq_b[64]);
// The 2 x 2 upsampling filter for w >= 2 input samples.
void jpeg_upsample_hv2_avx2(uint8_t *out, const uint8_t *near, const uint8_t *far, int w);
// The YCbCr conversion of count pixels to RGBA.
void jpeg_ycbcr_to_rgba_avx2(uint8_t *out, const uint8_t *y, const uint8_t *cb, const uint8_t *cr, int count);
#endif

}  // namespace imgtext

#endif
