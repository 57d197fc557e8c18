// Text made to fit a box: letter spacing on simple lines, lines cut at
// max_lines with an ellipsis, and justified lines. Each works on the
// stored glyphs of a layout (layout.h), so that drawing, measuring and the
// effects see the result through the one walk they share.
//
// Letter spacing goes between grapheme clusters, after kerning, never
// inside a cluster nor between two glyphs of one run of a joining script
// (Arabic, Syriac, N'Ko, Mongolian and the like), whose letters would come
// apart; none follows a line's last cluster, so a line of n clusters is
// (n - 1) x spacing wider, and wrapping measures it so.
#ifndef IMGTEXT_TEXT_BOX_LAYOUT_H
#define IMGTEXT_TEXT_BOX_LAYOUT_H

#include <cstdint>
#include <vector>

#include "text/layout.h"

namespace imgtext {

// Lays out a simple line as stored glyphs (the same steps as walk_line, with
// the letter spacing folded into the kerning before each cluster), appends
// them to `glyphs`, and sets its width and shaped = 1. Counts the line's
// missing glyphs into *missing.
void store_simple_line(const layout_request &request, text_line &line, std::vector<line_glyph> &glyphs, int *missing);

// The steps after layout: lines past request.max_lines cut off and the last
// kept one ending in an ellipsis (U+2026, or "..." where no font of the chain
// has it) that fits request.ellipsis_width; then, with request.justify,
// every line that is not its paragraph's last (paragraph_last) spread to the
// box width at its spaces. Sets the box anew. Returns IMGTEXT_OK, or MEMORY
// (the layout freed).
imgtext_status finish_box_lines(const layout_request &request, const std::vector<uint8_t> &paragraph_last,
                                text_layout *layout);

}  // namespace imgtext

#endif
