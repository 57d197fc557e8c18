// The outline and shadow over any text that can give its coverage: laid-out
// text as it always was, and rotated text (drawing/rotated.h).
#ifndef IMGTEXT_DRAWING_EFFECTS_H
#define IMGTEXT_DRAWING_EFFECTS_H

#include "drawing/drawing.h"
#include "drawing/planes.h"
#include "image/image.h"
#include "image/paint.h"
#include "text/glyph_cache.h"

namespace imgtext {

// The fill's colour, premultiplied by its coverage, where colour glyphs
// make it vary.
struct premultiplied {
    float red, green, blue;
};

// The text as the effects see it.
class text_coverage {
public:
    // The picture's pixels its glyphs' bitmaps may touch (empty: none).
    virtual area ink() = 0;
    // Whether, after ink(), some glyph is drawn in its own colours.
    virtual bool has_colour() const { return false; }
    // Its coverage (0..1) over mask.at, glyphs joined as coverage is composed
    // (a + b - ab). With `colour` allocated (over the same area), the fill's
    // colour composed the same way: a colour glyph's own pixels, the text
    // colour elsewhere. False if memory ran out.
    virtual bool build(plane<float> &mask, plane<premultiplied> &colour) = 0;
    // Draws the text alone, as without effects. False if memory ran out.
    virtual bool fill(const rgba_image &image, const paint &colour) = 0;

protected:
    ~text_coverage() = default;
};

// draw_text_effects for any such text: shadow, outline, fill, in that order.
imgtext_status draw_coverage_effects(const rgba_image &image, text_coverage &text, const paint &colour,
                                     const text_effects &effects, glyph_cache &glyphs);

// How far beyond its source a shadow blurred with standard deviation sigma
// reaches, in pixels.
int shadow_blur_reach(float sigma);

}  // namespace imgtext

#endif
