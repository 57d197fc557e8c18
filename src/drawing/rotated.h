// Rotated text: the glyphs' outlines turned before they are rasterised (never
// a rendered picture turned afterwards), so edges stay as sharp at any angle
// as upright text; the box, outline and shadow turn with the text. Colour
// glyphs, which are pictures, are the exception: their upright pixels are
// turned with a bilinear filter about the same pen and frame, keeping their
// colours.
#ifndef IMGTEXT_DRAWING_ROTATED_H
#define IMGTEXT_DRAWING_ROTATED_H

#include <cstdint>

#include "drawing/drawing.h"
#include "drawing/planes.h"
#include "image/image.h"
#include "text/layout.h"

namespace imgtext {

// An angle as its cosine and sine: a turn counterclockwise on the picture.
// Multiples of 90 degrees are exact.
struct turn {
    float c = 1, s = 0;
};
turn turn_of(float degrees);

// Where the text box lands: its point (u, v) (box pixels, y down) is drawn at
// (ox + u c + v s, oy + v c - u s) on the picture.
struct text_frame {
    double ox = 0, oy = 0;
    turn t;
    double x(double u, double v) const { return ox + (u * t.c + v * t.s); }
    double y(double u, double v) const { return oy + (v * t.c - u * t.s); }
};

// A rectangle of pixels: the bounding box of the turned text box.
struct turned_bounds {
    int64_t x = 0, y = 0, width = 0, height = 0;
};

// The bounding box of the w x h box [0, w] x [0, h] drawn with the frame.
turned_bounds bounds_of(const text_frame &frame, int64_t w, int64_t h);

// The frame that puts a w x h text box, turned, where the placement says:
// its anchor point at the anchor's position, the box turning about it; or,
// by gravity, its turned bounding box placed as gravity places a box.
text_frame frame_for(const placement &where, int64_t image_width, int64_t image_height, int64_t w, int64_t h, turn t);

// Draws laid-out text (and its box, outline and shadow, as the request asks)
// with the frame. Returns as draw_text does.
imgtext_status draw_turned(const rgba_image &image, const text_request &request, const text_layout &layout,
                           const text_frame &frame);

// The pixels drawing the text with the frame may touch: its glyphs' turned
// boxes, its box, and as far as its outline and shadow reach beyond them.
area turned_drawn_area(const text_request &request, const text_layout &layout, const text_frame &frame);

// draw_text for a request with a rotation: lays out (at the size that fits,
// with auto-size: see lay_out_request), places and draws the text turned;
// *bounds receives the turned text box's bounding box and *size (when not
// null) the size laid out at.
imgtext_status draw_rotated_text(const rgba_image &image, const text_request &request, const placement &where,
                                 turned_bounds *bounds, text_layout *layout, float *size = nullptr);

}  // namespace imgtext

#endif
