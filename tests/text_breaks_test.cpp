// Line breaks and grapheme clusters on cases the layout depends on: CJK and
// emoji text, hard line ends, values no UTF-8 reader gives, and the ASCII
// shortcuts agreeing with the full rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "text/unicode/grapheme.h"
#include "text/unicode/line_break.h"

using namespace imgtext::unicode;

namespace {

std::vector<break_kind> breaks_of(const std::u32string &text) {
    std::vector<break_kind> breaks(text.size() + 2, static_cast<break_kind>(0x5A));
    line_breaks(text.data(), text.size(), breaks.data());
    EXPECT_EQ(static_cast<int>(breaks.back()), 0x5A) << "wrote past count + 1 entries";
    breaks.pop_back();
    return breaks;
}

std::vector<bool> clusters_of(const std::u32string &text) {
    std::unique_ptr<bool[]> b(new bool[text.size() + 1]);
    grapheme_boundaries(text.data(), text.size(), b.get());
    return std::vector<bool>(b.get(), b.get() + text.size() + 1);
}

// The text with '|' where a line may break and '!' where it must, the end of
// the text (always mandatory) left out.
std::u32string marked(const std::u32string &text) {
    const std::vector<break_kind> breaks = breaks_of(text);
    EXPECT_EQ(breaks.back(), break_kind::mandatory);
    std::u32string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (breaks[i] == break_kind::allowed) out += U'|';
        if (breaks[i] == break_kind::mandatory) out += U'!';
        out += text[i];
    }
    return out;
}

// The text with '|' between grapheme clusters.
std::u32string clustered(const std::u32string &text) {
    const std::vector<bool> b = clusters_of(text);
    std::u32string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i > 0 && b[i]) out += U'|';
        out += text[i];
    }
    return out;
}

TEST(LineBreak, MarkedOpportunities) {
    const struct {
        std::u32string text, expected;
    } rows[] = {
        // "We go to the park, 'hello'." in Chinese: breaks between ideographs,
        // not before closing punctuation nor after opening.
        {U"\u6211\u4EEC\u53BB\u516C\u56ED\uFF0C\u300C\u4F60\u597D\u300D\u3002",
         U"\u6211|\u4EEC|\u53BB|\u516C|\u56ED\uFF0C|\u300C\u4F60|\u597D\u300D\u3002"},
        // Hard line ends: CR LF as one, NEL, LINE SEPARATOR, VT and FF.
        {U"a\r\nb\nc\rd\u0085e\u2028f\vg\fh", U"a\r\n!b\n!c\r!d\u0085!e\u2028!f\v!g\f!h"},
        {U"The (quick) brown-fox, 3.5 km/h.", U"The |(quick) |brown-|fox, |3.5 |km/|h."},
        {U"$(12.50) 50% \u00ABquote\u00BB", U"$(12.50) |50% |\u00ABquote\u00BB"},
        // "Thai language easy": Thai words have no spaces between them and the
        // default rules no dictionary.
        {U"\u0E20\u0E32\u0E29\u0E32\u0E44\u0E17\u0E22 \u0E07\u0E48\u0E32\u0E22",
         U"\u0E20\u0E32\u0E29\u0E32\u0E44\u0E17\u0E22 |\u0E07\u0E48\u0E32\u0E22"},
        // Emoji: a ZWJ family, a skin tone, two flags.
        {U"\U0001F469\u200D\U0001F469\u200D\U0001F467 \U0001F44B\U0001F3FD\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7",
         U"\U0001F469\u200D\U0001F469\u200D\U0001F467 |\U0001F44B\U0001F3FD|\U0001F1E9\U0001F1EA|\U0001F1EB\U0001F1F7"},
    };
    for (const auto &row : rows) EXPECT_EQ(marked(row.text), row.expected);
}

TEST(LineBreak, EmptyTextHasOneEntry) {
    break_kind b[2] = {break_kind::allowed, break_kind::allowed};
    line_breaks(nullptr, 0, b);
    EXPECT_EQ(b[0], break_kind::none);
    EXPECT_EQ(b[1], break_kind::allowed);
    bool g[2] = {true, true};
    grapheme_boundaries(nullptr, 0, g);
    EXPECT_FALSE(g[0]);
    EXPECT_TRUE(g[1]);
}

// Surrogates, values past U+10FFFF and noncharacters read as an unassigned
// code point does: AL for lines (no break between them and a letter), Other
// for clusters (a combining mark joins them).
TEST(LineBreak, AnyValueIsSafe) {
    for (char32_t v : {char32_t{0xD800}, char32_t{0xDFFF}, char32_t{0x110000}, char32_t{0x7FFFFFFF},
                       char32_t{0xFFFFFFFF}, char32_t{0xFFFE}, char32_t{0x10FFFF}}) {
        const std::u32string text = {v, U'a', v, U' ', v, U'\u0308'};
        const auto code = static_cast<uint32_t>(v);
        EXPECT_EQ(marked(text), (std::u32string{v, U'a', v, U' ', U'|', v, U'\u0308'})) << std::hex << code;
        EXPECT_EQ(clustered(text), (std::u32string{v, U'|', U'a', U'|', v, U'|', U' ', U'|', v, U'\u0308'})) << code;
    }
}

TEST(GraphemeBreak, MarkedClusters) {
    const struct {
        std::u32string text, expected;
    } rows[] = {
        {U"\U0001F469\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466!",
         U"\U0001F469\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466|!"},
        {U"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7\U0001F1EC",
         U"\U0001F1E9\U0001F1EA|\U0001F1EB\U0001F1F7|\U0001F1EC"},
        {U"e\u0301\r\n\u1100\u1161\u11A8x", U"e\u0301|\r\n|\u1100\u1161\u11A8|x"},
        // Devanagari KSSA (KA, VIRAMA, SSA) is one cluster; a lone virama after a vowel sign is not a conjunct.
        {U"\u0915\u094D\u0937\u093F\u094D\u0915", U"\u0915\u094D\u0937\u093F\u094D|\u0915"},
        {U"\u0600a b", U"\u0600a| |b"},  // Prepend holds to what follows
    };
    for (const auto &row : rows) EXPECT_EQ(clustered(row.text), row.expected);
}

// The ASCII shortcuts must give what the full rules give: the same texts with
// U+00E9 (AL, and GCB Other) in place of every ASCII letter, or for clusters
// of every printable ASCII character, which the shortcuts do not take, break
// alike. The texts mix letters and spaces with characters whose rules read
// context.
TEST(LineBreak, AsciiShortcutsAgreeWithTheRules) {
    const char32_t alphabet[] = {U'a',      U'Z',          U' ',      U' ',  U'\u0308', U'\u200D', U'\u200B',
                                 U'(',      U'"',          U'\u00AB', U'-',  U'1',      U'.',      U'\u25CC',
                                 U'\u05D0', U'\U0001F1E6', U'\u0600', U'\r', U'\n'};
    uint32_t seed = 12345;
    for (int round = 0; round < 3000; ++round) {
        std::u32string text, letters, printable;
        for (int n = 0; n < 8; ++n) {
            seed = seed * 1103515245u + 12345u;
            const char32_t c = alphabet[(seed >> 16) % std::size(alphabet)];
            text += c;
            letters += (c | 0x20) - U'a' < 26 ? U'\u00E9' : c;
            printable += c - U' ' < 0x5F ? U'\u00E9' : c;
        }
        ASSERT_EQ(breaks_of(text), breaks_of(letters)) << round;
        ASSERT_EQ(clusters_of(text), clusters_of(printable)) << round;
    }
}

}  // namespace
