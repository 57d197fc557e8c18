// JPEG decoding that gives exactly what stb_image 2.30 gives in this
// library, for the files most pictures are: 8-bit baseline (one interleaved
// scan, or one grey scan) and progressive, grey or YCbCr, components sampled
// once or twice across and down. stb_image remains the reference: every
// decision it makes is made here the same way, damaged files included -
// the marker walk, the Huffman decoding with its lookahead tables and its
// treatment of the bytes after the data runs out, the restart handling, the
// checks and their failure reasons, and the arithmetic of its x86 kernels
// (the integer IDCT with its 16-bit intermediate steps, the upsampling
// filters and the fixed-point YCbCr conversion). Where it would meet
// something else (other samplings, CMYK, RGB ids after the scan, several
// baseline scans, a failure that leaves no reason of its own) it stops and
// says so, and the caller hands the file to stb_image.
//
// What differs is where the time and memory go:
// - the entropy decoder reads through a 64-bit lookahead filled eight bytes
//   at a time, keeping stb's count of loaded bits beside it (that count
//   decides where damaged data ends); far from the end of the data one
//   lookup decodes a code together with its value bits, or two such codes;
// - baseline pictures are decoded an MCU row at a time into a small ring of
//   component rows and upsampled and colour-converted straight into the
//   RGBA result as soon as the rows each output row needs are there, so
//   neither full-size component planes nor a separate conversion pass
//   exist (stb holds every plane at full size);
// - progressive pictures keep stb's coefficient arrays and do the same at
//   the end;
// - a baseline block whose only value is its DC is written as the one
//   value the IDCT would give all its pixels, with no transform;
// - the IDCT runs on two blocks at once, and the upsampling and colour
//   conversion on 16 pixels, with AVX2 where the processor has it, with
//   SSE2 otherwise; the portable code computes the same 16-bit steps one
//   lane at a time;
// - on request, a baseline scan's blocks become pixels on a second thread
//   while the calling one goes on decoding the data.
#include "codecs/jpeg/jpeg_decoder.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// stb_image uses its SSE2 kernels on x86-64, which is where this decoder
// runs; the build adds the AVX2 unit where it can (IMGTEXT_JPEG_AVX2).
#if (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#define IMGTEXT_JPEG_X86 1
#include "codecs/jpeg/kernels.h"
#else
#define IMGTEXT_JPEG_X86 0
#endif
#if !defined(IMGTEXT_JPEG_AVX2)
#define IMGTEXT_JPEG_AVX2 0
#endif

namespace imgtext {

namespace {

constexpr int k_fast_bits = 9;
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
constexpr uintptr_t k_huge_page = uintptr_t{1} << 21;  // x86-64's, which the result asks the kernel for

// Row-order position in the block of each zigzag index; corrupt runs may
// index past 63 and land on 63, as the reference lets them.
const uint8_t k_dezigzag[64 + 15] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
                                     40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
                                     29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
                                     47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

const uint32_t k_bit_mask[17] = {0,   1,    3,    7,    15,   31,    63,    127,  255,
                                 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};
const int k_extend_bias[16] = {0,    -1,   -3,    -7,    -15,   -31,   -63,    -127,
                               -255, -511, -1023, -2047, -4095, -8191, -16383, -32767};

struct huffman_table {
    uint8_t fast[1 << k_fast_bits];
    uint16_t code[256];
    uint8_t values[256];
    uint8_t size[257];
    uint32_t maxcode[18];
    int delta[17];
};

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

// ---------------------------------------------------------------------------
// Kernels

inline int16_t wrap16(int32_t v) { return static_cast<int16_t>(v); }
inline int16_t saturate16(int32_t v) {
    return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}
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

// Blocks waiting for their IDCT. A baseline block is decoded into one of
// the queue's slots and transformed a few blocks later, by which time the
// decoder's scattered stores into it have long left (reading them back at
// once would stall), and the vector code can take two at a time.
class idct_queue {
public:
    // A block's values, their factors, where its pixels go, and whether the
    // DC is all there is.
    struct job {
        uint8_t *out;
        int stride;
        const int16_t *data;
        const uint16_t *dq;
        bool dc_only;
    };

    explicit idct_queue(jpeg_decode_kernel kernel) {
#if IMGTEXT_JPEG_AVX2
        static const bool avx2 = processor_has_avx2();
        mode_ = kernel == jpeg_decode_kernel::portable ? 0 : kernel == jpeg_decode_kernel::sse2 || !avx2 ? 1 : 2;
#elif IMGTEXT_JPEG_X86
        mode_ = kernel == jpeg_decode_kernel::portable ? 0 : 1;
#else
        (void)kernel;
#endif
    }
    // Where the next block's values go.
    int16_t *slot() { return slots_[(first_ + count_) & 3]; }
    // Queues the block at `data` (a slot, or values that stay put) with its
    // factors and destination. A block with nothing but its DC (`dc_only`)
    // needs no transform, but it waits its turn all the same: a damaged scan
    // can name a component twice and so write one place twice, and the
    // later block must win.
    void add(uint8_t *out, int stride, const int16_t *data, const uint16_t *dq, bool dc_only = false) {
        jobs_[(first_ + count_) & 3] = job{out, stride, data, dq, dc_only};
        if (++count_ == 4) run_next();
    }
    void flush() {
        while (count_) run_next();
    }
    // 0 portable, 1 SSE2, 2 AVX2: what every kernel of this decode uses.
    int level() const { return mode_; }

private:
    // The oldest job, with the next one where the AVX2 kernel can take both.
    void run_next() {
        const job &a = jobs_[first_];
        int done = 1;
#if IMGTEXT_JPEG_AVX2
        const job &b = jobs_[(first_ + 1) & 3];
        if (mode_ == 2 && count_ >= 2 && !a.dc_only && !b.dc_only) {
            jpeg_idct_pair_avx2(a.out, a.stride, a.data, a.dq, b.out, b.stride, b.data, b.dq);
            done = 2;
        } else
#endif
            run_one(a);
        first_ = (first_ + done) & 3;
        count_ -= done;
    }
    void run_one(const job &j) const {
        if (j.dc_only) {
            const uint8_t value = idct_flat_value(j.data[0] * j.dq[0]);
            for (int r = 0; r < 8; ++r) std::memset(j.out + static_cast<std::ptrdiff_t>(r) * j.stride, value, 8);
            return;
        }
#if IMGTEXT_JPEG_X86
        if (mode_ > 0) {
            idct_sse2(j.out, j.stride, j.data, j.dq);
            return;
        }
#endif
        idct_portable(j.out, j.stride, j.data, j.dq);
    }
    int mode_ = 0;
    int first_ = 0, count_ = 0;
    alignas(32) int16_t slots_[4][64];
    job jobs_[4];
};

// MCU rows of decoded blocks, passed from the thread that reads the
// entropy-coded data to the one that turns them into pixels, a few rows
// apart. Each row's blocks keep their order, so the later of two blocks in
// one place still wins.
class strip_pipeline {
public:
    using job = idct_queue::job;  // its values in the strip's own `coeff`
    struct strip {
        int16_t *coeff;  // 64 values a block
        job *jobs;
        int count;
        int stop_mcu;  // where a scan stopped early in this row, else -1
    };

    strip_pipeline() = default;
    strip_pipeline(const strip_pipeline &) = delete;
    strip_pipeline &operator=(const strip_pipeline &) = delete;
    ~strip_pipeline() {
        for (int i = 0; i < depth_ && strips_; ++i) std::free(strips_[i].coeff), std::free(strips_[i].jobs);
        std::free(strips_);
    }
    // Room for `blocks` a row, as many rows ahead as about 4 MB allow (from
    // 2 to 16): the two sides' pace varies along the picture, not least
    // where the result's fresh pages are faulted in, 2 MB at a time.
    bool allocate(size_t blocks) {
        const size_t row_bytes = blocks * (64 * sizeof(int16_t) + sizeof(job));
        const size_t rows = (size_t{4} << 20) / (row_bytes ? row_bytes : 1);
        depth_ = rows < 2 ? 2 : rows > 16 ? 16 : static_cast<int>(rows);
        strips_ = static_cast<strip *>(std::calloc(static_cast<size_t>(depth_), sizeof(strip)));
        if (!strips_) return false;
        for (int i = 0; i < depth_; ++i) {
            strips_[i].coeff = static_cast<int16_t *>(std::malloc(blocks * 64 * sizeof(int16_t)));
            strips_[i].jobs = static_cast<job *>(std::malloc(blocks * sizeof(job)));
            if (!strips_[i].coeff || !strips_[i].jobs) return false;
        }
        return true;
    }

    // The reading side: the strip for row `row`, once the pixel side has
    // finished with the row that used it last; then publish() or close().
    // While there is no room, `idle()` is called for other work, a piece at
    // a time, until it returns false (none left).
    template <typename Idle>
    strip &open(int row, Idle idle) {
        auto room = [&] { return row - consumed_.load(std::memory_order_acquire) < depth_; };
        while (!room() && idle()) {
        }
        wait_for(room);
        strip &s = strips_[row % depth_];
        s.count = 0;
        s.stop_mcu = -1;
        return s;
    }
    void publish() { signal([&] { produced_.fetch_add(1, std::memory_order_release); }); }
    // No more rows: after the last one, or after a failure (nothing more
    // is turned into pixels then, as the result is dropped).
    void close(bool failed) {
        signal([&] { closed_.store(failed ? 2 : 1, std::memory_order_release); });
    }

    // The pixel side: the next row, or null when there is none to come.
    strip *next() {
        const int consumed = consumed_.load(std::memory_order_relaxed);  // this side's own count
        auto ready = [&] { return produced_.load(std::memory_order_acquire) > consumed; };
        wait_for([&] { return ready() || closed_.load(std::memory_order_acquire); });
        if (closed_.load(std::memory_order_acquire) == 2 || !ready()) return nullptr;
        return &strips_[consumed % depth_];
    }
    // How many rows the pixel side has finished (it may be further on).
    int rows_done() const { return consumed_.load(std::memory_order_relaxed); }
    void release() { signal([&] { consumed_.fetch_add(1, std::memory_order_release); }); }

private:
    // A row takes well under a millisecond: a waiting side spins a little
    // before it sleeps, since waking a sleeping thread can take as long.
    template <typename Ready>
    void wait_for(Ready ready) {
        for (int i = 0; i < 2000; ++i) {
            if (ready()) return;
#if defined(__x86_64__) || defined(_M_X64)
            __builtin_ia32_pause();
#endif
        }
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, ready);
    }
    // Changes the state, then wakes a sleeping side. Taking the lock between
    // the two means a side about to sleep either sees the change or is
    // asleep when the wake-up comes.
    template <typename Change>
    void signal(Change change) {
        change();
        { std::lock_guard<std::mutex> lock(mutex_); }
        changed_.notify_all();
    }

    strip *strips_ = nullptr;
    int depth_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<int> produced_{0}, consumed_{0};
    std::atomic<int> closed_{0};  // 1: after the last row, 2: after a failure
};

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
        int g = y_fixed + crv * -(2925 << 8) + static_cast<int>(static_cast<uint32_t>(cbv * -(1410 << 8)) & 0xffff0000u);
        int b = y_fixed + cbv * (7258 << 8);
        r >>= 20, g >>= 20, b >>= 20;
        out[i * 4] = static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
        out[i * 4 + 1] = static_cast<uint8_t>(g < 0 ? 0 : g > 255 ? 255 : g);
        out[i * 4 + 2] = static_cast<uint8_t>(b < 0 ? 0 : b > 255 ? 255 : b);
        out[i * 4 + 3] = 255;
    }
}

// ---------------------------------------------------------------------------
// The decoder

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
        acc |= (__builtin_bswap64(word) & ~(~uint64_t{0} >> (8 * bytes))) >> (avail & 63);
        avail += 8 * bytes;
        return bytes;
    }
    __attribute__((noinline)) static void fill_bytes(bit_reader &r) {
        while (r.avail <= 56) {
            if (r.at_end) {
                r.avail += 8;  // zeros
                continue;
            }
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

class decoder {
public:
    decoder(const uint8_t *data, int size, jpeg_decode_kernel kernel, int threads)
        : rd_{data, size, 0, 0, 0, 0, 0, k_marker_none, false, false, k_marker_none, 0, 0},
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

    jpeg_decode_result run(int *width, int *height, unsigned char **pixels, const char **reason);

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

    // -- entropy-coded data
    outcome decode_block(bit_reader &r, int16_t data[64], int dc_table, int ac_table, int b, const uint16_t *dq,
                            bool &flat);
    int decode_ac_exact(bit_reader &r, int16_t data[64], int k, const huffman_table &hac, const int16_t *fac);
    outcome decode_block_prog_dc(int16_t data[64], const huffman_table &hdc, int b);
    outcome decode_block_prog_ac(int16_t data[64], const huffman_table &hac, const int16_t *fac);
    void reset();
    void end_scan();
    bool restart_due(bool &stop);

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
    bool streamed_rgb_ = false;
    int strips_done_ = 0;
    uint8_t *output_ = nullptr;
    int next_row_ = 0;
    // With two threads, the baseline scan's blocks go through here.
    int threads_ = 1;
    strip_pipeline *pipe_ = nullptr;
    strip_pipeline::strip *strip_ = nullptr;  // the row being read
    size_t prefaulted_ = 0;  // how much of the result the reading side has had faulted in
};

// --- entropy-coded data --------------------------------------------------

inline __attribute__((always_inline)) outcome decoder::decode_block(bit_reader &r, int16_t data[64],
                                                                      int dc_table, int ac_table, int b,
                                                                      const uint16_t *dq, bool &flat) {
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
        auto step = [&]() __attribute__((always_inline)) -> int {
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
                if ((state = step()) != go_on || (state = step()) != go_on || (state = step()) != go_on ||
                    (state = step()) != go_on) {
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
bool decoder::restart_due(bool &stop) {
    if (--todo_ > 0) return false;
    if (rd_.bits < 24) rd_.grow();
    if (!(rd_.marker >= 0xD0 && rd_.marker <= 0xD7)) {
        stop = true;
        return true;
    }
    reset();
    return true;
}

// --- markers and headers ---------------------------------------------------

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
            uint64_t e = static_cast<uint64_t>(length + s);
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
        case 0xC4:  // Huffman tables
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
                if (tc != 0) build_fast_ac(fast_ac_[th], h), build_wide_ac(wide_ac_[th], h);
                else build_wide_dc(wide_dc_[th], h);
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

outcome decoder::decode_image() {
    restart_interval_ = 0;
    outcome o = decode_header();
    if (o != outcome::ok) return o;
    o = setup_output();
    if (o != outcome::ok) return o;
    int m = get_marker();
    while (m != 0xD9) {
        if (m == 0xDA) {
            o = process_scan_header();
            if (o != outcome::ok) return o;
            o = parse_entropy_coded_data();
            if (o != outcome::ok) return o;
            end_scan();
            if (rd_.marker == k_marker_none) rd_.marker = skip_junk_at_end();
            m = get_marker();
            if (m >= 0xD0 && m <= 0xD7) m = get_marker();
        } else if (m == 0xDC) {
            const int ld = get16();
            const int nl = get16();
            if (ld != 4) return fail("bad DNL len");
            if (nl != img_y_) return fail("bad DNL height");
            m = get_marker();
        } else {
            // A marker the reference cannot take here ends the picture,
            // successfully, with what has been decoded so far.
            if (process_marker(m) != outcome::ok) break;
            m = get_marker();
        }
    }
    // Only a progressive picture that reached its end marker gets its
    // coefficients transformed; the others keep the zeroed planes.
    if (progressive_ && m == 0xD9) finish_progressive();
    else finish_baseline();
    return outcome::ok;
}

// ---------------------------------------------------------------------------
// Scans and output

outcome decoder::setup_output() {
    if (!mad3_valid(4, img_x_, img_y_, 1)) return outcome::defer;
    const size_t bytes = output_bytes();
    output_ = static_cast<uint8_t *>(std::malloc(bytes));
    if (!output_) return fail("outofmem");
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // A large result is written once, front to back: asking for huge pages
    // spares the kernel most of its page faults (a hint; the memory is the
    // same either way).
    if (bytes >= 4 * k_huge_page) {
        const uintptr_t start = (reinterpret_cast<uintptr_t>(output_) + k_huge_page - 1) & ~(k_huge_page - 1);
        const uintptr_t end = (reinterpret_cast<uintptr_t>(output_) + bytes) & ~(k_huge_page - 1);
        madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
    }
#endif
    for (int i = 0; i < img_n_; ++i) {
        component &k = comp_[i];
        k.hs = h_max_ / k.h;
        k.vs = v_max_ / k.v;
        k.ystep = k.vs >> 1;
        k.w_lores = (img_x_ + k.hs - 1) / k.hs;
        k.ypos = 0;
        k.line0 = k.line1 = 0;
        // A strip is one MCU row of this component: the rows an interleaved
        // scan fills at a time (for a single grey component, a block row).
        k.strip_rows = img_n_ == 1 ? 8 : k.v * 8;
        k.ring_rows = 2 * k.strip_rows;
        k.ring = static_cast<uint8_t *>(std::calloc(static_cast<size_t>(k.ring_rows), static_cast<size_t>(k.w2)));
        k.linebuf = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(img_x_) + 3));
        if (!k.ring || !k.linebuf) return fail("outofmem");
    }
    return outcome::ok;
}

// Where a scan stops early, the rest of its MCU row keeps the zeros of the
// reference's planes (a scan that runs to the end overwrites every block, so
// strips are not cleared beforehand).
void decoder::clear_strip_from(int strip, int mcu) {
    idct_.flush();
    for (int i = 0; i < img_n_; ++i) {
        component &k = comp_[i];
        const int first = strip * k.strip_rows % k.ring_rows;
        const int from = mcu * (img_n_ == 1 ? 1 : k.h) * 8;
        if (from >= k.w2) continue;
        for (int r = 0; r < k.strip_rows; ++r)
            std::memset(k.ring + static_cast<size_t>(first + r) * static_cast<size_t>(k.w2) + from, 0,
                        static_cast<size_t>(k.w2 - from));
    }
}

// Clears the ring rows of MCU row `strip`, which it is about to receive.
void decoder::begin_strip(int strip) {
    for (int i = 0; i < img_n_; ++i) {
        component &k = comp_[i];
        const int first = strip * k.strip_rows % k.ring_rows;
        std::memset(k.ring + static_cast<size_t>(first) * static_cast<size_t>(k.w2), 0,
                    static_cast<size_t>(k.strip_rows) * static_cast<size_t>(k.w2));
    }
}

// Writes every output row whose component rows are ready (all: the rest of
// the picture, every strip being complete).
void decoder::emit_rows(bool all) {
    idct_.flush();
    const bool rgb = is_rgb();
    while (next_row_ < img_y_) {
        const uint8_t *rows[4];
        for (int i = 0; i < img_n_; ++i) {
            const component &k = comp_[i];
            const bool bottom = k.ystep >= (k.vs >> 1);
            const int near = bottom ? k.line1 : k.line0, far = bottom ? k.line0 : k.line1;
            const int needed = k.vs == 2 && far > near ? far : near;
            if (!all && needed >= k.rows_ready) return;
            const uint8_t *near_row = k.ring + static_cast<size_t>(near % k.ring_rows) * static_cast<size_t>(k.w2);
            const uint8_t *far_row = k.ring + static_cast<size_t>(far % k.ring_rows) * static_cast<size_t>(k.w2);
            rows[i] = resample_row(k.linebuf, near_row, far_row, k.w_lores, k.hs, k.vs, idct_.level());
        }
        uint8_t *out = output_ + static_cast<size_t>(next_row_) * static_cast<size_t>(img_x_) * 4;
        if (img_n_ == 3) {
            if (rgb) {
                for (int x = 0; x < img_x_; ++x) {
                    out[x * 4] = rows[0][x], out[x * 4 + 1] = rows[1][x], out[x * 4 + 2] = rows[2][x];
                    out[x * 4 + 3] = 255;
                }
            } else {
                ycbcr_to_rgba(out, rows[0], rows[1], rows[2], img_x_, idct_.level());
            }
        } else {
            for (int x = 0; x < img_x_; ++x) {
                out[x * 4] = out[x * 4 + 1] = out[x * 4 + 2] = rows[0][x];
                out[x * 4 + 3] = 255;
            }
        }
        for (int i = 0; i < img_n_; ++i) {
            component &k = comp_[i];
            if (++k.ystep >= k.vs) {
                k.ystep = 0;
                k.line0 = k.line1;
                if (++k.ypos < k.y) ++k.line1;
            }
        }
        ++next_row_;
    }
}

outcome decoder::parse_entropy_coded_data() {
    reset();
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
    if (threads_ > 1 && pipe.allocate(blocks_per_strip())) {
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
                restart_due(stop);
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
                if (restart_due(stop) && stop) stop_mcu = i + 1;
                r = rd_;
            } else {
                --todo_;
            }
        }
        rd_ = r;
        end_scan_strip(j, stop_mcu);
    }
    return outcome::ok;
}

int16_t *decoder::block_slot() { return strip_ ? strip_->coeff + 64 * strip_->count : idct_.slot(); }

void decoder::queue_block(uint8_t *out, int stride, const int16_t *data, const uint16_t *dq, bool dc_only) {
    if (strip_) strip_->jobs[strip_->count++] = strip_pipeline::job{out, stride, data, dq, dc_only};
    else idct_.add(out, stride, data, dq, dc_only);
}

void decoder::begin_scan_strip(int strip) {
    strip_ = pipe_ ? &pipe_->open(strip, [this] { return prefault_output_ahead(); }) : nullptr;
}

// With two threads the pixel side is the slower, and much of its time goes
// on the kernel zeroing the result's fresh pages as it first writes them
// (measured here at twice what the same zeroing costs on one thread). So
// when the reading side would only wait for it, that side has the pages
// ahead of the pixel side's row faulted in instead, one huge page at a
// time. Nothing is written: the pages read as zeros either way, and a page
// the pixel side reached first is left as it is.
bool decoder::prefault_output_ahead() {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    const size_t bytes = output_bytes();
    if (bytes < 4 * k_huge_page) return false;  // small results are not worth a system call
    // A strip makes as many result rows as any component's strip rows, upsampled.
    const size_t strip_bytes =
        static_cast<size_t>(comp_[0].strip_rows * comp_[0].vs) * static_cast<size_t>(img_x_) * 4;
    prefaulted_ = std::max(prefaulted_, static_cast<size_t>(pipe_->rows_done() + 1) * strip_bytes);
    if (prefaulted_ >= bytes) return false;
    const uintptr_t base = reinterpret_cast<uintptr_t>(output_), start = base + prefaulted_;
    const uintptr_t end = std::min((start + k_huge_page) & ~(k_huge_page - 1), base + bytes);
    const uintptr_t page = start & ~uintptr_t{4095};  // no byte changes, so a neighbour's share is safe
    if (madvise(reinterpret_cast<void *>(page), end - page, MADV_POPULATE_WRITE) != 0) {
        prefaulted_ = bytes;  // an older kernel: the pixel side faults them in itself
        return false;
    }
    prefaulted_ = end - base;
    return true;
#else
    return false;
#endif
}

void decoder::end_scan_strip(int strip, int stop_mcu) {
    if (!strip_) return complete_strip(strip, stop_mcu);
    strip_->stop_mcu = stop_mcu;
    strip_ = nullptr;
    pipe_->publish();
}

// A row's blocks are all transformed: where the scan stopped early the rest
// of the row keeps its zeros, and the output rows it completes are written.
void decoder::complete_strip(int strip, int stop_mcu) {
    if (stop_mcu >= 0) clear_strip_from(strip, stop_mcu);
    for (int n = 0; n < img_n_; ++n) comp_[n].rows_ready = (strip + 1) * comp_[n].strip_rows;
    ++strips_done_;
    emit_rows(false);
}

// The second thread's work: each row as it comes, in order.
void decoder::pixels_from_strips() {
    for (int strip = 0;; ++strip) {
        const strip_pipeline::strip *s = pipe_->next();
        if (!s) return;
        for (int b = 0; b < s->count; ++b) {
            const strip_pipeline::job &j = s->jobs[b];
            idct_.add(j.out, j.stride, j.data, j.dq, j.dc_only);
        }
        complete_strip(strip, s->stop_mcu);  // which runs every queued transform first
        pipe_->release();
    }
}

// The strips the scan never reached stay zero, as the reference's zeroed
// planes do; then every remaining row is written. (Also the whole of a
// progressive picture that never reached its end.)
void decoder::finish_baseline() {
    const int strips = img_n_ == 1 ? (comp_[0].y + 7) >> 3 : mcu_y_;
    for (; strips_done_ < strips; ++strips_done_) {
        begin_strip(strips_done_);
        for (int n = 0; n < img_n_; ++n) comp_[n].rows_ready = (strips_done_ + 1) * comp_[n].strip_rows;
        emit_rows(false);
    }
    emit_rows(true);
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
                if (restart_due(stop) && stop) return outcome::ok;
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
            if (restart_due(stop) && stop) return outcome::ok;
        }
    return outcome::ok;
}

// Dequantises and transforms each strip's blocks (those the reference
// transforms: within the component's own size) and writes the rows.
void decoder::finish_progressive() {
    const int strips = img_n_ == 1 ? (comp_[0].y + 7) >> 3 : mcu_y_;
    for (int j = 0; j < strips; ++j) {
        begin_strip(j);
        for (int n = 0; n < img_n_; ++n) {
            component &k = comp_[n];
            const int w = (k.x + 7) >> 3, h = (k.y + 7) >> 3;
            const int block_rows = k.strip_rows / 8;
            const uint16_t *dq = dequant_[k.tq];
            for (int by = j * block_rows; by < (j + 1) * block_rows && by < h; ++by) {
                uint8_t *row = k.ring + static_cast<size_t>(by * 8 % k.ring_rows) * static_cast<size_t>(k.w2);
                for (int bx = 0; bx < w; ++bx) idct_.add(row + bx * 8, k.w2, k.coeff + 64 * (bx + by * k.coeff_w), dq);
            }
            k.rows_ready = (j + 1) * k.strip_rows;
        }
        emit_rows(false);
    }
    emit_rows(true);
}

jpeg_decode_result decoder::run(int *width, int *height, unsigned char **pixels, const char **reason) {
    const outcome o = decode_image();
    if (o == outcome::defer) return jpeg_decode_result::not_handled;
    if (o == outcome::fail) {
        *reason = reason_;
        return jpeg_decode_result::failed;
    }
    // Colour handling is decided by markers anywhere in the file; rows
    // already written the other way go back to the reference.
    if (scans_ > 0 && !progressive_ && streamed_rgb_ != is_rgb()) return jpeg_decode_result::not_handled;
    *width = img_x_;
    *height = img_y_;
    *pixels = output_;
    output_ = nullptr;
    return jpeg_decode_result::decoded;
}

}  // namespace

bool jpeg_decoder_available() { return IMGTEXT_JPEG_X86 != 0; }

jpeg_decode_result decode_jpeg_rgba(const unsigned char *data, int size, int *width, int *height,
                                    unsigned char **pixels, const char **failure_reason, jpeg_decode_kernel kernel,
                                    int threads) {
    if (!jpeg_decoder_available() || size < 1 || data[0] != 0xFF) return jpeg_decode_result::not_handled;
    decoder *d = new (std::nothrow) decoder(data, size, kernel, threads);
    if (!d) return jpeg_decode_result::not_handled;
    const jpeg_decode_result result = d->run(width, height, pixels, failure_reason);
    delete d;
    return result;
}

}  // namespace imgtext
