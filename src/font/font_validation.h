// Load-time checks of font files. stb_truetype trusts every offset and count
// it reads, so a damaged or hostile file could make it read outside the
// bytes, or walk structures without end. Before a font is handed to it, the
// library walks everything stb_truetype will walk for the library's queries
// (character maps, metrics, glyph locations and outlines, kerning, CFF
// indexes and dictionaries) the way stb_truetype walks it, and refuses the
// font if any of it falls outside its table or the file, or is unusable.
// Charstring programs are not run here; the build's copy of stb_truetype
// bounds them instead (see cmake/PinnedDependencies.cmake).
#ifndef IMGTEXT_FONT_VALIDATION_H
#define IMGTEXT_FONT_VALIDATION_H

#include <cstddef>

#include "quendal_imgtext.h"

namespace imgtext {

// Composite glyphs may nest this deep (real fonts use 1 to 3 levels); the
// build's stb_truetype stops at the same depth.
inline constexpr int max_component_depth = 16;

struct font_layout {
    int fontstart;  // offset of the chosen font's table directory
    // Glyph indexes 0..glyph_count-1 are safe to query: the count 'maxp'
    // gives, which stb_truetype reads too.
    int glyph_count;
    // False for a font of colour glyphs alone (bitmaps in 'CBDT' or 'sbix',
    // or 'COLR' layers), which has no 'glyf' or 'CFF ' outlines for
    // stb_truetype: its colour glyphs are HarfBuzz's to read.
    bool outlines;
};

// Checks font `index` of the file (0 for a single font, or one font of a
// collection). Returns IMGTEXT_OK and fills *layout when stb_truetype may
// use it; IMGTEXT_ERROR_DECODE with *problem describing what is wrong, in
// storage owned by the calling thread and valid until its next call; or
// IMGTEXT_ERROR_MEMORY if the check itself ran out of memory. Never throws.
imgtext_status validate_font(const unsigned char *data, size_t size, int index, font_layout *layout,
                             const char **problem) noexcept;

}  // namespace imgtext

#endif
