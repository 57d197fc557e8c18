// The JPEG decoder's AVX2 kernels; this unit alone is compiled for AVX2
// and is entered only after the processor was seen to have it.
#include "codecs/jpeg/kernels.h"

namespace imgtext {

// Two blocks: a's rows in the low halves, b's in the high halves.
void jpeg_idct_pair_avx2(uint8_t *out_a, int stride_a, const int16_t a[64], const uint16_t dq_a[64], uint8_t *out_b,
                         int stride_b, const int16_t b[64], const uint16_t dq_b[64]) {
    using V = __m256i;
    auto rows = [](const void *low, const void *high, int i) {
        return _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(low) + i)),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(high) + i), 1);
    };
    V r[8];
    for (int i = 0; i < 8; ++i) r[i] = _mm256_mullo_epi16(rows(a, b, i), rows(dq_a, dq_b, i));
    idct_pass_vec<V, avx2_ops>(r, avx2_ops::set32(k_pass1_bias), 10);
    transpose16<V, avx2_ops>(r);
    idct_pass_vec<V, avx2_ops>(r, avx2_ops::set32(k_pass2_bias), 17);
    transpose16<V, avx2_ops>(r);
    for (int i = 0; i < 8; i += 2) {
        const V bytes = _mm256_packus_epi16(r[i], r[i + 1]);  // per half: row i, row i + 1
        const __m128i lo = _mm256_castsi256_si128(bytes), hi = _mm256_extracti128_si256(bytes, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out_a + i * stride_a), lo);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out_a + (i + 1) * stride_a), _mm_unpackhi_epi64(lo, lo));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out_b + i * stride_b), hi);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out_b + (i + 1) * stride_b), _mm_unpackhi_epi64(hi, hi));
    }
}

// Sixteen pixels a step; the 16-bit steps are those of ycbcr8_sse2.
void jpeg_ycbcr_to_rgba_avx2(uint8_t *out, const uint8_t *y, const uint8_t *cb, const uint8_t *cr, int count) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i bias = _mm256_set1_epi16(128);
        const __m256i yw = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + i)));
        const __m256i cbw = _mm256_slli_epi16(
            _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(cb + i))), bias),
            8);
        const __m256i crw = _mm256_slli_epi16(
            _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(cr + i))), bias),
            8);
        const __m256i yws = _mm256_add_epi16(_mm256_slli_epi16(yw, 4), _mm256_set1_epi16(8));
        const __m256i r = _mm256_srai_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(crw, _mm256_set1_epi16(5743)), yws), 4);
        const __m256i g =
            _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(cbw, _mm256_set1_epi16(-1410)), yws),
                                               _mm256_mulhi_epi16(crw, _mm256_set1_epi16(-2925))),
                              4);
        const __m256i b = _mm256_srai_epi16(_mm256_add_epi16(yws, _mm256_mulhi_epi16(cbw, _mm256_set1_epi16(7258))), 4);
        // Packing works within 128-bit halves: pixels 0-7 in the low half,
        // 8-15 in the high one, until the last step puts them in order.
        const __m256i rb = _mm256_packus_epi16(r, b), ga = _mm256_packus_epi16(g, _mm256_set1_epi16(255));
        const __m256i rg = _mm256_unpacklo_epi8(rb, ga), ba = _mm256_unpackhi_epi8(rb, ga);
        const __m256i p0 = _mm256_unpacklo_epi16(rg, ba), p1 = _mm256_unpackhi_epi16(rg, ba);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i * 4), _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i * 4 + 32), _mm256_permute2x128_si256(p0, p1, 0x31));
    }
    for (; i + 8 <= count; i += 8) ycbcr8_sse2(out + i * 4, y + i, cb + i, cr + i);
    // The rest is left to the caller's scalar loop.
}

// The 2 x 2 upsampling filter for w >= 2 input samples, sixteen at a time.
// The neighbours' vertical sums are recomputed from shifted loads rather
// than shuffled across the register's halves.
void jpeg_upsample_hv2_avx2(uint8_t *out, const uint8_t *near, const uint8_t *far, int w) {
    auto column = [&](int i) { return 3 * near[i] + far[i]; };
    auto sums = [&](int i) {  // 3 * near + far for samples i..i+15
        const __m256i n = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(near + i)));
        const __m256i f = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(far + i)));
        return _mm256_add_epi16(_mm256_add_epi16(n, n), _mm256_add_epi16(n, f));
    };
    out[0] = static_cast<uint8_t>((column(0) + 2) >> 2);
    out[1] = static_cast<uint8_t>((3 * column(0) + column(1) + 8) >> 4);
    int i = 1;
    const __m256i eight = _mm256_set1_epi16(8);
    for (; i + 16 <= w - 1; i += 16) {
        const __m256i cur = sums(i), prev = sums(i - 1), next = sums(i + 1);
        const __m256i cur3 = _mm256_add_epi16(_mm256_add_epi16(cur, cur), _mm256_add_epi16(cur, eight));
        const __m256i even = _mm256_srli_epi16(_mm256_add_epi16(cur3, prev), 4);
        const __m256i odd = _mm256_srli_epi16(_mm256_add_epi16(cur3, next), 4);
        // Per 128-bit half: interleave, then pack back in order.
        const __m256i bytes = _mm256_packus_epi16(_mm256_unpacklo_epi16(even, odd), _mm256_unpackhi_epi16(even, odd));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i * 2), bytes);
    }
    for (; i < w - 1; ++i) {
        out[i * 2] = static_cast<uint8_t>((3 * column(i) + column(i - 1) + 8) >> 4);
        out[i * 2 + 1] = static_cast<uint8_t>((3 * column(i) + column(i + 1) + 8) >> 4);
    }
    out[i * 2] = static_cast<uint8_t>((3 * column(i) + column(i - 1) + 8) >> 4);
    out[i * 2 + 1] = static_cast<uint8_t>((column(i) + 2) >> 2);
}

}  // namespace imgtext
