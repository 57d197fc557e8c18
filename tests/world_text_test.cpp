// World text against HarfBuzz's own hb-shape (6.0.0, Debian's
// libharfbuzz-bin, an independent build of an older release than the one
// compiled in): the same sentence in seven scripts laid out by the library
// with Debian's Noto fonts, glyph for glyph in visual order; Chinese
// wrapped; kerning in fonts the simple layout misread; and a font chain
// that leaves nothing missing. The fonts and hb-shape are on the build
// machine (scripts/setup.sh --tests installs them): their absence fails.
// The two HarfBuzz releases agree on every glyph of these texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "quendal_imgtext.h"
#include "text/layout.h"

using namespace imgtext;

namespace {

struct font_file {
    const char *path;
    int index;  // in a collection
};
#define NOTO "/usr/share/fonts/truetype/noto/NotoSans"
const font_file k_latin{NOTO "-Regular.ttf", 0}, k_arabic{NOTO "Arabic-Regular.ttf", 0},
    k_hebrew{NOTO "Hebrew-Regular.ttf", 0}, k_devanagari{NOTO "Devanagari-Regular.ttf", 0},
    k_bengali{NOTO "Bengali-Regular.ttf", 0}, k_thai{NOTO "Thai-Regular.ttf", 0},
    k_chinese{"/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", 2},  // Noto Sans CJK SC
    k_carlito{"/usr/share/fonts/truetype/crosextra/Carlito-Regular.ttf", 0},
    k_freesans{"/usr/share/fonts/truetype/freefont/FreeSans.ttf", 0};
#undef NOTO

// Each font loaded once for the whole program, freed at its end (so that
// the leak checker sees them go).
struct loaded_fonts {
    std::map<std::string, imgtext_font *> by_name;
    ~loaded_fonts() {
        for (auto &entry : by_name) imgtext_font_free(entry.second);
    }
};

const imgtext_font *load(const font_file &f) {
    static loaded_fonts loaded;
    imgtext_font *&font = loaded.by_name[std::string(f.path) + '#' + std::to_string(f.index)];
    if (!font && imgtext_font_load(f.path, f.index, &font) != IMGTEXT_OK) {
        ADD_FAILURE() << f.path << ": " << imgtext_error_message();
    }
    return font;
}

// UTF-32 to UTF-8: the test's texts are written as code points.
std::string utf8(const std::u32string &text) {
    std::string out;
    for (const char32_t c : text) {
        const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        out += static_cast<char>(extra == 0 ? c : (0xF0u << (3 - extra) & 0xFFu) | c >> (6 * extra));
        for (int i = extra - 1; i >= 0; --i) out += static_cast<char>(0x80u | ((c >> (6 * i)) & 0x3Fu));
    }
    return out;
}

struct placed {
    int font;  // in the chain
    unsigned glyph;
    int advance, dx, dy;  // font units, y up
    bool operator==(const placed &) const = default;
    friend void PrintTo(const placed &g, std::ostream *os) {
        *os << g.font << ':' << g.glyph << '@' << g.dx << ',' << g.dy << '+' << g.advance;
    }
};

// What `hb-shape --no-glyph-names --no-clusters` gives for the text in one
// direction and script ("[gid@dx,dy+advance|gid+advance|...]"). Its default
// language is the locale's: C here, which no font has forms for, as the
// library by default sets none.
std::vector<placed> hb_shape(const font_file &f, int font, const std::u32string &text, bool rtl, const char *script,
                             const char *features = "") {
    std::string command = std::string("LC_ALL=C.UTF-8 hb-shape --no-glyph-names --no-clusters --face-index=") +
                          std::to_string(f.index) + " --direction=" + (rtl ? "rtl" : "ltr") + " --script=" + script +
                          " --features=" + features + " --unicodes=";
    for (const char32_t c : text) command += "U+" + (std::ostringstream() << std::hex << unsigned(c)).str() + ',';
    command += std::string(" ") + f.path;
    FILE *pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    EXPECT_TRUE(pipe && pclose(pipe) == 0) << command;
    std::vector<placed> glyphs;
    for (const char *p = out.c_str(); *p == '[' || *p == '|';) {
        placed g{font, 0, 0, 0, 0};
        int used = 0;
        if (std::sscanf(p + 1, "%u%n", &g.glyph, &used) != 1) break;
        p += 1 + used;
        if (*p == '@' && std::sscanf(p, "@%d,%d%n", &g.dx, &g.dy, &used) == 2) p += used;
        if (std::sscanf(p, "+%d%n", &g.advance, &used) != 1) break;
        p += used;
        glyphs.push_back(g);
    }
    EXPECT_FALSE(glyphs.empty()) << command << " gave " << out;
    return glyphs;
}

// A stretch of text in one font and one direction, as hb-shape is given it.
struct run {
    int font;  // in the chain
    std::u32string text;
    bool rtl;
    const char *script;  // ISO 15924, as the library resolves it for the run
};

struct sentence {
    const char *name;
    std::vector<font_file> chain;
    std::u32string text;
    std::vector<run> visual;  // the runs left to right; one for a single script
    friend void PrintTo(const sentence &s, std::ostream *os) { *os << s.name; }
};

// A sentence in one font, script and direction.
sentence single(const char *name, const font_file &font, const std::u32string &text, bool rtl, const char *script) {
    return {name, {font}, text, {{0, text, rtl, script}}};
}

// The library's shaped layout of the text at 1 pixel per font unit (the em
// in pixels is each font's units per em, 1000 for all of these): its glyphs
// in visual order and its lines.
struct layout_result {
    std::vector<placed> glyphs;
    std::vector<std::string> lines;
};
layout_result laid_out(const std::vector<font_file> &chain, const std::u32string &text, int max_width = 0) {
    std::vector<const font_face *> fonts;
    for (const font_file &f : chain) {
        if (!fonts.emplace_back(load(f))) return {};
    }
    const text_face face = make_text_face(fonts.data(), static_cast<int>(fonts.size()), 1000.0f, true, 1.0f);
    for (int i = 0; i < face.font_count; ++i) EXPECT_EQ(face.fonts[i].scale, 1.0f) << chain[i].path;
    const std::string bytes = utf8(text);
    text_layout layout{};
    layout_result result;
    if (layout_text({bytes.data(), bytes.size(), text_encoding::utf8, face, max_width, {layout_mode::shaped}},
                    &layout) != IMGTEXT_OK) {
        ADD_FAILURE() << imgtext_error_message();
        return result;
    }
    EXPECT_EQ(layout.missing_glyphs, 0);
    for (const line_glyph &g : layout.stored->glyphs) {
        EXPECT_EQ(g.kerning, 0.0f);  // a shaped glyph's position is all in its advance and offset
        result.glyphs.push_back(
            {g.font, g.glyph, static_cast<int>(g.advance), static_cast<int>(g.dx), -static_cast<int>(g.dy)});
    }
    for (size_t i = 0; i < layout.line_count; ++i) result.lines.emplace_back(layout.lines[i].text, layout.lines[i].len);
    free_text_layout(&layout);
    return result;
}

// The first glyph where two lines differ, with the glyphs around it.
void expect_same_glyphs(const std::vector<placed> &actual, const std::vector<placed> &expected) {
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    if (i == actual.size() && i == expected.size()) return;
    std::ostringstream report;
    report << "glyph " << i << " of " << actual.size() << " (hb-shape: " << expected.size() << ")";
    for (const auto *side : {&actual, &expected}) {
        report << (side == &actual ? "\n  library:" : "\n hb-shape:");
        for (size_t j = i > 2 ? i - 2 : 0; j < side->size() && j < i + 4; ++j) {
            report << ' ' << ::testing::PrintToString((*side)[j]);
        }
    }
    ADD_FAILURE() << report.str();
}

class NotoShaping : public ::testing::TestWithParam<sentence> {};

TEST_P(NotoShaping, GlyphsInVisualOrderMatchHbShape) {
    const sentence &s = GetParam();
    std::vector<placed> expected;
    for (const run &r : s.visual) {
        const std::vector<placed> glyphs = hb_shape(s.chain[r.font], r.font, r.text, r.rtl, r.script);
        expected.insert(expected.end(), glyphs.begin(), glyphs.end());
    }
    expect_same_glyphs(laid_out(s.chain, s.text).glyphs, expected);
}

// "Hello - the weather is nice today, let's go out now", the greetings in
// Arabic and Hebrew with their vowel marks (placed by GPOS, as offsets).
// Hebrew and Thai go without the comma, which their fonts lack (Thai parts
// clauses by spaces); Chinese has its own punctuation.
const std::u32string k_chinese_text = U"你好！今天天气很好，我们现在出去吧。";
INSTANTIATE_TEST_SUITE_P(
    WorldText, NotoShaping,
    ::testing::Values(single("Arabic", k_arabic, U"مَرْحَبًا - الطقس جميل اليوم، هيا نخرج الآن", true, "Arab"),
                      single("Hebrew", k_hebrew, U"שָׁלוֹם - מזג האוויר יפה היום - בוא נצא עכשיו", true, "Hebr"),
                      // A right-to-left paragraph with English at level 2. Spaces and
                      // hyphens come from Noto Sans (first in the chain), each run taking
                      // the script of the text before it: hb-shape gets each font's piece
                      // of each directional run.
                      sentence{"HebrewAndEnglish",
                               {k_latin, k_hebrew},
                               U"שלום - the weather is nice today - בוא נצא עכשיו",
                               {{1, U"עכשיו", true, "Hebr"},
                                {0, U" ", true, "Hebr"},
                                {1, U"נצא", true, "Hebr"},
                                {0, U" ", true, "Hebr"},
                                {1, U"בוא", true, "Hebr"},
                                {0, U" - ", true, "Latn"},
                                {0, U"the weather is nice today", false, "Latn"},
                                {0, U" - ", true, "Hebr"},
                                {1, U"שלום", true, "Hebr"}}},
                      single("Hindi", k_devanagari, U"नमस्ते - आज मौसम अच्छा है, चलिए अब बाहर चलते हैं", false, "Deva"),
                      single("Bengali", k_bengali, U"নমস্কার - আজ আবহাওয়া সুন্দর, চলো এখন বাইরে যাই", false, "Beng"),
                      single("Thai", k_thai, U"สวัสดี - วันนี้อากาศดี ออกไปข้างนอกกันเถอะ", false, "Thai"),
                      single("Chinese", k_chinese, k_chinese_text, false, "Hani")),
    [](const ::testing::TestParamInfo<sentence> &info) { return std::string(info.param.name); });

// Between ideographs a line may break anywhere but before closing
// punctuation: at three ems (each character is one) "好，" moves down as
// one, so does "吧。", and no line starts with "，", "。" or "！".
TEST(WorldTextWrapping, ChineseBreaksBetweenIdeographsNeverBeforeClosingPunctuation) {
    EXPECT_EQ(laid_out({k_chinese}, k_chinese_text, 3000).lines,
              (std::vector<std::string>{utf8(U"你好！"), utf8(U"今天天"), utf8(U"气很"), utf8(U"好，我"),
                                        utf8(U"们现在"), utf8(U"出去"), utf8(U"吧。")}));
}

// The text's width through the exports, at a size in pixels per em.
int measured_width(const imgtext_font *font, const std::u32string &text, float em) {
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.font = font;  // a loaded font: the default layout shapes it
    style.size = em;
    style.size_unit = IMGTEXT_SIZE_EM;
    imgtext_text_metrics metrics;
    imgtext_text_metrics_init(&metrics);
    const std::string bytes = utf8(text);
    EXPECT_EQ(imgtext_measure_text(bytes.data(), bytes.size(), &style, &metrics, nullptr, 0), IMGTEXT_OK);
    return metrics.width;
}

int advance_sum(const std::vector<placed> &glyphs) {
    int sum = 0;
    for (const placed &g : glyphs) sum += g.advance;
    return sum;
}

// Carlito keeps its pairs in GPOS lookups behind Extension lookups (type
// 9), which a reader of plain pair adjustments misses: -89, -182 and -71
// units here. At its 2048 units per em in pixels, the width is the units.
TEST(WorldTextKerning, CarlitoPairsInExtensionLookups) {
    const imgtext_font *carlito = load(k_carlito);
    for (const std::u32string pair : {U"AV", U"To", U"Wa"}) {
        const int kerned = advance_sum(hb_shape(k_carlito, 0, pair, false, "Latn"));
        EXPECT_LT(kerned, advance_sum(hb_shape(k_carlito, 0, pair, false, "Latn", "-kern"))) << utf8(pair);
        EXPECT_EQ(measured_width(carlito, pair, 2048.0f), kerned) << utf8(pair);
    }
}

// FreeSans has a legacy kern table and a GPOS kern feature (for other
// scripts than Latin): an OpenType shaper then reads GPOS alone, so the
// pangram is unkerned, 925 pixels at 48 per em, where the kern table's
// pairs would take off 17. The width is each advance scaled to pixels and
// summed in single precision, in order, then rounded up.
TEST(WorldTextKerning, FreeSansPangramAt48PixelsPerEm) {
    const std::u32string pangram = U"The quick brown fox jumps over the lazy dog";
    float pen = 0.0f;
    for (const placed &g : hb_shape(k_freesans, 0, pangram, false, "Latn")) pen = pen + g.advance * (48.0f / 1000);
    EXPECT_EQ(measured_width(load(k_freesans), pangram, 48.0f), static_cast<int>(std::ceil(pen)));
}

// Latin, Arabic and Chinese drawn with a chain of three fonts: nothing is
// missing. Noto Sans alone lacks the five Arabic letters and two ideographs.
TEST(WorldTextFallback, ThreeFontChainLeavesNothingMissing) {
    const std::string text = utf8(U"Hello مرحبا 你好");
    const imgtext_font *const more[] = {load(k_arabic), load(k_chinese)};
    imgtext_image *image = nullptr;
    ASSERT_EQ(imgtext_image_create(400, 80, {0, 0, 0, 255}, &image), IMGTEXT_OK);
    for (const size_t fallbacks : {2u, 0u}) {
        imgtext_text_style style;
        imgtext_text_style_init(&style);
        style.font = load(k_latin);
        style.fallbacks = more;
        style.fallback_count = fallbacks;
        imgtext_text_metrics metrics;
        imgtext_text_metrics_init(&metrics);
        ASSERT_EQ(imgtext_draw_text(image, text.data(), text.size(), 10, 10, IMGTEXT_TOP_LEFT, &style, &metrics),
                  IMGTEXT_OK)
            << imgtext_error_message();
        EXPECT_EQ(metrics.missing_glyphs, fallbacks ? 0 : 7) << fallbacks << " fallbacks";
        EXPECT_EQ(metrics.line_count, 1);
    }
    imgtext_image_free(image);
}

}  // namespace
