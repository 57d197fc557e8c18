// The JPEG decoder's markers and headers: the segments before and between scans, and the tables they define.
#include "codecs/jpeg/decoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace imgtext::jpeg {

int decoder::get_marker() {
    if (rd_.marker != k_marker_none) {
        const int x = rd_.marker;
        rd_.marker = k_marker_none;
        return x;
    }
    int x = get8();
    if (x != 0xFF) return k_marker_none;
    while (x == 0xFF) x = get8();
    return x;
}

outcome decoder::build_huffman(huffman_table &h, const int *count) {
    int k = 0;
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < count[i]; ++j) {
            h.size[k++] = static_cast<uint8_t>(i + 1);
            if (k >= 257) return fail("bad size list");
        }
    h.size[k] = 0;
    uint32_t code = 0;
    k = 0;
    int j;
    for (j = 1; j <= 16; ++j) {
        h.delta[j] = static_cast<int>(static_cast<uint32_t>(k) - code);
        if (h.size[k] == j) {
            while (h.size[k] == j) h.code[k++] = static_cast<uint16_t>(code++);
            if (code - 1 >= (1u << j)) return fail("bad code lengths");
        }
        h.maxcode[j] = code << (16 - j);
        code <<= 1;
    }
    h.maxcode[j] = 0xffffffff;
    std::memset(h.fast, 255, sizeof h.fast);
    for (int i = 0; i < k; ++i) {
        const int s = h.size[i];
        if (s <= k_fast_bits) {
            const int c = h.code[i] << (k_fast_bits - s);
            const int m = 1 << (k_fast_bits - s);
            for (int n = 0; n < m; ++n) h.fast[c + n] = static_cast<uint8_t>(i);
        }
    }
    return outcome::ok;
}

void decoder::build_fast_ac(int16_t *fast_ac, const huffman_table &h) {
    for (int i = 0; i < (1 << k_fast_bits); ++i) {
        const uint8_t fast = h.fast[i];
        fast_ac[i] = 0;
        if (fast < 255) {
            const int rs = h.values[fast];
            const int run = (rs >> 4) & 15, magbits = rs & 15, len = h.size[fast];
            if (magbits && len + magbits <= k_fast_bits) {
                int k = ((i << len) & ((1 << k_fast_bits) - 1)) >> (k_fast_bits - magbits);
                const int m = 1 << (magbits - 1);
                if (k < m) k += 1 - (1 << magbits);
                if (k >= -128 && k <= 127) fast_ac[i] = static_cast<int16_t>(k * 256 + run * 16 + len + magbits);
            }
        }
    }
}

// Each DC symbol is a magnitude; symbols the reference refuses stay 0.
void decoder::build_wide_dc(uint32_t *wide, const huffman_table &h) {
    std::memset(wide, 0, sizeof(uint32_t) << k_wide_bits);
    for (int i = 0; i < 256 && h.size[i]; ++i) {
        const int length = h.size[i], s = h.values[i];
        if (s > 15 || length + s > k_wide_bits) continue;
        const int free_bits = k_wide_bits - length - s;
        for (int v = 0; v < (1 << s); ++v) {
            const int value = s == 0 ? 0 : v < (1 << (s - 1)) ? v + 1 - (1 << s) : v;  // the JPEG extension of v
            const uint32_t e = static_cast<uint32_t>(length + s) | static_cast<uint32_t>(value) << 16;
            const int first = (h.code[i] << s | v) << free_bits;
            for (int f = 0; f < (1 << free_bits); ++f) wide[first + f] = e;
        }
    }
}

// Single codes first; then, wherever a value's code leaves room, the code
// the bits after it start (looked up with the missing bits zero, which is
// sound when that code fits in what is left).
void decoder::build_wide_ac(uint64_t *wide, const huffman_table &h) {
    constexpr int size = 1 << k_wide_bits;
    constexpr uint64_t value_bits = 0xFFFFull << 32;
    constexpr uint64_t first_code = 31u << 6 | k_wide_value | 15u << 14 | value_bits;  // what a pair keeps of it
    std::memset(wide, 0, sizeof(uint64_t) << k_wide_bits);
    for (int i = 0; i < 256 && h.size[i]; ++i) {
        const int length = h.size[i], rs = h.values[i], run = rs >> 4, s = rs & 15;
        if (length + s > k_wide_bits) continue;
        const int free_bits = k_wide_bits - length - s;
        for (int v = 0; v < (1 << s); ++v) {
            uint64_t e = static_cast<uint64_t>(length) + static_cast<uint64_t>(s);
            if (s == 0) {
                e |= rs == 0xF0 ? 16u << 6 : k_wide_end;
            } else {
                const uint64_t value = static_cast<uint16_t>(v < (1 << (s - 1)) ? v + 1 - (1 << s) : v);
                e |= static_cast<uint64_t>(run) << 6 | k_wide_value | e << 14 | value << 32 | value << 48;
            }
            const int first = (h.code[i] << s | v) << free_bits;
            for (int f = 0; f < (1 << free_bits); ++f) wide[first + f] = e;
        }
    }
    for (int i = 0; i < size; ++i) {
        const uint64_t e = wide[i];
        const int first = static_cast<int>(e & k_wide_length);
        if (!(e & k_wide_value) || first >= k_wide_bits) continue;
        uint64_t next = wide[(i << first) & (size - 1)];
        if (next & k_wide_pair) {  // made a pair already: its first code alone
            const uint64_t length = next >> 14 & 15;
            next = (next & first_code) | length | (next & value_bits) << 16;
        }
        const int second = static_cast<int>(next & k_wide_length);
        const bool value = next & k_wide_value, end = next & k_wide_end;
        if (!(value || end) || first + second > k_wide_bits) continue;
        wide[i] = static_cast<uint64_t>(first + second) | (e & first_code) | k_wide_pair |
                  (end ? k_wide_end : ((next >> 6 & 15) + 1) << 18 | (next & value_bits) << 16);
    }
}

outcome decoder::process_marker(int m) {
    int length;
    switch (m) {
        case k_marker_none: return fail("expected marker");
        case 0xDD:  // restart interval
            if (get16() != 4) return fail("bad DRI len");
            restart_interval_ = get16();
            return outcome::ok;
        case 0xDB:  // quantisation tables
            length = get16() - 2;
            while (length > 0) {
                const int q = get8();
                const int p = q >> 4, t = q & 15;
                const bool sixteen = p != 0;
                if (p != 0 && p != 1) return fail("bad DQT type");
                if (t > 3) return fail("bad DQT table");
                for (int i = 0; i < 64; ++i)
                    dequant_[t][k_dezigzag[i]] = static_cast<uint16_t>(sixteen ? get16() : get8());
                length -= sixteen ? 129 : 65;
            }
            return length == 0 ? outcome::ok : outcome::defer;  // the reference fails without a reason
        case 0xC4:                                              // Huffman tables
            length = get16() - 2;
            while (length > 0) {
                int sizes[16], n = 0;
                const int q = get8();
                const int tc = q >> 4, th = q & 15;
                if (tc > 1 || th > 3) return fail("bad DHT header");
                for (int i = 0; i < 16; ++i) {
                    sizes[i] = get8();
                    n += sizes[i];
                }
                if (n > 256) return fail("bad DHT header");
                length -= 17;
                huffman_table &h = tc == 0 ? huff_dc_[th] : huff_ac_[th];
                const outcome built = build_huffman(h, sizes);
                if (built != outcome::ok) return built;
                for (int i = 0; i < n; ++i) h.values[i] = static_cast<uint8_t>(get8());
                if (tc != 0)
                    build_fast_ac(fast_ac_[th], h), build_wide_ac(wide_ac_[th], h);
                else
                    build_wide_dc(wide_dc_[th], h);
                length -= n;
            }
            return length == 0 ? outcome::ok : outcome::defer;
    }
    if ((m >= 0xE0 && m <= 0xEF) || m == 0xFE) {
        length = get16();
        if (length < 2) return fail(m == 0xFE ? "bad COM len" : "bad APP len");
        length -= 2;
        if (m == 0xE0 && length >= 5) {
            static const uint8_t tag[5] = {'J', 'F', 'I', 'F', '\0'};
            bool ok = true;
            for (int i = 0; i < 5; ++i)
                if (get8() != tag[i]) ok = false;
            length -= 5;
            if (ok) jfif_ = true;
        } else if (m == 0xEE && length >= 12) {
            static const uint8_t tag[6] = {'A', 'd', 'o', 'b', 'e', '\0'};
            bool ok = true;
            for (int i = 0; i < 6; ++i)
                if (get8() != tag[i]) ok = false;
            length -= 6;
            if (ok) {
                get8();
                get16();
                get16();
                app14_ = get8();
                length -= 6;
            }
        }
        skip(length);
        return outcome::ok;
    }
    return fail("unknown marker");
}

outcome decoder::process_scan_header() {
    const int ls = get16();
    scan_n_ = get8();
    if (scan_n_ < 1 || scan_n_ > 4 || scan_n_ > img_n_) return fail("bad SOS component count");
    if (ls != 6 + 2 * scan_n_) return fail("bad SOS len");
    for (int i = 0; i < scan_n_; ++i) {
        const int id = get8(), q = get8();
        int which = 0;
        for (; which < img_n_; ++which)
            if (comp_[which].id == id) break;
        if (which == img_n_) return outcome::defer;  // the reference fails without a reason
        comp_[which].hd = q >> 4;
        if (comp_[which].hd > 3) return fail("bad DC huff");
        comp_[which].ha = q & 15;
        if (comp_[which].ha > 3) return fail("bad AC huff");
        order_[i] = which;
    }
    band_start_ = get8();
    band_end_ = get8();
    const int aa = get8();
    succ_high_ = aa >> 4;
    succ_low_ = aa & 15;
    if (progressive_) {
        if (band_start_ > 63 || band_end_ > 63 || band_start_ > band_end_ || succ_high_ > 13 || succ_low_ > 13)
            return fail("bad SOS");
    } else {
        if (band_start_ != 0) return fail("bad SOS");
        if (succ_high_ != 0 || succ_low_ != 0) return fail("bad SOS");
        band_end_ = 63;
    }
    return outcome::ok;
}

outcome decoder::process_frame_header() {
    const int lf = get16();
    if (lf < 11) return fail("bad SOF len");
    if (get8() != 8) return fail("only 8-bit");
    img_y_ = get16();
    if (img_y_ == 0) return fail("no header height");
    img_x_ = get16();
    if (img_x_ == 0) return fail("0 width");
    // (16-bit sides never exceed the reference's 1 << 24 limit.)
    const int c = get8();
    if (c != 3 && c != 1 && c != 4) return fail("bad component count");
    img_n_ = c;
    if (lf != 8 + 3 * img_n_) return fail("bad SOF len");
    rgb_ = 0;
    for (int i = 0; i < img_n_; ++i) {
        static const uint8_t rgb[3] = {'R', 'G', 'B'};
        comp_[i].id = get8();
        if (img_n_ == 3 && comp_[i].id == rgb[i]) ++rgb_;
        const int q = get8();
        comp_[i].h = q >> 4;
        if (!comp_[i].h || comp_[i].h > 4) return fail("bad H");
        comp_[i].v = q & 15;
        if (!comp_[i].v || comp_[i].v > 4) return fail("bad V");
        comp_[i].tq = get8();
        if (comp_[i].tq > 3) return fail("bad TQ");
    }
    if (!mad3_valid(img_x_, img_y_, img_n_, 0)) return fail("too large");
    for (int i = 0; i < img_n_; ++i) {
        if (comp_[i].h > h_max_) h_max_ = comp_[i].h;
        if (comp_[i].v > v_max_) v_max_ = comp_[i].v;
    }
    for (int i = 0; i < img_n_; ++i) {
        if (h_max_ % comp_[i].h != 0) return fail("bad H");
        if (v_max_ % comp_[i].v != 0) return fail("bad V");
    }
    // The filters reproduced here: each component at most twice as coarse
    // as the finest, across and down; CMYK and friends go to the reference.
    if (img_n_ == 4) return outcome::defer;
    for (int i = 0; i < img_n_; ++i)
        if (comp_[i].h > 2 || comp_[i].v > 2) return outcome::defer;
    mcu_x_ = (img_x_ + h_max_ * 8 - 1) / (h_max_ * 8);
    mcu_y_ = (img_y_ + v_max_ * 8 - 1) / (v_max_ * 8);
    for (int i = 0; i < img_n_; ++i) {
        component &k = comp_[i];
        k.x = (img_x_ * k.h + h_max_ - 1) / h_max_;
        k.y = (img_y_ * k.v + v_max_ - 1) / v_max_;
        k.w2 = mcu_x_ * k.h * 8;
        k.h2 = mcu_y_ * k.v * 8;
        // The reference allocates each plane here (and fails on sizes its
        // int arithmetic cannot hold); this decoder keeps only a ring.
        if (!mad2_valid(k.w2, k.h2, 15)) return outcome::defer;
        if (progressive_) {
            k.coeff_w = k.w2 / 8;
            k.coeff_h = k.h2 / 8;
            if (!mad3_valid(k.w2, k.h2, 2, 15)) return outcome::defer;
            k.coeff = static_cast<int16_t *>(std::calloc(static_cast<size_t>(k.w2) * static_cast<size_t>(k.h2), 2));
            if (!k.coeff) return fail("outofmem");
        }
    }
    return outcome::ok;
}

outcome decoder::decode_header() {
    jfif_ = false;
    app14_ = -1;
    rd_.marker = k_marker_none;
    int m = get_marker();
    if (m != 0xD8) return outcome::defer;  // not a JPEG to the reference either: it tries other formats
    m = get_marker();
    while (!(m == 0xC0 || m == 0xC1 || m == 0xC2)) {
        const outcome o = process_marker(m);
        if (o != outcome::ok) return o;
        m = get_marker();
        while (m == k_marker_none) {
            if (at_eof()) return fail("no SOF");
            m = get_marker();
        }
    }
    progressive_ = m == 0xC2;
    return process_frame_header();
}

int decoder::skip_junk_at_end() {
    while (!at_eof()) {
        int x = get8();
        while (x == 0xFF) {
            if (at_eof()) return k_marker_none;
            x = get8();
            if (x != 0x00 && x != 0xFF) return x;
        }
    }
    return k_marker_none;
}

}  // namespace imgtext::jpeg
