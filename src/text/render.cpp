// Rasterising glyphs and compositing their coverage onto an RGBA image with
// source-over on straight alpha. All blending arithmetic is single precision
// in a fixed order, so results are the same on every compiler and platform.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "text/render.h"

#include "font/font.h"
#include "image/paint.h"
#include "text/layout.h"

namespace imgtext {

namespace {

// Blends a w x h part of a coverage bitmap (rows `stride` bytes apart) whose
// top-left lands at (gx, gy), skipping rows and then pixels outside the image
// before doing any arithmetic.
void composite_coverage(const rgba_image &image, const unsigned char *coverage, int w, int h, size_t stride,
                        int64_t gx, int64_t gy, const paint &colour) {
    for (int r = 0; r < h; ++r) {
        const int64_t dy = gy + r;
        if (dy < 0 || dy >= image.height) continue;
        unsigned char *row = image.row(dy);
        const unsigned char *cov = coverage + static_cast<size_t>(r) * stride;
        for (int c = 0; c < w; ++c) {
            const int64_t dx = gx + c;
            if (dx < 0 || dx >= image.width) continue;
            if (cov[c] == 0) continue;
            composite_pixel(row + static_cast<size_t>(dx) * 4, cov[c], colour);
        }
    }
}

// Whole coverage bitmaps of the glyphs one drawing call has rasterised, so
// a glyph that recurs (every "e" of a page) is rasterised once. The bytes are
// the same either way. Bounded in memory; a glyph it cannot keep is simply
// rasterised again. It lives for one call, so no thread shares it.
class glyph_cache {
public:
    struct entry {
        const font_face *font;
        int glyph;
        glyph_box box;
        unsigned char *coverage;  // null: free slot
    };
    glyph_cache() = default;
    glyph_cache(const glyph_cache &) = delete;
    glyph_cache &operator=(const glyph_cache &) = delete;
    ~glyph_cache() {
        for (size_t i = 0; i < capacity_; ++i) std::free(slots_[i].coverage);
        std::free(slots_);
    }

    const entry *find(const font_face *font, int glyph) const {
        if (!slots_) return nullptr;
        for (size_t i = slot_of(font, glyph);; i = (i + 1) & (capacity_ - 1)) {
            const entry &e = slots_[i];
            if (!e.coverage) return nullptr;
            if (e.font == font && e.glyph == glyph) return &e;
        }
    }

    // Takes the bitmap if there is room for it; returns false otherwise and
    // the caller keeps (and frees) it.
    bool keep(const font_face *font, int glyph, const glyph_box &box, unsigned char *coverage, size_t bytes) {
        if (bytes > k_budget - bytes_ || ((count_ + 1) * 2 > capacity_ && !grow())) return false;
        place(entry{font, glyph, box, coverage});
        bytes_ += bytes;
        return true;
    }

private:
    static constexpr size_t k_budget = 64u << 20;
    size_t slot_of(const font_face *font, int glyph) const {
        const uint64_t h = (static_cast<uint64_t>(static_cast<uint32_t>(glyph)) * 0x9E3779B97F4A7C15u) ^
                           reinterpret_cast<uintptr_t>(font);
        return static_cast<size_t>(h >> 17) & (capacity_ - 1);
    }
    void place(const entry &e) {
        size_t i = slot_of(e.font, e.glyph);
        while (slots_[i].coverage) i = (i + 1) & (capacity_ - 1);
        slots_[i] = e;
        ++count_;
    }
    bool grow() {
        const size_t old_capacity = capacity_;
        entry *old = slots_;
        const size_t capacity = capacity_ ? capacity_ * 2 : 256;
        auto *slots = static_cast<entry *>(std::calloc(capacity, sizeof(entry)));
        if (!slots) return false;
        slots_ = slots, capacity_ = capacity, count_ = 0;
        for (size_t i = 0; i < old_capacity; ++i)
            if (old[i].coverage) place(old[i]);
        std::free(old);
        return true;
    }

    entry *slots_ = nullptr;
    size_t capacity_ = 0, count_ = 0, bytes_ = 0;
};

// Draws one glyph with its pen at (pen, baseline). Glyphs with no outline
// (space, glyph 0), glyphs wholly outside the image and glyphs whose bitmap
// cannot be allocated or indexed draw nothing; the caller's pen moves on
// regardless. A glyph partly outside the image has only its visible part
// rasterised, with the same bytes the whole bitmap would have there.
void draw_glyph(const rgba_image &image, const glyph_ref &g, float pen, int64_t baseline, const paint &colour,
                glyph_cache &cache) {
    const glyph_cache::entry *cached = cache.find(g.font, g.glyph);
    const glyph_box box = cached ? cached->box : glyph_bitmap_box(*g.font, g.glyph, g.scale);
    const int gw = box.x1 - box.x0, gh = box.y1 - box.y0;
    if (gw <= 0 || gh <= 0) return;
    // The rasteriser indexes a whole bitmap with int arithmetic; glyphs it
    // could not make whole stay left out, as they always were.
    if (static_cast<uint64_t>(gw) * static_cast<uint64_t>(gh) > INT32_MAX) return;

    // Only the placement drops the pen's fraction; the pen itself keeps it.
    const int64_t gx = static_cast<int64_t>(std::floor(pen)) + box.x0;
    const int64_t gy = baseline + box.y0;
    const int64_t left = std::max<int64_t>(0, -gx), top = std::max<int64_t>(0, -gy);
    const int64_t right = std::min<int64_t>(gw, image.width - gx);
    const int64_t bottom = std::min<int64_t>(gh, image.height - gy);
    if (left >= right || top >= bottom) return;
    const glyph_window window{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                              static_cast<int>(bottom)};
    const int ww = window.x1 - window.x0, wh = window.y1 - window.y0;

    if (cached) {
        const size_t offset = static_cast<size_t>(window.y0) * static_cast<size_t>(gw) + static_cast<size_t>(window.x0);
        composite_coverage(image, cached->coverage + offset, ww, wh, static_cast<size_t>(gw), gx + left, gy + top,
                           colour);
        return;
    }
    const size_t bytes = static_cast<size_t>(ww) * static_cast<size_t>(wh);
    auto *coverage = static_cast<unsigned char *>(std::calloc(bytes, 1));
    if (!coverage) return;
    rasterise_glyph_window(*g.font, g.glyph, g.scale, box, window, coverage);
    composite_coverage(image, coverage, ww, wh, static_cast<size_t>(ww), gx + left, gy + top, colour);
    // Only whole bitmaps serve later occurrences wherever they land.
    const bool whole = ww == gw && wh == gh;
    if (!(whole && cache.keep(g.font, g.glyph, box, coverage, bytes))) std::free(coverage);
}

}  // namespace

void render_layout(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y, const paint &colour,
                   line_align align) {
    glyph_cache cache;
    for_each_placed_glyph(layout, x, y, align, [&](const glyph_ref &g, float pen, int64_t baseline) {
        draw_glyph(image, g, pen, baseline, colour, cache);
    });
}

}  // namespace imgtext
