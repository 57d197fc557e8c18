// Tiled text: one text repeated over the whole picture on a grid turned with
// it. The text is drawn once into a tile, which is then composited at each
// point of the grid, so the cost follows the picture's area, not the number
// of repeats times the text's layout and rasterising.
#ifndef IMGTEXT_DRAWING_TILED_H
#define IMGTEXT_DRAWING_TILED_H

#include "drawing/drawing.h"
#include "drawing/rotated.h"
#include "image/image.h"
#include "text/layout.h"

namespace imgtext {

// draw_text for a request with tiling: *bounds receives the bounding box of
// the placed tile's text box, and *size (when not null) the size laid out at
// (auto-size fits the text itself, before it turns: see lay_out_request).
// LIMIT when the tile is larger than the header allows, or covers too many
// grid cells.
imgtext_status draw_tiled_text(const rgba_image &image, const text_request &request, const placement &where,
                               turned_bounds *bounds, text_layout *layout, float *size = nullptr);

}  // namespace imgtext

#endif
