// Drawing operations: placing a measured text box on a picture by an anchor
// point or by gravity, and drawing it with its box, outline and shadow. The
// one pipeline behind both APIs.
#include <cstdint>

#include "drawing/drawing.h"
#include "image/paint.h"
#include "text/glyph_cache.h"
#include "text/layout.h"
#include "text/render.h"

namespace imgtext {

namespace {

// Integer halving that truncates toward zero, as C division does, so a box
// larger than the image gets a negative origin.
int64_t centred_origin(int64_t outer, int64_t inner) { return (outer - inner) / 2; }

// Column (0 left, 1 middle, 2 right) and row (0 top, 1 middle, 2 bottom).
int column_of(imgtext_position p) { return static_cast<int>(p) % 3; }
int row_of(imgtext_position p) { return static_cast<int>(p) / 3; }

int64_t along_axis(int index, bool by_gravity, int64_t anchor, int64_t margin, int64_t outer, int64_t inner) {
    if (by_gravity) return index == 0 ? margin : index == 1 ? centred_origin(outer, inner) : outer - margin - inner;
    return index == 0 ? anchor : index == 1 ? anchor - inner / 2 : anchor - inner;
}

}  // namespace

box_origin place_box(const placement &where, int64_t image_width, int64_t image_height, int64_t w, int64_t h) {
    return {along_axis(column_of(where.position), where.by_gravity, where.x, where.margin, image_width, w),
            along_axis(row_of(where.position), where.by_gravity, where.y, where.margin, image_height, h)};
}

imgtext_status draw_text(const rgba_image &image, const text_request &request, const placement &where,
                         box_origin *origin, text_layout *result, float *size) {
    owned_layout laid_out;
    float size_used = 0.0f;
    const imgtext_status status = lay_out_request(request, &laid_out.layout, &size_used);
    if (status != IMGTEXT_OK) return status;
    const text_layout &layout = laid_out.layout;
    const box_origin at = place_box(where, image.width, image.height, layout.box_width, layout.box_height);
    const imgtext_status drawn = draw_laid_out_text(image, request, layout, at);
    if (drawn != IMGTEXT_OK) return drawn;
    if (origin) *origin = at;
    if (size) *size = size_used;
    if (result) {
        *result = layout;
        laid_out.layout = text_layout{};
    }
    return IMGTEXT_OK;
}

imgtext_status draw_laid_out_text(const rgba_image &image, const text_request &request, const text_layout &layout,
                                  box_origin at) {
    if (request.box) {
        // The box's corner is padding outside the text box's.
        const int64_t p = request.padding > 0 ? request.padding : 0;
        if (request.box_radius > 0.0f) {
            blend_rounded_rect(image, at.x - p, at.y - p, layout.box_width + 2 * p, layout.box_height + 2 * p,
                               request.box_radius, request.box_colour);
        } else {
            blend_rect(image, at.x - p, at.y - p, layout.box_width + 2 * p, layout.box_height + 2 * p,
                       request.box_colour);
        }
    }
    glyph_cache glyphs(request.max_steps);
    glyphs.set_colour_glyphs(!request.layout.face.outlines_only, request.colour);
    if (request.effects.any()) {
        const imgtext_status drawn =
            draw_text_effects(image, layout, at.x, at.y, request.colour, request.align, request.effects, glyphs);
        if (drawn != IMGTEXT_OK) return drawn;
    } else {
        render_layout(image, layout, at.x, at.y, request.colour, request.align, glyphs);
        if (glyphs.over_budget()) return glyphs.work_exceeded();
    }
    return IMGTEXT_OK;
}

}  // namespace imgtext
