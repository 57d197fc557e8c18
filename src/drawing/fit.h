// Sizes: the face and letter spacing of a style at a size, and the size at
// which text fits a box, found by measuring, never by drawing.
#ifndef IMGTEXT_DRAWING_FIT_H
#define IMGTEXT_DRAWING_FIT_H

#include "text/layout.h"

namespace imgtext {

// What a size decides: the chain's scales, the line pitch and, in
// thousandths of an em, the letter spacing.
struct size_settings {
    const font_face *fonts[k_max_fonts] = {};
    int font_count = 0;
    float size = 24.0f;
    bool em = false;  // size is the em rather than ascender to descender
    float line_spacing = 1.0f, line_height = 0.0f, leading = 0.0f;
    float letter_spacing = 0.0f;     // pixels, or thousandths of an em
    bool letter_spacing_em = false;  // the latter
    bool outlines_only = false;      // colour glyphs drawn from their outlines (the style's color_glyphs 0)
};

// Auto-size: the largest size in [min_size, max_size] (steps of
// k_fit_step) at which the text fits width x height (0: that side is free).
struct fit_settings {
    bool on = false;
    int width = 0, height = 0;
    float min_size = 1.0f, max_size = QUENDAL_IMGTEXT_MAX_SIZE;
    bool min_given = false;  // at min_size when nothing fits, rather than an error
};

// Sizes are searched in 64ths of a pixel (or of an em), as fonts' own
// fixed-point sizes are.
constexpr float k_fit_step = 1.0f / 64.0f;

text_face face_at(const size_settings &sizing, float size);
float letter_spacing_at(const size_settings &sizing, float size);

struct text_request;

// Lays out a request's text: at its size, or with fit.on at the largest
// that fits (layout_text's results and errors, and ARGUMENT when nothing
// fits and no minimum was given). *size receives the size used.
imgtext_status lay_out_request(const text_request &request, text_layout *layout, float *size);

}  // namespace imgtext

#endif
