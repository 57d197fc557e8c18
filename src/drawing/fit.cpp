// Auto-size by binary search over measured sizes (see fit.h).
#include "drawing/fit.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "drawing/drawing.h"
#include "font/font.h"
#include "frame/errors.h"

namespace imgtext {

text_face face_at(const size_settings &sizing, float size) {
    return make_text_face(sizing.fonts, sizing.font_count, size, sizing.em, sizing.line_spacing, sizing.line_height,
                          sizing.leading);
}

float letter_spacing_at(const size_settings &sizing, float size) {
    if (!sizing.letter_spacing_em) return sizing.letter_spacing;
    // The em in pixels: the size itself, or for a pixel height the size
    // times the em's share of the font's height.
    const font_face &font = *sizing.fonts[0];
    const float em = sizing.em ? size : size * (font_scale(font, size, false) / font_scale(font, size, true));
    return sizing.letter_spacing / 1000.0f * em;
}

namespace {

struct owned_layout {
    text_layout layout{};
    ~owned_layout() { free_text_layout(&layout); }
};

}  // namespace

imgtext_status lay_out_request(const text_request &request, text_layout *layout, float *size) {
    *size = request.sizing.size;
    if (!request.fit.on) return layout_text(request.layout, layout);
    const fit_settings &fit = request.fit;
    layout_request r = request.layout;
    imgtext_status failure = IMGTEXT_OK;
    // Lays out at k steps; true when all the text is shown inside the box.
    auto fits_at = [&](int64_t k, owned_layout &out) {
        free_text_layout(&out.layout);
        const float s = static_cast<float>(k) * k_fit_step;
        r.face = face_at(request.sizing, s);
        r.letter_spacing = letter_spacing_at(request.sizing, s);
        failure = layout_text(r, &out.layout);
        if (failure != IMGTEXT_OK) return false;
        const text_layout &l = out.layout;
        return !l.truncated && (fit.width <= 0 || l.box_width <= fit.width) &&
               (fit.height <= 0 || l.box_height <= fit.height);
    };
    int64_t lo = static_cast<int64_t>(std::ceil(fit.min_size / k_fit_step));
    int64_t hi = static_cast<int64_t>(std::floor(fit.max_size / k_fit_step));
    if (lo < 1) lo = 1;
    if (hi < lo) hi = lo;
    owned_layout best;
    if (!fits_at(hi, best)) {
        if (failure != IMGTEXT_OK) return failure;
        owned_layout smallest;
        const bool smallest_fits = fits_at(lo, smallest);
        if (failure != IMGTEXT_OK) return failure;
        if (!smallest_fits && !fit.min_given) {
            return set_error(IMGTEXT_ERROR_ARGUMENT,
                             "invalid argument: the text does not fit the %d x %d box at any size from %g to %g "
                             "(give min_size to draw it cut at that size)",
                             fit.width, fit.height, static_cast<double>(lo) * k_fit_step,
                             static_cast<double>(hi) * k_fit_step);
        }
        std::swap(best.layout, smallest.layout);
        // lo fits and hi does not: halve between. (Nothing fits: the minimum.)
        while (smallest_fits && hi - lo > 1) {
            const int64_t mid = lo + (hi - lo) / 2;
            owned_layout probe;
            if (fits_at(mid, probe)) {
                lo = mid;
                std::swap(best.layout, probe.layout);
            } else {
                if (failure != IMGTEXT_OK) return failure;
                hi = mid;
            }
        }
        hi = lo;
    }
    *size = static_cast<float>(hi) * k_fit_step;
    *layout = best.layout;
    best.layout = text_layout{};
    return IMGTEXT_OK;
}

}  // namespace imgtext
