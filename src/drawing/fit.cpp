// Auto-size by binary search over measured sizes (see fit.h).
#include "drawing/fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "drawing/drawing.h"
#include "font/font.h"
#include "frame/errors.h"

namespace imgtext {

text_face face_at(const size_settings &sizing, float size) {
    text_face face = make_text_face(sizing.fonts, sizing.font_count, size, sizing.em, sizing.line_spacing,
                                    sizing.line_height, sizing.leading);
    face.outlines_only = sizing.outlines_only;
    return face;
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

// Where the search starts, in steps: the size at which the text, laid out
// once unwrapped at the style's size and scaled, would cover the box (its
// area when both sides are given, else the one side), assuming widths and
// pitch grow with the size.
int64_t first_guess(const text_request &request) {
    const fit_settings &fit = request.fit;
    layout_request r = request.layout;
    r.max_width = 0, r.max_lines = 0, r.justify = false;
    owned_layout once;
    if (layout_text(r, &once.layout) != IMGTEXT_OK) return 1;
    const text_layout &l = once.layout;
    double total = 0, widest = 0;
    for (size_t i = 0; i < l.line_count; ++i) {
        total += l.lines[i].width;
        widest = std::max(widest, static_cast<double>(l.lines[i].width));
    }
    const double pitch = l.line_height, lines = static_cast<double>(l.line_count);
    if (!(total > 0) || !(pitch > 0)) return INT64_MAX / 2;  // nothing to see: the largest size fits
    double scale = INFINITY;
    if (fit.width > 0) scale = fit.width / widest;  // every line fits unwrapped
    if (fit.width > 0 && fit.height > 0 && r.wrap != wrap_mode::none) {
        scale = std::sqrt(fit.width * (fit.height / (total * pitch)));  // wrapped lines cover the box
    }
    if (fit.height > 0) scale = std::min(scale, fit.height / (lines * pitch));
    const double steps = scale * request.sizing.size / k_fit_step;
    return steps >= 1e15 ? INT64_MAX / 2 : steps < 1 ? 1 : static_cast<int64_t>(steps);
}

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
    int64_t min_k = static_cast<int64_t>(std::ceil(fit.min_size / k_fit_step));
    const int64_t max_k = std::max(min_k, static_cast<int64_t>(std::floor(fit.max_size / k_fit_step)));
    if (min_k < 1) min_k = 1;
    // Bracket the answer from a guess, widening by a quarter at a time:
    // `good` fits (best holds its layout), `bad` does not.
    owned_layout best;
    int64_t good = -1, bad = -1;
    auto probe = [&](int64_t k) {
        owned_layout out;
        const bool fits = fits_at(k, out);
        if (fits)
            good = k, std::swap(best.layout, out.layout);
        else
            bad = k;
        return fits;
    };
    const int64_t guess = std::min(max_k, std::max(min_k, first_guess(request)));
    // Steps of a quarter (a fifth down) of the guess, doubling each time, so
    // that a guess far off costs a few probes more, not many.
    if (probe(guess)) {
        for (int64_t step = std::max<int64_t>(1, guess / 4); good < max_k && bad < 0 && failure == IMGTEXT_OK;
             step *= 2) {
            probe(std::min(max_k, good + step));
        }
    } else {
        for (int64_t step = std::max<int64_t>(1, guess / 5); bad > min_k && good < 0 && failure == IMGTEXT_OK;
             step *= 2) {
            probe(std::max(min_k, bad - step));
        }
    }
    if (failure != IMGTEXT_OK) return failure;
    if (good < 0) {
        if (!fit.min_given) {
            return set_error(IMGTEXT_ERROR_ARGUMENT,
                             "invalid argument: the text does not fit the %d x %d box at any size from %g to %g "
                             "(give min_size to draw it cut at that size)",
                             fit.width, fit.height, static_cast<double>(min_k) * k_fit_step,
                             static_cast<double>(max_k) * k_fit_step);
        }
        // Nothing fits: the minimum, cut by max_lines or running past the box.
        owned_layout smallest;
        fits_at(min_k, smallest);
        if (failure != IMGTEXT_OK) return failure;
        std::swap(best.layout, smallest.layout);
        good = min_k;
    }
    // good fits and bad (when there is one) does not: halve between.
    while (bad > good + 1) {
        probe(good + (bad - good) / 2);
        if (failure != IMGTEXT_OK) return failure;
    }
    const int64_t hi = good;
    *size = static_cast<float>(hi) * k_fit_step;
    *layout = best.layout;
    best.layout = text_layout{};
    return IMGTEXT_OK;
}

}  // namespace imgtext
