// The bidi API beyond Unicode's conformance files: the tables' edges, lines within a paragraph, the run
// form, and hostile controls (too deep, unmatched, huge).
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "text/unicode/bidi.h"

using namespace imgtext::unicode;

namespace {

std::vector<int> levels_of(const std::u32string &text, base_direction direction = base_direction::automatic) {
    const bidi_paragraph p = resolve_paragraph(text, direction);
    const std::vector<uint8_t> levels = line_levels(p, 0, text.size());
    return {levels.begin(), levels.end()};
}

std::u32string repeat(const std::u32string &s, size_t times) {
    std::u32string out;
    for (size_t i = 0; i < times; ++i) out += s;
    return out;
}

// start, end, level of each run, in the order given.
std::vector<size_t> flat(const std::vector<bidi_run> &runs) {
    std::vector<size_t> out;
    for (const bidi_run &r : runs) out.insert(out.end(), {r.start, r.end, r.level});
    return out;
}

// Every line's order must be a permutation of the line, whatever the input.
void expect_permutation(const bidi_paragraph &p, size_t start, size_t end) {
    std::vector<size_t> order = visual_order(p, start, end);
    std::sort(order.begin(), order.end());
    std::vector<size_t> expected(end - start);
    std::iota(expected.begin(), expected.end(), start);
    EXPECT_EQ(order, expected);
}

TEST(BidiTables, ClassesIncludingDefaultsAndNonScalarValues) {
    const std::pair<char32_t, bidi_class> cases[] = {
        {U'a', bidi_class::L},      {0x05D0, bidi_class::R},     {0x0627, bidi_class::AL},
        {U'7', bidi_class::EN},     {0x0660, bidi_class::AN},    {U'+', bidi_class::ES},
        {U'$', bidi_class::ET},     {U',', bidi_class::CS},      {0x0300, bidi_class::NSM},
        {0x200B, bidi_class::BN},   {0x2029, bidi_class::B},     {U'\t', bidi_class::S},
        {U' ', bidi_class::WS},     {U'!', bidi_class::ON},      {0x202A, bidi_class::LRE},
        {0x202D, bidi_class::LRO},  {0x202B, bidi_class::RLE},   {0x202E, bidi_class::RLO},
        {0x202C, bidi_class::PDF},  {0x2066, bidi_class::LRI},   {0x2067, bidi_class::RLI},
        {0x2068, bidi_class::FSI},  {0x2069, bidi_class::PDI},   {0x05FF, bidi_class::R},  // unassigned: @missing
        {0x20CF, bidi_class::ET},   {0xFDD0, bidi_class::BN},    {0x1EC70, bidi_class::AL},
        {0x10FFFF, bidi_class::BN}, {0xD800, bidi_class::ON},    {0xDFFF, bidi_class::ON},  // as U+FFFD
        {0x110000, bidi_class::ON}, {0xFFFFFFFF, bidi_class::ON}};
    for (const auto &[c, expected] : cases) EXPECT_EQ(bidi_class_of(c), expected) << std::hex << uint32_t(c);
}

TEST(BidiTables, Mirrored) {
    const std::pair<char32_t, char32_t> cases[] = {{U'(', U')'},     {U')', U'('},     {U'<', U'>'},
                                                   {0x2264, 0x2265}, {0xFF62, 0xFF63}, {0x2329, 0x232A},
                                                   {U'a', U'a'},     {0x05D0, 0x05D0}, {0x110000, 0x110000}};
    for (const auto &[c, expected] : cases) EXPECT_EQ(mirrored(c), expected) << std::hex << uint32_t(c);
}

TEST(BidiLines, LatinIsOneRunAtTheParagraphLevel) {
    const std::u32string text = U"Plain text, 12 numbers.";
    const bidi_paragraph p = resolve_paragraph(text, base_direction::automatic);
    EXPECT_EQ(p.level, 0);
    EXPECT_EQ(flat(visual_runs(p, 0, text.size())), (std::vector<size_t>{0, 23, 0}));
    // Forced right to left, letters sit at level 2 and a final neutral at 1.
    EXPECT_EQ(levels_of(U"ab 1!", base_direction::rtl), (std::vector<int>{2, 2, 2, 2, 1}));
}

TEST(BidiLines, RunsComeInVisualOrder) {
    const std::u32string text = U"abc \u05D0\u05D1\u05D2";
    const bidi_paragraph p = resolve_paragraph(text, base_direction::rtl);
    EXPECT_EQ(flat(visual_runs(p, 0, text.size())), (std::vector<size_t>{3, 7, 1, 0, 3, 2}));
    EXPECT_EQ(visual_order(p, 0, text.size()), (std::vector<size_t>{6, 5, 4, 3, 0, 1, 2}));
}

TEST(BidiLines, EachLineIsReorderedAloneWithItsTrailingSpaceAtTheParagraphLevel) {
    // abc_ALEF BET GIMEL_ DALET HE VAV_xyz: the space at 7 sits between two
    // Hebrew words (level 1) but ends the first line, so L1 puts it at 0.
    const std::u32string text = U"abc \u05D0\u05D1\u05D2 \u05D3\u05D4\u05D5 xyz";
    const bidi_paragraph p = resolve_paragraph(text, base_direction::ltr);
    EXPECT_EQ(p.levels[7], 1);
    EXPECT_EQ(visual_order(p, 0, 8), (std::vector<size_t>{0, 1, 2, 3, 6, 5, 4, 7}));
    EXPECT_EQ(visual_order(p, 8, text.size()), (std::vector<size_t>{10, 9, 8, 11, 12, 13, 14}));
    EXPECT_EQ(visual_order(p, 12, 1000), (std::vector<size_t>{12, 13, 14}));  // clamped to the paragraph
    EXPECT_TRUE(visual_order(p, 20, 10).empty());
}

// Controls past every limit: the text after them must come back to where it belongs.
TEST(BidiHostile, DeepEmbeddingsStopAt125AndUnwind) {
    const std::u32string text = repeat(U"\u202B", 200) + U"a" + repeat(U"\u202C", 300) + U"b";
    const std::vector<int> levels = levels_of(text);
    EXPECT_EQ(levels[200], 126);  // level 125 (the deepest), then I2 for an L at an odd level
    EXPECT_EQ(levels.back(), 0);
    const std::u32string stairs = repeat(U"\u202B\u202A", 100) + U"a" + repeat(U"\u202C", 300) + U"b";
    EXPECT_EQ(levels_of(stairs)[200], 126);
    EXPECT_EQ(levels_of(stairs).back(), 0);
    expect_permutation(resolve_paragraph(stairs, base_direction::rtl), 0, stairs.size());
}

TEST(BidiHostile, UnmatchedClosersChangeNothing) {
    EXPECT_EQ(levels_of(U"\u202C\u2069\u202Ca\u05D0\u2069b"), (std::vector<int>{0, 0, 0, 0, 1, 0, 0}));
    // A B in mid-text ends the embedding like a paragraph end would.
    EXPECT_EQ(levels_of(U"\u202Ba\u2029b"), (std::vector<int>{0, 2, 0, 0}));
}

TEST(BidiHostile, DeepIsolatesStayMatched) {
    // 100 000 FSIs: each looks for its first strong character, and none may
    // rescan the ones inside it (this would take hours if they did).
    const size_t depth = 100000;
    const std::u32string text = repeat(U"\u2068", depth) + U"\u05D0" + repeat(U"\u2069", depth) + U"\u05D1";
    const bidi_paragraph p = resolve_paragraph(text, base_direction::automatic);
    EXPECT_EQ(p.level, 1);  // the isolates are skipped: BET decides
    // 62 valid isolates at 2, 4 ... 124 (outside their nested isolates the
    // FSIs find no strong character), then ALEF's R goes up one from 124.
    EXPECT_EQ(p.levels[depth], 125);
    EXPECT_EQ(p.levels.back(), 1);
    expect_permutation(p, 0, text.size());
}

TEST(BidiHostile, BracketPairsStopAt63OpenBrackets) {
    // ALEF (((...BET...))) c: paired, the closing brackets take ALEF's R.
    // With a 64th opening bracket BD16 gives up and they follow c instead.
    for (const size_t depth : {63u, 64u}) {
        const std::u32string text =
            std::u32string(U"\u05D0") + repeat(U"(", depth) + U"\u05D1" + repeat(U")", depth) + U"c";
        EXPECT_EQ(levels_of(text, base_direction::ltr)[depth + 2], depth == 63 ? 1 : 0) << depth;
    }
}

TEST(BidiHostile, ReplacementForLoneSurrogatesIsNeutral) {
    EXPECT_EQ(levels_of({0x05D0, 0xD800, 0x05D1}, base_direction::ltr), (std::vector<int>{1, 1, 1}));
}

TEST(BidiHostile, LongMixedParagraphIsAPermutationPerLine) {
    const std::u32string unit = U"ab \u05D0\u05D1 (12) \u0627\u0661\u202Bx\u2067y\u202C\u2069 [\u05D2] ";
    const std::u32string text = repeat(unit, 20000);
    const bidi_paragraph p = resolve_paragraph(text, base_direction::automatic);
    ASSERT_EQ(p.levels.size(), text.size());
    for (size_t start = 0; start < text.size(); start += text.size() / 3)
        expect_permutation(p, start, std::min(start + 4000, text.size()));
    expect_permutation(p, 0, text.size());
}

}  // namespace
