// Small fonts built byte by byte, for the font tests and the font fuzzer's
// seeds: every structure the font reader walks, in a few hundred bytes.
#ifndef IMGTEXT_FONT_BUILDER_H
#define IMGTEXT_FONT_BUILDER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace test_support {

struct tiny_font_options {
    bool cff = false;      // CFF outlines ('OTTO') instead of glyf/loca
    bool cid = false;      // CFF only: CID-keyed, local subroutines found through FDArray/FDSelect
    int kerning = 0;       // the pair A V: 0 kern table, 1 GPOS pair format 1, 2 GPOS class format 2, -1 none
    bool cmap12 = false;   // add a format 12 subtable after the format 4 one (the reader takes the last)
    int accent_glyph = 5;  // TrueType: the glyph U+00C1's second component names
    // CFF: replace the charstrings of the glyphs named (by glyph index) and
    // the global subroutines, if given.
    std::map<int, std::vector<uint8_t>> cff_charstrings = {};
    std::vector<std::vector<uint8_t>> cff_global_subrs = {};
    bool outlines = true;  // false: neither glyf/loca nor CFF (a colour-only font, or no font at all)
    // COLRv0: U+4E00 (glyph 3) as two layers, itself in palette entry 0
    // (opaque red) and the accent (glyph 5) in the text colour (0xFFFF).
    bool colr = false;
    // CBDT/CBLC: U+4E00 as this PNG in a 100 ppem strike (one font unit per
    // 1/100 px), 20 x 20 pixels with its top 16 pixels above the baseline.
    std::vector<uint8_t> cbdt_png = {};
    // COLRv1 (in place of colr's COLRv0): U+4E00 as a paint graph, a group
    // composited SRC_OVER: the accent filled with a repeating linear
    // gradient from palette entry 0 (opaque red) to the text colour, over
    // the glyph itself in entry 0 at half alpha.
    bool colr1 = false;
};

// A Type 2 charstring from operands and operators; operator n is written as
// cff_op(n), two-byte operator 12 n as cff_op(1200 + n).
constexpr int cff_op(int op) { return -100000 - op; }
std::vector<uint8_t> charstring(std::initializer_list<int> operands_and_ops);

// Global subroutines that cost many steps in a few bytes: subroutine l (of
// 0..levels-1, called as l - 107) calls subroutine l + 1 `fanout` times and
// returns; the last only returns. Calling subroutine l ("l-107 callgsubr")
// runs cff_call_chain_steps(fanout, levels, l) charstring steps, the push
// and the call included.
std::vector<std::vector<uint8_t>> cff_call_chain(int fanout, int levels);
int64_t cff_call_chain_steps(int fanout, int levels, int level);

// Seven glyphs: .notdef, 'A' (glyph 1), 'V' (2), U+4E00 (3), U+00C1 (4) (a TrueType composite of
// 'A' and the accent, or CFF subroutine calls), the accent, and space.
// Ascender 800, descender -200, 1000 units per em; A V kerned by -80.
std::vector<uint8_t> tiny_font(const tiny_font_options &options = {});

// A TrueType collection holding the fonts, each kept whole.
std::vector<uint8_t> collection_bytes(const std::vector<std::vector<uint8_t>> &fonts);

}  // namespace test_support

#endif
