// Drawing operations: the one pipeline behind both APIs. A request names the
// text, its face, colour, alignment and optional box; a placement puts the
// measured text box on the picture by an anchor point or by gravity.
#ifndef IMGTEXT_DRAWING_H
#define IMGTEXT_DRAWING_H

#include <cstdint>
#include <memory>

#include "drawing/fit.h"
#include "font/font.h"
#include "image/image.h"
#include "image/paint.h"
#include "text/layout.h"

namespace imgtext {

// The outline and shadow; with neither, the text is drawn as it always was.
struct text_effects {
    float stroke_width = 0;  // pixels beyond the glyphs' edges; 0: none
    imgtext_color stroke_colour{0, 0, 0, 255};
    bool shadow = false;
    int64_t shadow_dx = 0, shadow_dy = 0;
    float shadow_blur = 0;  // standard deviation in pixels
    imgtext_color shadow_colour{0, 0, 0, 255};
    float opacity = 1;     // the text's opacity alone (paint folds in the colour's alpha)
    float text_alpha = 1;  // the text colour's alpha, 0..1
    bool any() const { return stroke_width > 0 || shadow; }
};

// Fonts made for one request (variable fonts at the style's axis values),
// freed with the last copy of the request.
struct request_fonts {
    font_face *fonts[QUENDAL_IMGTEXT_MAX_FONTS] = {};
    request_fonts() = default;
    request_fonts(const request_fonts &) = delete;
    request_fonts &operator=(const request_fonts &) = delete;
    ~request_fonts() {
        for (font_face *f : fonts) free_font(f);
    }
};

struct text_request {
    layout_request layout;
    std::shared_ptr<request_fonts> owned_fonts;  // what layout.face points to beyond the caller's fonts
    paint colour{};  // set by each caller; value-initialised so that copies read nothing undefined
    line_align align = line_align::left;
    bool box = false;
    imgtext_color box_colour{0, 0, 0, 255};
    int64_t padding = 0;   // clamped at 0
    float box_radius = 0;  // rounded corners; 0: the square box as always
    text_effects effects;
    size_settings sizing;                                 // what the face was made from (auto-size remakes it)
    fit_settings fit;                                     // auto-size; off by default
    uint64_t max_steps = QUENDAL_IMGTEXT_MAX_DRAW_STEPS;  // the glyphs' charstring budget (tests lower it)
    float rotation = 0;  // degrees counterclockwise, 0 <= rotation < 360; 0: upright, drawn as always
    struct tiling {
        bool on = false;
        int64_t step_x = 0, step_y = 0;  // pixels along and across the lines; 0: twice the text box's side
        int64_t row_offset = 0;          // each row shifted this far along the lines from the one before
    } tile;
};

class glyph_cache;

// Draws the laid-out text with its outline and shadow (shadow, outline,
// fill, in that order), with the call's glyphs. Returns IMGTEXT_OK, MEMORY
// with a message, or the cache's LIMIT once the glyphs' work is over its
// budget (what was drawn by then stays).
imgtext_status draw_text_effects(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y,
                                 const paint &colour, line_align align, const text_effects &effects,
                                 glyph_cache &glyphs);

struct placement {
    bool by_gravity = false;
    imgtext_position position = IMGTEXT_TOP_LEFT;  // the anchor point, or the gravity
    int64_t x = 0, y = 0;                          // the anchor's position
    int64_t margin = 0;                            // gravity's distance from the edges
};

// Where the box's top-left corner goes for a w x h text box.
struct box_origin {
    int64_t x, y;
};
box_origin place_box(const placement &where, int64_t image_width, int64_t image_height, int64_t w, int64_t h);

// Lays out, places and draws the text (box first, if any). The laid-out
// result is returned in *layout for the caller to inspect and free (null:
// freed here). Returns IMGTEXT_OK, MEMORY with a message, or LIMIT when
// its glyphs need more charstring steps than request.max_steps (the text
// may then be partly drawn).
// With request.fit on, the text is laid out at the size that fits
// (lay_out_request), which *size receives when not null.
imgtext_status draw_text(const rgba_image &image, const text_request &request, const placement &where,
                         box_origin *origin, text_layout *layout, float *size = nullptr);

// draw_text's drawing, for text already laid out (lay_out_request) and
// placed with its box's corner at `at`.
imgtext_status draw_laid_out_text(const rgba_image &image, const text_request &request, const text_layout &layout,
                                  box_origin at);

}  // namespace imgtext

#endif
