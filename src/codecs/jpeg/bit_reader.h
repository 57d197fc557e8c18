// The JPEG decoder's bit reader: the entropy-coded data, its lookahead and top-ups; a header, so that it inlines.
#ifndef IMGTEXT_JPEG_BIT_READER_H
#define IMGTEXT_JPEG_BIT_READER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace imgtext::jpeg {

// The reference's first lookup: codes of up to this many bits.
constexpr int k_fast_bits = 9;

inline constexpr uint32_t k_bit_mask[17] = {0,   1,    3,    7,    15,   31,    63,    127,  255,
                                            511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};
inline constexpr int k_extend_bias[16] = {0,    -1,   -3,    -7,    -15,   -31,   -63,    -127,
                                          -255, -511, -1023, -2047, -4095, -8191, -16383, -32767};

struct huffman_table {
    uint8_t fast[1 << k_fast_bits];
    uint16_t code[256];
    uint8_t values[256];
    uint8_t size[257];
    uint32_t maxcode[18];
    int delta[17];
};

// The entropy decoder's state and its steps, kept in one small value so
// that a block's decoding holds it in registers (the decoder copies it in
// and out around each block).
//
// The reference keeps a 32-bit buffer that it refills byte by byte, only
// when fewer than 16 bits (or than the bits about to be read) wait, up to
// more than 24; at a marker it stops for good and reads zeros from then on.
// Its count of loaded bits decides where damaged data ends and which checks
// fail, so it is kept here exactly (`bits`, `nomore`, `marker`). The bits
// themselves come from a 64-bit lookahead filled eight bytes at a time: as
// long as the reference has not met the marker, the bits it has loaded are
// the first `bits` of the lookahead, and past the marker both hold zeros,
// so the top 32 bits of the lookahead are always its buffer.
struct bit_reader {
    const uint8_t *data;
    int64_t size, pos;  // pos: the next byte for the lookahead (or the headers)
    uint64_t acc;       // the data from the next unread bit, most significant first; zeros past the end
    int avail;          // bits in acc
    int real;           // of which data before the marker (kept from when the marker is known)
    int bits;           // the reference's count of loaded bits
    int marker;         // the marker the reference met, if any
    bool nomore;        // the reference met the marker: zeros from then on
    bool at_end;        // the lookahead met the marker (end_marker; end_pos is just past it)
    int end_marker;
    int64_t end_pos;

    int64_t clean_end;  // no 0xFF in [pos, clean_end) (0: not known)
    // Of the bits in acc, how many at its end stand for bytes past the end
    // of the file (zeros, as the reference reads them). Once fewer bits
    // than that remain, the decoder has used data the file does not have.
    int past_end_bits;

    bool used_bytes_past_end() const { return past_end_bits > avail; }

    int get8() { return pos < size ? data[pos++] : 0; }

    // Tops the lookahead up to more than 56 bits, reading bytes as the
    // reference does: a stuffed 0xFF 0x00 (after any 0xFF fill bytes) is
    // 0xFF, 0xFF then a byte other than 0 is the marker, and past the end
    // of the file every byte is 0. Up to the next 0xFF bytes are taken
    // eight at a time with no test; near it, byte by byte, out of line.
    inline __attribute__((always_inline)) void fill() {
        if (pos + 8 <= clean_end) {
            pos += append_bytes(data + pos, acc, avail);
            return;
        }
        fill_bytes(*this);
    }
    // The eight bytes at `at` are data: as many whole ones as fit go to the
    // lookahead `acc` holding `avail` bits (none when it is full, where a
    // shift of 64 takes nothing), so that the bits past them stay zero.
    // Returns how many.
    static inline __attribute__((always_inline)) int append_bytes(const uint8_t *at, uint64_t &acc, int &avail) {
        uint64_t word;
        std::memcpy(&word, at, 8);
        const int bytes = (64 - avail) >> 3;
        // The callers leave at least 16 bits in acc, so bytes < 8 and the
        // masked shift is the one meant.
        acc |= (__builtin_bswap64(word) & ~(~uint64_t{0} >> ((8 * bytes) & 63))) >> (avail & 63);
        avail += 8 * bytes;
        return bytes;
    }
    __attribute__((noinline)) static void fill_bytes(bit_reader &r) {
        while (r.avail <= 56) {
            if (r.at_end) {
                r.avail += 8;  // zeros
                continue;
            }
            if (r.pos >= r.size) r.past_end_bits += 8;  // the byte below is a zero the file lacks
            const int b = r.pos < r.clean_end ? r.data[r.pos++] : r.get8();
            if (b == 0xFF) {
                int c = r.get8();
                while (c == 0xFF) c = r.get8();
                if (c != 0) {
                    r.at_end = true;
                    r.end_marker = c;
                    r.end_pos = r.pos;
                    r.real = r.avail;  // all of it data; zeros from here
                    continue;
                }
            }
            r.acc |= static_cast<uint64_t>(b) << (56 - r.avail);
            r.avail += 8;
        }
        if (r.at_end) {
            r.clean_end = 0;
        } else if (r.pos >= r.clean_end && r.pos < r.size) {  // past the 0xFF known: find the next
            const void *ff = std::memchr(r.data + r.pos, 0xFF, static_cast<size_t>(r.size - r.pos));
            r.clean_end = ff ? static_cast<const uint8_t *>(ff) - r.data : r.size;
        }
    }
    uint32_t top32() const { return static_cast<uint32_t>(acc >> 32); }
    // The reference's count after its refill before a code, while it
    // cannot meet the marker: below 16, whole bytes to more than 24.
    static int refilled_count(int bits) {
        const int due = (bits - 16) >> 31;  // all ones when below 16
        return bits + (((((24 - bits) >> 3) + 1) << 3) & due);
    }
    void consume(int n) {
        acc <<= n;
        avail -= n;
        real -= n;
        bits -= n;
    }

    // The reference's refill, as accounting: the bytes it would load are
    // in the lookahead already; whether it meets the marker depends on how
    // much data is left.
    inline __attribute__((always_inline)) void grow() {
        if (avail < 32) fill();
        do {
            if (!nomore && at_end && real < bits + 8) {
                nomore = true;
                marker = end_marker;
                return;
            }
            bits += 8;
        } while (bits <= 24);
    }

    inline __attribute__((always_inline)) int huff_decode(const huffman_table &h) {
        if (bits < 16) grow();
        if (avail < 32) fill();
        const uint32_t buffer = top32();
        int c = static_cast<int>(buffer >> (32 - k_fast_bits));
        int k = h.fast[c];
        if (k < 255) {
            const int s = h.size[k];
            if (s > bits) return -1;
            consume(s);
            return h.values[k];
        }
        const uint32_t temp = buffer >> 16;
        for (k = k_fast_bits + 1;; ++k)
            if (temp < h.maxcode[k]) break;
        if (k == 17) {
            bits -= 16;
            return -1;
        }
        if (k > bits) return -1;
        c = static_cast<int>((buffer >> (32 - k)) & k_bit_mask[k]) + h.delta[k];
        if (c < 0 || c >= 256) return -1;
        consume(k);
        return h.values[c];
    }

    inline __attribute__((always_inline)) int extend_receive(int n) {
        if (bits < n) grow();
        if (bits < n) return 0;
        if (avail < 32) fill();
        const uint32_t buffer = top32();
        const int sign = static_cast<int>(buffer >> 31);
        const uint32_t k = buffer >> (32 - n);
        consume(n);
        return static_cast<int>(k + static_cast<uint32_t>(k_extend_bias[n] & (sign - 1)));
    }

    int get_bits(int n) {
        if (bits < n) grow();
        if (bits < n) return 0;
        if (avail < 32) fill();
        const uint32_t k = top32() >> (32 - n);
        consume(n);
        return static_cast<int>(k);
    }

    int get_bit() {
        if (bits < 1) grow();
        if (bits < 1) return 0;
        if (avail < 32) fill();
        const uint32_t k = top32();
        consume(1);
        return k & 0x80000000u ? 1 : 0;
    }
};

}  // namespace imgtext::jpeg

#endif
