// One drawing call's glyph boxes and coverage bitmaps, and its glyph work.
#include "text/glyph_cache.h"

#include <cstdint>
#include <cstdlib>

#include "frame/errors.h"

namespace imgtext {

glyph_coverage::~glyph_coverage() { std::free(owned); }

glyph_cache::glyph_cache(uint64_t step_budget) : steps_at_start_(charstring_steps_run()), step_budget_(step_budget) {}

glyph_cache::~glyph_cache() {
    for (size_t i = 0; i < capacity_; ++i) std::free(slots_[i].coverage), std::free(slots_[i].pixels);
    std::free(slots_);
}

size_t glyph_cache::slot_of(const font_face *font, int glyph) const {
    const uint64_t h =
        (static_cast<uint64_t>(static_cast<uint32_t>(glyph)) * 0x9E3779B97F4A7C15u) ^ reinterpret_cast<uintptr_t>(font);
    return static_cast<size_t>(h >> 17) & (capacity_ - 1);
}

glyph_cache::entry &glyph_cache::place(const entry &e) {
    size_t i = slot_of(e.font, e.glyph);
    while (slots_[i].font) i = (i + 1) & (capacity_ - 1);
    slots_[i] = e;
    ++count_;
    return slots_[i];
}

bool glyph_cache::grow() {
    const size_t old_capacity = capacity_;
    entry *old = slots_;
    const size_t capacity = capacity_ ? capacity_ * 2 : 256;
    auto *slots = static_cast<entry *>(std::calloc(capacity, sizeof(entry)));
    if (!slots) return false;
    slots_ = slots, capacity_ = capacity, count_ = 0;
    for (size_t i = 0; old && i < old_capacity; ++i)
        if (old[i].font) place(old[i]);
    std::free(old);
    return true;
}

glyph_cache::entry &glyph_cache::entry_of(const glyph_ref &g) {
    if (slots_) {
        for (size_t i = slot_of(g.font, g.glyph);; i = (i + 1) & (capacity_ - 1)) {
            entry &e = slots_[i];
            if (!e.font) break;
            if (e.font == g.font && e.glyph == g.glyph) return e;
        }
    }
    const colour_kind colour = colour_on_ ? colour_kind_of(*g.font, g.glyph) : colour_kind::none;
    const glyph_box box = colour == colour_kind::none ? glyph_bitmap_box(*g.font, g.glyph, g.scale)
                                                      : colour_glyph_box(*g.font, g.glyph, colour, g.scale);
    if (colour != colour_kind::none) ++colour_work_;
    const entry found{g.font, g.glyph, box, nullptr, colour, nullptr};
    // Without room the box is found again at the glyph's next occurrence.
    if ((!slots_ || (count_ + 1) * 2 > capacity_) && !grow()) return spare_ = found;
    return place(found);
}

void glyph_cache::coverage(entry &e, const glyph_ref &g, const glyph_window &window, glyph_coverage &out) {
    const size_t gw = static_cast<size_t>(e.box.x1 - e.box.x0), gh = static_cast<size_t>(e.box.y1 - e.box.y0);
    if (e.coverage) {
        out.bytes = e.coverage + static_cast<size_t>(window.y0) * gw + static_cast<size_t>(window.x0);
        out.stride = gw;
        return;
    }
    const size_t ww = static_cast<size_t>(window.x1 - window.x0), wh = static_cast<size_t>(window.y1 - window.y0);
    auto *bytes = static_cast<unsigned char *>(std::calloc(ww * wh, 1));
    if (!bytes) return;
    if (e.colour != colour_kind::none) {
        glyph_coverage pixels;
        colour_pixels(e, g, window, pixels);
        if (!pixels.bytes) {
            std::free(bytes);
            return;
        }
        for (size_t r = 0; r < wh; ++r)
            for (size_t c = 0; c < ww; ++c) bytes[r * ww + c] = pixels.bytes[r * pixels.stride + c * 4 + 3];
    } else {
        rasterise_glyph_window(*g.font, g.glyph, g.scale, e.box, window, bytes);
    }
    out.bytes = bytes;
    out.stride = ww;
    // Only whole bitmaps serve later occurrences wherever they land.
    const bool keep = ww == gw && wh == gh && &e != &spare_ && ww * wh <= k_coverage_budget - coverage_bytes_;
    if (keep) {
        e.coverage = bytes;
        coverage_bytes_ += ww * wh;
    } else {
        out.owned = bytes;
    }
}

void glyph_cache::colour_pixels(entry &e, const glyph_ref &g, const glyph_window &window, glyph_coverage &out) {
    const size_t gw = static_cast<size_t>(e.box.x1 - e.box.x0), gh = static_cast<size_t>(e.box.y1 - e.box.y0);
    if (e.pixels) {
        out.bytes = e.pixels + (static_cast<size_t>(window.y0) * gw + static_cast<size_t>(window.x0)) * 4;
        out.stride = gw * 4;
        return;
    }
    const size_t ww = static_cast<size_t>(window.x1 - window.x0), wh = static_cast<size_t>(window.y1 - window.y0);
    if (ww > SIZE_MAX / 4 / wh) return;
    auto *bytes = static_cast<unsigned char *>(std::calloc(ww * wh, 4));
    if (!bytes) return;
    colour_work_ += draw_colour_window(*g.font, g.glyph, e.colour, g.scale, e.box, window, text_, bytes, ww * 4);
    out.bytes = bytes;
    out.stride = ww * 4;
    const bool keep = ww == gw && wh == gh && &e != &spare_ && ww * wh * 4 <= k_coverage_budget - coverage_bytes_;
    if (keep) {
        e.pixels = bytes;
        coverage_bytes_ += ww * wh * 4;
    } else {
        out.owned = bytes;
    }
}

void glyph_cache::set_colour_glyphs(bool on, const paint &text) {
    colour_on_ = on;
    text_ = text;
}

bool glyph_cache::over_budget() const { return charstring_steps_run() - steps_at_start_ + colour_work_ > step_budget_; }

imgtext_status glyph_cache::work_exceeded() const {
    return set_error(IMGTEXT_ERROR_LIMIT,
                     colour_work_ ? "text too costly to draw: its glyphs' charstrings and colour glyphs ran more than "
                                    "%.0f steps, the limit of one drawing call"
                                  : "text too costly to draw: its glyphs' charstrings ran more than %.0f steps, the "
                                    "limit of one drawing call",
                     static_cast<double>(step_budget_));
}

}  // namespace imgtext
