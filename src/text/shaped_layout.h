// Shaped paragraphs: bidirectional levels (UAX #9), a font for each
// grapheme cluster from the chain, runs by level, script and font, each run
// shaped (or, for the built-in font left to right in automatic mode, laid
// out simply), lines cut at Unicode's break opportunities and put in visual
// order.
#ifndef IMGTEXT_TEXT_SHAPED_LAYOUT_H
#define IMGTEXT_TEXT_SHAPED_LAYOUT_H

#include <cstddef>
#include <vector>

#include "text/layout.h"
#include "text/shaping.h"

namespace imgtext {

// True for code points that make a paragraph need the bidirectional
// algorithm: right-to-left letters, Arabic numbers and the explicit
// embedding, override and isolate controls.
bool right_to_left_or_control(int codepoint);

// A line of a shaped paragraph, and where its glyphs start in the store.
struct shaped_line {
    text_line line;
    size_t first_glyph;
};

class shaped_paragraphs {
public:
    explicit shaped_paragraphs(const layout_request &request) : request_(request), setup_(request.shaping) {}

    // Lays out the paragraph [p, end), appending its lines' glyphs to
    // `glyphs` and its lines (measured, with shaped = 1) to `lines`. Returns
    // how many of its characters no font has.
    int lay_out(const char *p, const char *end, std::vector<line_glyph> &glyphs, std::vector<shaped_line> &lines);

private:
    const layout_request &request_;
    shaping_setup setup_;
};

}  // namespace imgtext

#endif
