// One drawing call's glyphs: each glyph's bitmap box, found once, and the
// whole coverage bitmaps of the glyphs it has rasterised, so that a glyph
// that recurs (every "e" of a page) is interpreted and rasterised once per
// call, by the fill, the outline and the shadow alike. The bytes are the
// same either way. It also meters the call's glyph work. It lives for one
// call, so no thread shares it.
#ifndef IMGTEXT_TEXT_GLYPH_CACHE_H
#define IMGTEXT_TEXT_GLYPH_CACHE_H

#include <cstddef>
#include <cstdint>

#include "font/font.h"
#include "image/paint.h"
#include "quendal_imgtext.h"
#include "text/colour_glyphs.h"
#include "text/layout.h"

namespace imgtext {

// A window of a glyph's coverage (or of a colour glyph's RGBA pixels), rows
// `stride` bytes apart: a view into the call's whole bitmap of the glyph
// when one is kept, else rasterised for this occurrence alone and freed with
// the view. `bytes` is null if memory ran out.
struct glyph_coverage {
    const unsigned char *bytes = nullptr;
    size_t stride = 0;
    unsigned char *owned = nullptr;
    glyph_coverage() = default;
    glyph_coverage(const glyph_coverage &) = delete;
    glyph_coverage &operator=(const glyph_coverage &) = delete;
    ~glyph_coverage();
};

class glyph_cache {
public:
    struct entry {
        const font_face *font;  // null: a free slot
        int glyph;
        glyph_box box;
        unsigned char *coverage;  // the whole bitmap, once kept
        colour_kind colour;       // drawn in its own colours (box and coverage are the colour glyph's)
        unsigned char *pixels;    // a colour glyph's whole RGBA bitmap, once kept
    };

    explicit glyph_cache(uint64_t step_budget = QUENDAL_IMGTEXT_MAX_DRAW_STEPS);
    glyph_cache(const glyph_cache &) = delete;
    glyph_cache &operator=(const glyph_cache &) = delete;
    ~glyph_cache();

    // The glyph's entry, its box found on first use. Glyphs are told apart
    // by font and index: a call draws each font at one scale. Valid until
    // the next call of entry_of.
    entry &entry_of(const glyph_ref &g);

    // The window of the glyph's bitmap (e is its entry; the window lies
    // inside its box). A colour glyph's coverage is its pixels' alpha.
    void coverage(entry &e, const glyph_ref &g, const glyph_window &window, glyph_coverage &out);

    // The window of a colour glyph's straight RGBA pixels (e.colour is not
    // none), 4 bytes a pixel.
    void colour_pixels(entry &e, const glyph_ref &g, const glyph_window &window, glyph_coverage &out);

    // Whether glyphs the font has in colour are drawn so (true unless set
    // off), and the text colour their 0xFFFF layers take. Set before the
    // first entry_of.
    void set_colour_glyphs(bool on, const paint &text);

    // True once the call's glyphs have run more charstring steps, and
    // colour glyph work (pixels visited), than its budget: the call then
    // draws no more glyphs and fails with work_exceeded().
    bool over_budget() const;
    imgtext_status work_exceeded() const;

private:
    static constexpr size_t k_coverage_budget = 64u << 20;
    size_t slot_of(const font_face *font, int glyph) const;
    entry &place(const entry &e);
    bool grow();

    entry *slots_ = nullptr;
    size_t capacity_ = 0, count_ = 0, coverage_bytes_ = 0;
    entry spare_{};  // the entry of a glyph the table had no room for
    uint64_t steps_at_start_, step_budget_;
    uint64_t colour_work_ = 0;
    bool colour_on_ = true;
    paint text_{255, 255, 255, 1};
};

}  // namespace imgtext

#endif
