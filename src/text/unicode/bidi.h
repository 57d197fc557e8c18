// The Unicode Bidirectional Algorithm (UAX #9, Unicode 15.1.0): embedding levels for one paragraph, and
// the visual order of one line of it.
#ifndef IMGTEXT_TEXT_UNICODE_BIDI_H
#define IMGTEXT_TEXT_UNICODE_BIDI_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace imgtext::unicode {

// Bidi_Class values, in the order of the generated tables (bidi.cpp checks it).
enum class bidi_class : uint8_t {
    L,
    R,
    AL,
    EN,
    ES,
    ET,
    AN,
    CS,
    NSM,
    BN,
    B,
    S,
    WS,
    ON,
    LRE,
    LRO,
    RLE,
    RLO,
    PDF,
    LRI,
    RLI,
    FSI,
    PDI
};

// The Bidi_Class of a code point. Values that are not Unicode scalar values
// (surrogates, anything past U+10FFFF) read as U+FFFD's class, ON: the text
// decoders put U+FFFD in their place, and a stray one must not act as a
// strong letter.
bidi_class bidi_class_of(char32_t c);

// Bidi_Mirroring_Glyph: the character to show for `c` at an odd (right to
// left) level, or `c` itself when it has none.
char32_t mirrored(char32_t c);

// True for the classes rule X9 removes (embeddings, overrides, PDF, BN):
// they take no part in the algorithm, and the output gives them the level of
// the character before them so that a line of runs still covers them.
constexpr bool is_removed_by_x9(bidi_class c) {
    return c == bidi_class::BN || (c >= bidi_class::LRE && c <= bidi_class::PDF);
}

// The paragraph direction asked for: from the first strong character (rules
// P2-P3, left to right when there is none), or forced.
enum class base_direction { automatic, ltr, rtl };

// One resolved paragraph.
struct bidi_paragraph {
    uint8_t level = 0;                // the paragraph embedding level: 0 left to right, 1 right to left
    std::vector<uint8_t> levels;      // per code point, after rules I1-I2 (at most 126)
    std::vector<bidi_class> classes;  // per code point, its Bidi_Class (rule L1 reads them)
};

// Resolves one paragraph (rules P2-P3, X1-X10, W1-W7, N0-N2, I1-I2). The
// caller splits text into paragraphs after each B (U+2029, newlines): a B at
// the end belongs to the paragraph; a B elsewhere ends every embedding and
// isolate like a paragraph end, but the paragraph level stays the first
// one. Characters removed by X9 get the level of the character before them,
// or the paragraph level at the start. Linear time and memory; a paragraph
// without R, AL, AN or explicit controls, under a base direction other
// than rtl, takes a short path (every level 0).
bidi_paragraph resolve_paragraph(std::span<const char32_t> text, base_direction direction);

// The same from bidi classes alone, without bracket pairs (rule N0 finds
// none): for callers, like Unicode's BidiTest.txt, that have only classes.
bidi_paragraph resolve_paragraph_classes(std::span<const bidi_class> classes, base_direction direction);

// One visual run of a line: code points [start, end) of the paragraph at
// one level, shown in logical order when the level is even and reversed
// when it is odd.
struct bidi_run {
    size_t start = 0;
    size_t end = 0;
    uint8_t level = 0;
};

// Lines are code points [start, end) of a resolved paragraph (indexes into
// it; end is clamped to the paragraph's length, start to end).

// The line's levels after rule L1: segment and paragraph separators, and
// the whitespace, isolate controls and X9-removed characters before them or
// at the end of the line, take the paragraph level. Element k is the level
// of code point start + k.
std::vector<uint8_t> line_levels(const bidi_paragraph &paragraph, size_t start, size_t end);

// The line's runs of equal level (after L1) in left-to-right visual order
// (rule L2), each reversed or not as its level says. Linear in the line's
// length whatever the levels.
std::vector<bidi_run> visual_runs(const bidi_paragraph &paragraph, size_t start, size_t end);

// The line's visual order (L1-L2): element k is the paragraph index of the
// code point shown k-th from the left. X9-removed characters are included,
// beside their neighbours at the same level.
std::vector<size_t> visual_order(const bidi_paragraph &paragraph, size_t start, size_t end);

}  // namespace imgtext::unicode

#endif
