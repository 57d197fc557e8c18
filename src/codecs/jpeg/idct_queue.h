// The JPEG decoder's IDCT queue: decoded blocks waiting for their transform, in the form chosen for the decode.
#ifndef IMGTEXT_JPEG_IDCT_QUEUE_H
#define IMGTEXT_JPEG_IDCT_QUEUE_H

#include <cstdint>

#include "codecs/jpeg/jpeg_decoder.h"

namespace imgtext::jpeg {

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

    // Runs the widest form the processor has, within what `kernel` allows.
    explicit idct_queue(jpeg_decode_kernel kernel);
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
    void run_next();
    int mode_ = 0;
    int first_ = 0, count_ = 0;
    alignas(32) int16_t slots_[4][64];
    job jobs_[4];
};

}  // namespace imgtext::jpeg

#endif
