// Drawing operations: the one pipeline behind both APIs. A request names the
// text, its face, colour, alignment and optional box; a placement puts the
// measured text box on the picture by an anchor point or by gravity.
#ifndef IMGTEXT_DRAWING_H
#define IMGTEXT_DRAWING_H

#include <cstdint>

#include "blend.h"
#include "image.h"
#include "text.h"

namespace imgtext {

struct text_request {
    layout_request layout;
    paint colour;
    line_align align = line_align::left;
    bool box = false;
    imgtext_color box_colour{0, 0, 0, 255};
    int64_t padding = 0;  // clamped at 0
};

struct placement {
    bool by_gravity = false;
    imgtext_position position = IMGTEXT_TOP_LEFT;  // the anchor point, or the gravity
    int64_t x = 0, y = 0;                           // the anchor's position
    int64_t margin = 0;                             // gravity's distance from the edges
};

// Where the box's top-left corner goes for a w x h text box.
struct box_origin {
    int64_t x, y;
};
box_origin place_box(const placement &where, int64_t image_width, int64_t image_height, int64_t w, int64_t h);

// Lays out, places and draws the text (box first, if any). The laid-out
// result is returned in *layout for the caller to inspect and free (null:
// freed here). Returns IMGTEXT_OK or MEMORY with a message.
imgtext_status draw_text(const rgba_image &image, const text_request &request, const placement &where,
                         box_origin *origin, text_layout *layout);

}  // namespace imgtext

#endif
