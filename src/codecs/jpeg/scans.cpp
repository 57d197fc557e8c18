// The JPEG decoder's entropy-coded data: block decoding and the scan loops, one unit so that the bit reader inlines.
#include "codecs/jpeg/decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>

namespace imgtext::jpeg {

inline __attribute__((always_inline)) outcome decoder::decode_block(bit_reader &r, int16_t data[64], int dc_table,
                                                                    int ac_table, int b, const uint16_t *dq,
                                                                    bool &flat) {
    const huffman_table &hdc = huff_dc_[dc_table], &hac = huff_ac_[ac_table];
    const int16_t *fac = fast_ac_[ac_table];
    if (r.bits < 16) r.grow();
    if (r.avail < 32) r.fill();
    int diff;
    // While the data has not reached its marker the reference's refill
    // leaves 16 bits or more, so a code and its value bits of 12 at most
    // are consumed as it consumes them (with no refill between the two):
    // one lookup gives both.
    const uint32_t e = wide_dc_[dc_table][r.acc >> (64 - k_wide_bits)];
    if (e && !r.nomore) {
        r.consume(static_cast<int>(e & k_wide_length));
        diff = static_cast<int32_t>(e) >> 16;
        std::memset(data, 0, 64 * sizeof data[0]);
    } else {
        const int t = r.huff_decode(hdc);
        if (t < 0 || t > 15) return fail("bad huffman code");
        std::memset(data, 0, 64 * sizeof data[0]);
        diff = t ? r.extend_receive(t) : 0;
    }
    if (!add_ints_valid(comp_[b].dc_pred, diff)) return fail("bad delta");
    const int dc = comp_[b].dc_pred + diff;
    comp_[b].dc_pred = dc;
    if (!mul_fits_short(dc, dq[0])) return fail("can't merge dc and ac");
    // Values are stored as decoded and dequantised by the IDCT: each fits 16
    // bits, so the 16-bit products are those of the reference.
    data[0] = static_cast<int16_t>(dc);

    flat = false;
    int k = 1;
    if (!r.at_end) {
        // The fast path works on its own copy of the reader's hot part, so
        // that it stays in registers; the reader itself is brought up to
        // date only around the rare calls out.
        const uint64_t *wide = wide_ac_[ac_table];
        uint64_t acc = r.acc;
        int avail = r.avail, bits = r.bits;
        const uint8_t *next = r.data + r.pos, *clean = r.data + r.clean_end;
        auto store = [&] {
            r.acc = acc;
            r.avail = avail;
            r.bits = bits;
            r.pos = next - r.data;
        };
        auto load = [&] {
            acc = r.acc;
            avail = r.avail;
            bits = r.bits;
            next = r.data + r.pos;
            clean = r.data + r.clean_end;
        };
        auto top_up = [&]() __attribute__((always_inline)) { next += bit_reader::append_bytes(next, acc, avail); };
        // One code, or two: go_on, ended (the block is complete), or
        // regroup (decoded the reference's way; the reader may be anywhere).
        enum { go_on, ended, regroup };
        auto step = [&]() __attribute__((always_inline))->int {
            // Far from the marker the reference's refill always succeeds:
            // only its count changes.
            bits = bit_reader::refilled_count(bits);
            const uint64_t w = wide[acc >> (64 - k_wide_bits)];
            const int at = k + static_cast<int>((w >> 6) & 31);
            if (__builtin_expect(!(w & k_wide_value) || at >= 63, 0)) {
                if (w == 0) {
                    store();
                    const int was = k;
                    k = decode_ac_exact(r, data, k, hac, fac);
                    if (k < 0) return -1;
                    load();
                    flat = k == k_block_ended && was == 1;
                    return k >= 64 ? ended : regroup;
                }
                // EOB, ZRL, or a value that ends the block (the code after
                // it, if any, is the next block's).
                const int length = static_cast<int>((w & k_wide_value ? w >> 14 : w) & 15);
                acc <<= length;
                avail -= length;
                bits -= length;
                if (w & k_wide_value) {
                    data[k_dezigzag[at]] = static_cast<int16_t>(w >> 32);
                    return ended;
                }
                if (w & k_wide_end) {
                    flat = k == 1;
                    return ended;
                }
                k = at;
                return k >= 64 ? ended : go_on;
            }
            const int length = static_cast<int>(w & k_wide_length), first = static_cast<int>((w >> 14) & 15);
            data[k_dezigzag[at]] = static_cast<int16_t>(w >> 32);
            // The refill before the second code; after a single one it is
            // the next code's, done early, with the same count since the
            // data is there.
            bits = bit_reader::refilled_count(bits - first) - (length - first);
            acc <<= length;
            avail -= length;
            if (w & k_wide_end) return ended;
            k = at + static_cast<int>((w >> 18) & 31);
            data[k_dezigzag[k++]] = static_cast<int16_t>(w >> 48);
            return k >= 64 ? ended : go_on;
        };
        int state = go_on;
        for (;;) {
            if (__builtin_expect(next + 16 <= clean, 1)) {
                // Eight bytes of data and more lie ahead: top the lookahead
                // up once for four steps. Each takes 12 bits at most, and
                // every refill of the reference's in them stays in data.
                top_up();
                // Four steps, each with its effect: not one expression repeated.
                if ((state = step()) != go_on || (state = step()) != go_on ||  // NOLINT(misc-redundant-expression)
                    (state = step()) != go_on || (state = step()) != go_on) {
                    if (state == regroup && !r.at_end) continue;
                    break;
                }
                continue;
            }
            // Near a 0xFF byte or the end: one step at a time, with 44 bits
            // of data or more before each.
            if (avail < 48) {
                if (next + 8 <= clean) {
                    top_up();
                } else {
                    store();
                    bit_reader::fill_bytes(r);
                    load();
                    if (r.at_end) break;
                }
            }
            state = step();
            if (state == ended || state < 0 || r.at_end) break;
        }
        if (state < 0) return fail("bad huffman code");
        store();
        if (state == ended) return outcome::ok;
    }
    // Near the marker every code is decoded the reference's way.
    while (k < 64) {
        const int next = decode_ac_exact(r, data, k, hac, fac);
        if (next < 0) return fail("bad huffman code");
        if (next == k_block_ended) {
            flat = k == 1;
            break;
        }
        k = next;
    }
    return outcome::ok;
}

// One AC code as the reference decodes it (its 9-bit table of a short code
// with its value bits, else the code and then the value): the next index,
// k_block_ended for EOB, or -1 for a bad code.
inline int decoder::decode_ac_exact(bit_reader &r, int16_t data[64], int k, const huffman_table &hac,
                                    const int16_t *fac) {
    if (r.bits < 16) r.grow();
    if (r.avail < 32) r.fill();
    const int entry = fac[r.top32() >> (32 - k_fast_bits)];
    if (entry) {
        k += (entry >> 4) & 15;
        const int s = entry & 15;
        if (s > r.bits) return -1;
        r.consume(s);
        data[k_dezigzag[k++]] = static_cast<int16_t>(entry >> 8);
        return k;
    }
    const int rs = r.huff_decode(hac);
    if (rs < 0) return -1;
    const int s = rs & 15;
    if (s == 0) return rs == 0xF0 ? k + 16 : k_block_ended;
    k += rs >> 4;
    data[k_dezigzag[k++]] = static_cast<int16_t>(r.extend_receive(s));
    return k;
}

outcome decoder::decode_block_prog_dc(int16_t data[64], const huffman_table &hdc, int b) {
    if (band_end_ != 0) return fail("can't merge dc and ac");
    if (rd_.bits < 16) rd_.grow();
    if (succ_high_ == 0) {
        std::memset(data, 0, 64 * sizeof data[0]);
        const int t = rd_.huff_decode(hdc);
        if (t < 0 || t > 15) return fail("can't merge dc and ac");
        const int diff = t ? rd_.extend_receive(t) : 0;
        if (!add_ints_valid(comp_[b].dc_pred, diff)) return fail("bad delta");
        const int dc = comp_[b].dc_pred + diff;
        comp_[b].dc_pred = dc;
        if (!mul_fits_short(dc, 1 << succ_low_)) return fail("can't merge dc and ac");
        data[0] = static_cast<int16_t>(dc * (1 << succ_low_));
    } else if (rd_.get_bit()) {
        data[0] = static_cast<int16_t>(data[0] + (1 << succ_low_));
    }
    return outcome::ok;
}

outcome decoder::decode_block_prog_ac(int16_t data[64], const huffman_table &hac, const int16_t *fac) {
    if (band_start_ == 0) return fail("can't merge dc and ac");
    if (succ_high_ == 0) {
        const int shift = succ_low_;
        if (eob_run_) {
            --eob_run_;
            return outcome::ok;
        }
        int k = band_start_;
        do {
            if (rd_.bits < 16) rd_.grow();
            if (rd_.avail < 32) rd_.fill();
            const int c = static_cast<int>(rd_.top32() >> (32 - k_fast_bits));
            int r = fac[c];
            if (r) {
                k += (r >> 4) & 15;
                const int s = r & 15;
                if (s > rd_.bits) return fail("bad huffman code");
                rd_.consume(s);
                const int zig = k_dezigzag[k++];
                data[zig] = static_cast<int16_t>((r >> 8) * (1 << shift));
            } else {
                const int rs = rd_.huff_decode(hac);
                if (rs < 0) return fail("bad huffman code");
                const int s = rs & 15;
                r = rs >> 4;
                if (s == 0) {
                    if (r < 15) {
                        eob_run_ = 1 << r;
                        if (r) eob_run_ += rd_.get_bits(r);
                        --eob_run_;
                        break;
                    }
                    k += 16;
                } else {
                    k += r;
                    const int zig = k_dezigzag[k++];
                    data[zig] = static_cast<int16_t>(rd_.extend_receive(s) * (1 << shift));
                }
            }
        } while (k <= band_end_);
        return outcome::ok;
    }
    // refinement
    const int16_t bit = static_cast<int16_t>(1 << succ_low_);
    auto refine = [&](int16_t *p) {
        if (rd_.get_bit() && (*p & bit) == 0) *p = static_cast<int16_t>(*p > 0 ? *p + bit : *p - bit);
    };
    if (eob_run_) {
        --eob_run_;
        for (int k = band_start_; k <= band_end_; ++k) {
            int16_t *p = &data[k_dezigzag[k]];
            if (*p != 0) refine(p);
        }
        return outcome::ok;
    }
    int k = band_start_;
    do {
        const int rs = rd_.huff_decode(hac);
        if (rs < 0) return fail("bad huffman code");
        int s = rs & 15;
        int r = rs >> 4;
        if (s == 0) {
            if (r < 15) {
                eob_run_ = (1 << r) - 1;
                if (r) eob_run_ += rd_.get_bits(r);
                r = 64;  // the rest of the block only refines
            }
        } else {
            if (s != 1) return fail("bad huffman code");
            s = rd_.get_bit() ? bit : -bit;
        }
        while (k <= band_end_) {
            int16_t *p = &data[k_dezigzag[k++]];
            if (*p != 0) {
                refine(p);
            } else {
                if (r == 0) {
                    *p = static_cast<int16_t>(s);
                    break;
                }
                --r;
            }
        }
    } while (k <= band_end_);
    return outcome::ok;
}

// The reference's reset of its entropy decoder, at the start of a scan and
// after each restart marker (where reading goes on just past the marker).
void decoder::reset() {
    used_past_end_ = used_past_end_ || rd_.used_bytes_past_end();
    rd_.past_end_bits = 0;
    if (rd_.nomore) rd_.pos = rd_.end_pos;
    rd_.acc = 0;
    rd_.avail = rd_.real = 0;
    rd_.at_end = false;
    rd_.bits = 0;
    rd_.nomore = false;
    rd_.clean_end = 0;
    comp_[0].dc_pred = comp_[1].dc_pred = comp_[2].dc_pred = comp_[3].dc_pred = 0;
    rd_.marker = k_marker_none;
    todo_ = restart_interval_ ? restart_interval_ : 0x7fffffff;
    eob_run_ = 0;
}

// Where the headers go on after a scan. The reference stands just past the
// marker if it met it; otherwise it looks for the next marker from where
// its reading stopped, which finds the one the lookahead met (there is no
// other in between), or looks on from the lookahead's place.
void decoder::end_scan() {
    used_past_end_ = used_past_end_ || rd_.used_bytes_past_end();
    rd_.past_end_bits = 0;
    if (rd_.nomore || rd_.at_end) {
        rd_.marker = rd_.end_marker;
        rd_.pos = rd_.end_pos;
    }
    rd_.at_end = rd_.nomore = false;
    rd_.acc = 0;
    rd_.avail = rd_.real = rd_.bits = 0;
    rd_.clean_end = 0;
}

// After each MCU: at the end of a restart interval, either a restart marker
// follows (reset and go on) or the scan stops here.
bool decoder::restart_due(bool &stop, bool last_mcu) {
    if (--todo_ > 0) return false;
    if (rd_.bits < 24) rd_.grow();
    if (!(rd_.marker >= 0xD0 && rd_.marker <= 0xD7)) {
        stop = true;
        // No marker between here and the end of the file, and MCUs to go:
        // the rest of the scan is missing, not merely ended.
        if (!last_mcu && !rd_.at_end && rd_.pos >= rd_.size) used_past_end_ = true;
        return true;
    }
    reset();
    return true;
}

void decoder::note_bytes_used_past_end(int row) {
    if (damage_.truncated || !(used_past_end_ || rd_.used_bytes_past_end())) return;
    damage_.truncated = true;
    damage_.from_row = progressive_ ? -1 : row;
    damage_.scans = progressive_ ? progressive_scans_ : 1;
    damage_.within_scan = true;
}

outcome decoder::parse_entropy_coded_data() {
    reset();
    if (progressive_) ++progressive_scans_;
    return progressive_ ? progressive_scan() : baseline_scan();
}

// One scan holding every component (or the only one), decoded an MCU row at
// a time into the ring and passed on to the output as rows complete. With
// two threads, this one reads the data while the other makes the pixels,
// from the same blocks in the same order.
outcome decoder::baseline_scan() {
    if (scans_++ > 0 || scan_n_ != img_n_) return outcome::defer;  // the planes would have to stay whole
    streamed_rgb_ = is_rgb();
    strip_pipeline pipe;
    std::thread worker;
    auto blocks_per_strip = [&] {
        if (scan_n_ == 1) return static_cast<size_t>((comp_[order_[0]].x + 7) >> 3);
        int per_mcu = 0;
        for (int s = 0; s < scan_n_; ++s) per_mcu += comp_[order_[s]].h * comp_[order_[s]].v;
        return static_cast<size_t>(mcu_x_) * static_cast<size_t>(per_mcu);
    };
    const size_t budget = sink_ ? size_t{2} << 20 : size_t{4} << 20;
    if (threads_ > 1 && pipe.allocate(blocks_per_strip(), budget)) {
        pipe_ = &pipe;
        try {
            worker = std::thread([this] { pixels_from_strips(); });
        } catch (...) {  // no second thread to be had: this one does it all
            pipe_ = nullptr;
        }
    }
    const outcome o = scan_n_ == 1 ? baseline_strips_single() : baseline_strips_interleaved();
    if (pipe_) {
        pipe.close(o != outcome::ok);
        worker.join();
        pipe_ = nullptr;
    }
    return o;
}

outcome decoder::baseline_strips_single() {
    component &k = comp_[order_[0]];
    const int w = (k.x + 7) >> 3, h = (k.y + 7) >> 3;
    bool stop = false;
    for (int j = 0; j < h && !stop; ++j) {
        begin_scan_strip(j);
        uint8_t *row = k.ring + static_cast<size_t>(j * 8 % k.ring_rows) * static_cast<size_t>(k.w2);
        bit_reader r = rd_;  // in registers for the row; written back wherever others look
        int stop_mcu = -1;
        for (int i = 0; i < w; ++i) {
            int16_t *data = block_slot();
            bool flat;
            const outcome o = decode_block(r, data, k.hd, k.ha, order_[0], dequant_[k.tq], flat);
            if (o != outcome::ok) return o;  // the end of everything: the reader's state no longer matters
            queue_block(row + i * 8, k.w2, data, dequant_[k.tq], flat);
            if (todo_ <= 1) {
                rd_ = r;
                restart_due(stop, j == h - 1 && i == w - 1);
                r = rd_;
                if (stop) {
                    stop_mcu = i + 1;
                    break;
                }
            } else {
                --todo_;
            }
        }
        rd_ = r;
        note_bytes_used_past_end(j * 8 * v_max_ / k.v);
        end_scan_strip(j, stop_mcu);
    }
    return outcome::ok;
}

outcome decoder::baseline_strips_interleaved() {
    bool stop = false;
    for (int j = 0; j < mcu_y_ && !stop; ++j) {
        begin_scan_strip(j);
        bit_reader r = rd_;  // in registers for the row; written back wherever others look
        uint8_t *strip[4];
        for (int n = 0; n < img_n_; ++n)
            strip[n] = comp_[n].ring + static_cast<size_t>(j * comp_[n].strip_rows % comp_[n].ring_rows) *
                                           static_cast<size_t>(comp_[n].w2);
        int stop_mcu = -1;
        for (int i = 0; i < mcu_x_ && !stop; ++i) {
            for (int s = 0; s < scan_n_; ++s) {
                const int n = order_[s];
                component &k = comp_[n];
                uint8_t *base = strip[n];
                for (int y = 0; y < k.v; ++y)
                    for (int x = 0; x < k.h; ++x) {
                        int16_t *data = block_slot();
                        bool flat;
                        const outcome o = decode_block(r, data, k.hd, k.ha, n, dequant_[k.tq], flat);
                        if (o != outcome::ok) return o;  // the end of everything
                        queue_block(base + static_cast<size_t>(y * 8) * static_cast<size_t>(k.w2) + (i * k.h + x) * 8,
                                    k.w2, data, dequant_[k.tq], flat);
                    }
            }
            if (todo_ <= 1) {
                rd_ = r;
                if (restart_due(stop, j == mcu_y_ - 1 && i == mcu_x_ - 1) && stop) stop_mcu = i + 1;
                r = rd_;
            } else {
                --todo_;
            }
        }
        rd_ = r;
        note_bytes_used_past_end(j * 8 * v_max_);
        end_scan_strip(j, stop_mcu);
    }
    return outcome::ok;
}

int16_t *decoder::block_slot() { return strip_ ? strip_->coeff + 64 * strip_->count : idct_.slot(); }

void decoder::queue_block(uint8_t *out, int stride, const int16_t *data, const uint16_t *dq, bool dc_only) {
    if (strip_)
        strip_->jobs[strip_->count++] = strip_pipeline::job{out, stride, data, dq, dc_only};
    else
        idct_.add(out, stride, data, dq, dc_only);
}

void decoder::begin_scan_strip(int strip) {
    strip_ = pipe_ ? &pipe_->open(strip, [this] { return prefault_output_ahead(); }) : nullptr;
}

void decoder::end_scan_strip(int strip, int stop_mcu) {
    if (!strip_) return complete_strip(strip, stop_mcu);
    strip_->stop_mcu = stop_mcu;
    strip_ = nullptr;
    pipe_->publish();
}

outcome decoder::progressive_scan() {
    bool stop = false;
    if (scan_n_ == 1) {
        const int n = order_[0];
        component &k = comp_[n];
        const int w = (k.x + 7) >> 3, h = (k.y + 7) >> 3;
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) {
                int16_t *data = k.coeff + 64 * (i + j * k.coeff_w);
                const outcome o = band_start_ == 0 ? decode_block_prog_dc(data, huff_dc_[k.hd], n)
                                                   : decode_block_prog_ac(data, huff_ac_[k.ha], fast_ac_[k.ha]);
                if (o != outcome::ok) return o;
                if (restart_due(stop, j == h - 1 && i == w - 1) && stop) return outcome::ok;
            }
        return outcome::ok;
    }
    for (int j = 0; j < mcu_y_; ++j)
        for (int i = 0; i < mcu_x_; ++i) {
            for (int s = 0; s < scan_n_; ++s) {
                const int n = order_[s];
                component &k = comp_[n];
                for (int y = 0; y < k.v; ++y)
                    for (int x = 0; x < k.h; ++x) {
                        int16_t *data = k.coeff + 64 * ((i * k.h + x) + (j * k.v + y) * k.coeff_w);
                        const outcome o = decode_block_prog_dc(data, huff_dc_[k.hd], n);
                        if (o != outcome::ok) return o;
                    }
            }
            if (restart_due(stop, j == mcu_y_ - 1 && i == mcu_x_ - 1) && stop) return outcome::ok;
        }
    return outcome::ok;
}

}  // namespace imgtext::jpeg
