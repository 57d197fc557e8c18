// The JPEG decoder's class and what its units (markers and headers, scans, output) share.
#ifndef IMGTEXT_JPEG_DECODER_CLASS_H
#define IMGTEXT_JPEG_DECODER_CLASS_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/jpeg/bit_reader.h"
#include "codecs/jpeg/idct_queue.h"
#include "codecs/jpeg/jpeg_decoder.h"
#include "codecs/jpeg/strip_pipeline.h"

namespace imgtext::jpeg {

// The baseline decoders' own tables, indexed by the next 12 bits. The DC
// table gives a code with its value bits as length | value << 16. The AC
// table gives one code with its value bits, or two when both fit:
//   bits 0-5    bits taken in all;
//   bits 6-10   zeros before the (first) value: the run, 16 for ZRL;
//   bit 11      a value follows the run;
//   bit 12      the block ends: EOB alone, or EOB as the second code;
//   bit 13      two codes, a value then a value or EOB;
//   bits 14-17  bits the first value's code takes;
//   bits 18-22  how far the second value lies past the first: its run + 1,
//               or 0 for a single value, which the second half repeats;
//   bits 32-47  the (first) value, bits 48-63 the second.
// So one value and two take the same steps, with no branch between them.
// 0 means no code of at most 12 bits starts here: decode the reference's
// way. The length has six bits of its own, so that the entry can be the
// shift count as it is: a 64-bit shift takes only those bits, and no
// masking step lengthens the chain from one code to the next. Two codes a
// lookup shorten that chain for most of a photograph's codes.
constexpr int k_wide_bits = 12;
constexpr uint32_t k_wide_length = 63, k_wide_value = 1u << 11, k_wide_end = 1u << 12, k_wide_pair = 1u << 13;
constexpr int k_marker_none = 0xFF;
constexpr int k_block_ended = 1000;  // what an AC decoding step gives for EOB

// Row-order position in the block of each zigzag index; corrupt runs may
// index past 63 and land on 63, as the reference lets them.
inline constexpr uint8_t k_dezigzag[64 + 15] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13,
    6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31,
    39, 46, 53, 60, 61, 54, 47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

struct component {
    int id, h, v, tq, hd, ha, dc_pred;
    int x, y, w2, h2;
    int16_t *coeff;  // progressive only: coeff_w x coeff_h blocks of 64
    int coeff_w, coeff_h;
    // Output side: a ring of component rows, two MCU rows deep.
    uint8_t *ring;
    int ring_rows, strip_rows;
    int rows_ready;
    // The reference's resampling state for this component.
    int hs, vs, ystep, ypos, line0, line1, w_lores;
    uint8_t *linebuf;
};

// Failure with a reason, or a case handed back to stb_image.
enum class outcome { ok, fail, defer };

inline bool add_ints_valid(int a, int b) {
    if ((a >= 0) != (b >= 0)) return true;
    if (a < 0 && b < 0) return a >= INT_MIN - b;
    return a <= INT_MAX - b;
}

// Whether a * b fits a short, for b >= 0 (dequantisation factors and
// powers of two): the reference's division-based test says the same.
inline bool mul_fits_short(int a, int b) {
    const int64_t product = static_cast<int64_t>(a) * b;
    return product >= SHRT_MIN && product <= SHRT_MAX;
}

inline bool mul_sizes_valid(int a, int b) {
    if (a < 0 || b < 0) return false;
    if (b == 0) return true;
    return a <= INT_MAX / b;
}
inline bool add_sizes_valid(int a, int b) { return b >= 0 && a <= INT_MAX - b; }
inline bool mad2_valid(int a, int b, int add) { return mul_sizes_valid(a, b) && add_sizes_valid(a * b, add); }
inline bool mad3_valid(int a, int b, int c, int add) {
    return mul_sizes_valid(a, b) && mul_sizes_valid(a * b, c) && add_sizes_valid(a * b * c, add);
}

class decoder {
public:
    decoder(const uint8_t *data, int size, jpeg_decode_kernel kernel, int threads)
        : rd_{data, size, 0, 0, 0, 0, 0, k_marker_none, false, false, k_marker_none, 0, 0, 0},
          idct_(kernel),
          threads_(threads) {
        std::memset(huff_dc_, 0, sizeof huff_dc_);
        std::memset(huff_ac_, 0, sizeof huff_ac_);
        std::memset(dequant_, 0, sizeof dequant_);
        std::memset(fast_ac_, 0, sizeof fast_ac_);
        std::memset(wide_ac_, 0, sizeof wide_ac_);
        std::memset(wide_dc_, 0, sizeof wide_dc_);
        std::memset(comp_, 0, sizeof comp_);
    }
    ~decoder() {
        for (component &c : comp_) {
            std::free(c.coeff);
            std::free(c.ring);
            std::free(c.linebuf);
        }
        std::free(output_);
    }
    decoder(const decoder &) = delete;
    decoder &operator=(const decoder &) = delete;

    // Rows go to `sink` instead of one buffer (decode_jpeg_rows).
    void send_rows_to(jpeg_row_sink *sink) { sink_ = sink; }
    jpeg_decode_result run(int *width, int *height, unsigned char **pixels, const char **reason, jpeg_damage *damage);

private:
    // -- the byte source, as the reference reads memory
    int get8() { return rd_.get8(); }
    int get16() {
        const int z = get8();
        return (z << 8) + get8();
    }
    bool at_eof() const { return rd_.pos >= rd_.size; }
    void skip(int n) {
        if (n == 0) return;
        if (n < 0) {
            rd_.pos = rd_.size;
            return;
        }
        rd_.pos += n;
    }
    outcome fail(const char *why) {
        reason_ = why;
        return outcome::fail;
    }

    // -- entropy-coded data (the two block steps are inline: only scans.cpp,
    // which defines them, calls them)
    inline outcome decode_block(bit_reader &r, int16_t data[64], int dc_table, int ac_table, int b, const uint16_t *dq,
                                bool &flat);
    inline int decode_ac_exact(bit_reader &r, int16_t data[64], int k, const huffman_table &hac, const int16_t *fac);
    outcome decode_block_prog_dc(int16_t data[64], const huffman_table &hdc, int b);
    outcome decode_block_prog_ac(int16_t data[64], const huffman_table &hac, const int16_t *fac);
    void reset();
    void end_scan();
    // Records that the data ran out, once the decoder has used zeros from
    // past the end of the file; `row` is the first pixel row of the strip
    // being decoded (a baseline picture's).
    void note_bytes_used_past_end(int row);
    void note_end_of_walk(bool end_marker);
    bool restart_due(bool &stop, bool last_mcu);

    // -- markers and headers
    int get_marker();
    outcome process_marker(int m);
    outcome build_huffman(huffman_table &h, const int *count);
    void build_fast_ac(int16_t *fast_ac, const huffman_table &h);
    void build_wide_dc(uint32_t *wide, const huffman_table &h);
    void build_wide_ac(uint64_t *wide, const huffman_table &h);
    outcome process_scan_header();
    outcome process_frame_header();
    outcome decode_header();
    int skip_junk_at_end();
    outcome decode_image();
    outcome parse_entropy_coded_data();
    outcome baseline_scan();
    outcome baseline_strips_single();
    outcome baseline_strips_interleaved();
    int16_t *block_slot();
    void queue_block(uint8_t *out, int stride, const int16_t *data, const uint16_t *dq, bool dc_only);
    void begin_scan_strip(int strip);
    bool prefault_output_ahead();
    void end_scan_strip(int strip, int stop_mcu);
    void complete_strip(int strip, int stop_mcu);
    void pixels_from_strips();
    outcome progressive_scan();

    // -- output
    outcome setup_output();
    size_t output_bytes() const { return static_cast<size_t>(img_x_) * static_cast<size_t>(img_y_) * 4; }
    bool is_rgb() const { return img_n_ == 3 && (rgb_ == 3 || (app14_ == 0 && !jfif_)); }
    void begin_strip(int strip);
    void clear_strip_from(int strip, int mcu);
    void emit_rows(bool all);
    void finish_baseline();
    void finish_progressive();

    bit_reader rd_;
    const char *reason_ = nullptr;
    idct_queue idct_;

    huffman_table huff_dc_[4], huff_ac_[4];
    uint16_t dequant_[4][64];
    int16_t fast_ac_[4][1 << k_fast_bits];
    uint64_t wide_ac_[4][1 << k_wide_bits];
    uint32_t wide_dc_[4][1 << k_wide_bits];
    component comp_[4];
    int img_x_ = 0, img_y_ = 0, img_n_ = 0;
    int h_max_ = 1, v_max_ = 1, mcu_x_ = 0, mcu_y_ = 0;

    bool progressive_ = false;
    int band_start_ = 0, band_end_ = 0, succ_high_ = 0, succ_low_ = 0, eob_run_ = 0;
    bool jfif_ = false;
    int app14_ = -1;
    int rgb_ = 0;
    int scan_n_ = 0, order_[4] = {0, 0, 0, 0};
    int restart_interval_ = 0, todo_ = 0;

    // Baseline output state.
    int scans_ = 0;
    int progressive_scans_ = 0;
    bool used_past_end_ = false;  // the lookahead dropped at a reset had used bytes past the end
    jpeg_damage damage_;
    bool streamed_rgb_ = false;
    int strips_done_ = 0;
    uint8_t *output_ = nullptr;
    jpeg_row_sink *sink_ = nullptr;
    int next_row_ = 0;
    // With two threads, the baseline scan's blocks go through here.
    int threads_ = 1;
    strip_pipeline *pipe_ = nullptr;
    strip_pipeline::strip *strip_ = nullptr;  // the row being read
    size_t prefaulted_ = 0;                   // how much of the result the reading side has had faulted in
};

}  // namespace imgtext::jpeg

#endif
