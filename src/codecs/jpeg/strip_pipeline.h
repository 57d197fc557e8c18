// The JPEG decoder's two-thread strip pipeline: rows of decoded blocks passed from the reading side to the pixel side.
#ifndef IMGTEXT_JPEG_STRIP_PIPELINE_H
#define IMGTEXT_JPEG_STRIP_PIPELINE_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "codecs/jpeg/idct_queue.h"

namespace imgtext::jpeg {

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
    // Room for `blocks` a row, as many rows ahead as about `budget` bytes
    // allow (from 2 to 16): the two sides' pace varies along the picture,
    // not least where the result's fresh pages are faulted in, 2 MB at a
    // time (4 MB suits that; a picture streamed to a sink has no such pages).
    bool allocate(size_t blocks, size_t budget) {
        const size_t row_bytes = blocks * (64 * sizeof(int16_t) + sizeof(job));
        const size_t rows = budget / (row_bytes ? row_bytes : 1);
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
    void publish() {
        signal([&] { produced_.fetch_add(1, std::memory_order_release); });
    }
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
    void release() {
        signal([&] { consumed_.fetch_add(1, std::memory_order_release); });
    }

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

}  // namespace imgtext::jpeg

#endif
