// The JPEG decoder's output: component strips in a ring, upsampled and colour-converted into the RGBA result.
#include "codecs/jpeg/decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#  include <sys/mman.h>
#endif

#include "codecs/jpeg/kernels.h"

namespace imgtext::jpeg {

namespace {

constexpr uintptr_t k_huge_page = uintptr_t{1} << 21;  // x86-64's, which the result asks the kernel for

}  // namespace

outcome decoder::setup_output() {
    if (!mad3_valid(4, img_x_, img_y_, 1)) return outcome::defer;
    if (sink_ && (progressive_ || !sink_->begin(img_x_, img_y_))) return outcome::defer;
    const size_t bytes = sink_ ? 0 : output_bytes();
    if (!sink_) output_ = static_cast<uint8_t *>(std::malloc(bytes));
    if (!sink_ && !output_) return fail("outofmem");
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
    const int components = img_n_;  // 1 or 3, as the frame header was checked
    if (components != 1 && components != 3) return;
    while (next_row_ < img_y_) {
        const uint8_t *rows[4] = {};
        for (int i = 0; i < components; ++i) {
            const component &k = comp_[i];
            const bool bottom = k.ystep >= (k.vs >> 1);
            const int near = bottom ? k.line1 : k.line0, far = bottom ? k.line0 : k.line1;
            const int needed = k.vs == 2 && far > near ? far : near;
            if (!all && needed >= k.rows_ready) return;
            const uint8_t *near_row = k.ring + static_cast<size_t>(near % k.ring_rows) * static_cast<size_t>(k.w2);
            const uint8_t *far_row = k.ring + static_cast<size_t>(far % k.ring_rows) * static_cast<size_t>(k.w2);
            rows[i] = resample_row(k.linebuf, near_row, far_row, k.w_lores, k.hs, k.vs, idct_.level());
        }
        uint8_t *out =
            sink_ ? sink_->row(next_row_) : output_ + static_cast<size_t>(next_row_) * static_cast<size_t>(img_x_) * 4;
        if (components == 3) {
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
        if (sink_ && ((next_row_ & 15) == 0 || next_row_ == img_y_)) sink_->rows_done(next_row_);
    }
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
    if (!output_ || bytes < 4 * k_huge_page)
        return false;  // no result of its own (rows go to a sink), or small results are not worth a system call
    // A strip makes as many result rows as any component's strip rows, upsampled.
    const size_t strip_bytes = static_cast<size_t>(comp_[0].strip_rows * comp_[0].vs) * static_cast<size_t>(img_x_) * 4;
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

}  // namespace imgtext::jpeg
