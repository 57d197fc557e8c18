// Text made to fit a box, through the drawing API: auto-size, letter
// spacing, line height, wrap modes, max_lines with its ellipsis, justified
// lines, and the hostile values of each.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "api_support.h"
#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::image_handle;
using test_support::pixels_of;
using test_support::style_of;

namespace {

const char *const k_caption =
    "A text box that fits chooses the largest size at which every word of its caption stays inside, "
    "wrapping at the box's width and stopping one step before the text would spill out below.";

struct measured {
    imgtext_status status;
    imgtext_text_metrics m;
    std::vector<int> widths;
};

measured measure(const std::string &text, const imgtext_text_style &style) {
    measured r{};
    imgtext_text_metrics_init(&r.m);
    std::vector<int> w(256, -1);
    r.status = imgtext_measure_text(text.data(), text.size(), &style, &r.m, w.data(), w.size());
    if (r.status == IMGTEXT_OK) r.widths.assign(w.begin(), w.begin() + std::min(r.m.line_count, 256));
    return r;
}

int width_of(const std::string &text, const imgtext_text_style &style) {
    const measured r = measure(text, style);
    EXPECT_EQ(r.status, IMGTEXT_OK) << imgtext_error_message();
    return r.m.width;
}

test_support::rgba drawn(const std::string &text, const imgtext_text_style &style, int w = 400, int h = 160, int x = 10,
                         int y = 10, imgtext_position anchor = IMGTEXT_TOP_LEFT) {
    image_handle image;
    EXPECT_EQ(imgtext_image_create(w, h, {0, 0, 0, 255}, &image.p), IMGTEXT_OK);
    EXPECT_EQ(imgtext_draw_text(image.p, text.data(), text.size(), x, y, anchor, &style, nullptr), IMGTEXT_OK)
        << imgtext_error_message();
    return pixels_of(image.p);
}

TEST(TextBox, AutoSizeFitsAndOneStepLargerDoesNot) {
    imgtext_text_style fit = style_of(24);
    fit.auto_size = 1, fit.fit_width = 300, fit.fit_height = 200;
    const measured chosen = measure(k_caption, fit);
    ASSERT_EQ(chosen.status, IMGTEXT_OK) << imgtext_error_message();
    EXPECT_EQ(chosen.m.size * 64.0f, std::floor(chosen.m.size * 64.0f));  // a multiple of 1/64
    imgtext_text_style at = style_of(chosen.m.size);
    at.max_width = 300;
    const measured same = measure(k_caption, at);
    EXPECT_EQ(same.m.width, chosen.m.width);
    EXPECT_EQ(same.m.height, chosen.m.height);
    EXPECT_LE(same.m.width, 300);
    EXPECT_LE(same.m.height, 200);
    at.size = chosen.m.size + 1.0f / 64.0f;
    const measured larger = measure(k_caption, at);
    EXPECT_TRUE(larger.m.width > 300 || larger.m.height > 200) << larger.m.width << " x " << larger.m.height;

    // The sizes given bound the search; a box nothing fits is refused
    // unless a minimum is given, and then the text is cut at it.
    fit.max_size = 10;
    EXPECT_EQ(measure(k_caption, fit).m.size, 10.0f);
    fit.max_size = 0, fit.fit_width = 30, fit.fit_height = 1;  // three lines at 1 px
    EXPECT_EQ(measure(k_caption, fit).status, IMGTEXT_ERROR_ARGUMENT);
    EXPECT_NE(std::string(imgtext_error_message()).find("does not fit"), std::string::npos);
    fit.min_size = 12, fit.max_lines = 1;
    const measured cut = measure(k_caption, fit);
    ASSERT_EQ(cut.status, IMGTEXT_OK);
    EXPECT_EQ(cut.m.size, 12.0f);
    EXPECT_EQ(cut.m.line_count, 1);
    EXPECT_EQ(cut.m.truncated, 1);
    EXPECT_LE(cut.m.width, 30);
}

// Turned or tiled, auto-size fits the text box on the text's own axes
// (fit_width along its lines) before it turns: the size upright text
// chooses, drawn exactly as that size given, and one step larger does not
// fit; measuring turned text chooses it too.
TEST(TextBox, AutoSizeFitsTheTextBeforeItTurnsOrTiles) {
    imgtext_text_style fit = style_of(24);
    fit.auto_size = 1, fit.fit_width = 300, fit.fit_height = 200;
    const float size = measure(k_caption, fit).m.size;
    imgtext_text_style at = style_of(size);
    at.max_width = 300;
    at.size = size + 1.0f / 64.0f;
    const measured larger = measure(k_caption, at);
    EXPECT_TRUE(larger.m.width > 300 || larger.m.height > 200);
    at.size = size;
    for (const float angle : {90.0f, 30.0f}) {
        for (const int tile : {0, 1}) {
            fit.rotation = at.rotation = angle, fit.tile = at.tile = tile;
            const measured turned = measure(k_caption, fit);
            ASSERT_EQ(turned.status, IMGTEXT_OK) << imgtext_error_message();
            EXPECT_EQ(turned.m.size, size);
            EXPECT_EQ(turned.m.width, measure(k_caption, at).m.width);
            if (angle == 90.0f) {
                EXPECT_LE(turned.m.width, 200);  // the box's height, turned
            }
            const test_support::rgba picture = drawn(k_caption, fit, 420, 420, 210, 210, IMGTEXT_CENTER);
            EXPECT_EQ(picture.pixels, drawn(k_caption, at, 420, 420, 210, 210, IMGTEXT_CENTER).pixels) << angle << tile;
            EXPECT_GT(test_support::ink(picture, test_support::solid(420, 420, 0, 0, 0, 255)).count, 2000);
        }
    }
}

TEST(TextBox, LetterSpacingWidensByClustersLessOne) {
    imgtext_text_style style = style_of(24);
    const int plain = width_of("Hello, World", style), accented = width_of("Cafe\xCC\x81 au lait", style);
    style.letter_spacing = 3;
    EXPECT_EQ(width_of("Hello, World", style), plain + 11 * 3);
    EXPECT_EQ(width_of("Cafe\xCC\x81 au lait", style), accented + 11 * 3);  // e + U+0301 is one cluster
    style.letter_spacing = -2;
    EXPECT_EQ(width_of("Hello, World", style), plain - 11 * 2);
    // Thousandths of an em: 1000 is the em (the size when size is the em).
    imgtext_text_style em = style_of(20);
    em.size_unit = IMGTEXT_SIZE_EM;
    const int em_plain = width_of("Hello", em);
    em.letter_spacing = 250, em.letter_spacing_unit = IMGTEXT_LETTER_SPACING_EM_1000;
    EXPECT_EQ(width_of("Hello", em), em_plain + 4 * 5);
    // Wrapping measures the spacing as drawn: no line is wider than the width.
    style.letter_spacing = 4, style.max_width = 250;
    for (int w : measure(k_caption, style).widths) EXPECT_LE(w, 250);
}

// Shaped text: spacing between clusters turns off the optional ligatures
// (office keeps its six letters), and leaves a joined Arabic word whole.
TEST(TextBox, LetterSpacingInShapedText) {
    imgtext_font *font = nullptr;
    ASSERT_EQ(imgtext_font_load("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0, &font), IMGTEXT_OK)
        << imgtext_error_message();
    imgtext_text_style style = style_of(24);
    style.font = font;
    const std::string arabic = "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85";  // salam: one joined run
    const int joined = width_of(arabic, style), latin = width_of("salam", style);
    imgtext_text_style unligated = style;
    unligated.features = "-liga";
    const int office = width_of("office", unligated);
    style.letter_spacing = 6;
    EXPECT_EQ(width_of(arabic, style), joined);
    EXPECT_EQ(width_of("salam", style), latin + 4 * 6);
    EXPECT_EQ(width_of("office", style), office + 5 * 6);
    imgtext_font_free(font);
}

TEST(TextBox, LineHeightInPixelsOrByLeading) {
    imgtext_text_style style = style_of(24);
    const int pitch = measure("a\nb", style).m.line_height;
    style.line_height = 40;
    EXPECT_EQ(measure("a\nb", style).m.height, 80);
    style.line_height = 0, style.leading = -5;
    EXPECT_EQ(measure("a\nb", style).m.line_height, pitch - 5);
    style.leading = -QUENDAL_IMGTEXT_MAX_LINE_HEIGHT;
    EXPECT_EQ(measure("a\nb", style).m.line_height, 1);
}

TEST(TextBox, WrapModes) {
    imgtext_text_style style = style_of(24);
    style.max_width = width_of("aaaa b", style);
    EXPECT_EQ(measure("aaaa bbbb", style).m.line_count, 2);  // word: "aaaa" "bbbb"
    style.wrap = IMGTEXT_WRAP_CHARACTER;
    const measured chars = measure("aaaa bbbb", style);
    ASSERT_EQ(chars.m.line_count, 2);
    EXPECT_EQ(chars.widths[0], width_of("aaaa b", style_of(24)));
    // Never inside a cluster, even when one cluster alone is wider.
    const std::string e = "e\xCC\x81";
    style.max_width = width_of(e, style_of(24)) + 2;
    const measured clusters = measure(e + e + e, style);
    EXPECT_EQ(clusters.m.line_count, 3);
    style.wrap = IMGTEXT_WRAP_NONE;
    EXPECT_EQ(measure(k_caption, style).m.line_count, 1);
}

TEST(TextBox, MaxLinesEndsInAnEllipsisThatFits) {
    imgtext_text_style style = style_of(24);
    style.max_width = 260, style.max_lines = 2;
    const measured cut = measure(k_caption, style);
    ASSERT_EQ(cut.status, IMGTEXT_OK);
    EXPECT_EQ(cut.m.line_count, 2);
    EXPECT_EQ(cut.m.truncated, 1);
    EXPECT_LE(cut.widths[1], 260);
    style.max_lines = 100;
    EXPECT_EQ(measure(k_caption, style).m.truncated, 0);

    // One line, not wrapped: the drawing is exactly the longest prefix that
    // fits with U+2026 after it.
    const std::string text = "Sphinx of black quartz, judge my vow";
    imgtext_text_style one = style_of(24);
    one.wrap = IMGTEXT_WRAP_NONE, one.max_width = 200, one.max_lines = 1;
    const test_support::rgba got = drawn(text, one);
    size_t k = 0;
    while (k < text.size() && width_of(text.substr(0, k + 1) + "\xE2\x80\xA6", style_of(24)) <= 200) ++k;
    std::string expected = text.substr(0, k);
    while (!expected.empty() && expected.back() == ' ') expected.pop_back();
    EXPECT_EQ(got.pixels, drawn(expected + "\xE2\x80\xA6", style_of(24)).pixels) << expected;
    EXPECT_LE(measure(text, one).m.width, 200);

    // Any count is bounded by the text.
    one.max_lines = INT_MAX;
    EXPECT_EQ(measure(text, one).m.line_count, 1);
}

TEST(TextBox, JustifiedLinesReachBothMargins) {
    imgtext_text_style style = style_of(20);
    style.max_width = 300, style.align = IMGTEXT_ALIGN_JUSTIFY;
    const measured j = measure(k_caption, style);
    ASSERT_GE(j.m.line_count, 3);
    for (int i = 0; i + 1 < j.m.line_count; ++i) EXPECT_EQ(j.widths[i], j.m.width) << i;
    EXPECT_LT(j.widths.back(), j.m.width);
    const test_support::rgba justified = drawn(k_caption, style, 340, 260);
    style.align = IMGTEXT_ALIGN_LEFT;
    const test_support::rgba left = drawn(k_caption, style, 340, 260);
    style.align = IMGTEXT_ALIGN_RIGHT;
    const test_support::rgba right = drawn(k_caption, style, 340, 260);
    const test_support::rgba blank = drawn("", style, 340, 260);
    for (int i = 0; i + 1 < j.m.line_count; ++i) {
        const int top = 10 + i * j.m.line_height, bottom = top + j.m.line_height;
        const auto a = test_support::ink(justified, blank, top, bottom),
                   l = test_support::ink(left, blank, top, bottom), r = test_support::ink(right, blank, top, bottom);
        EXPECT_EQ(a.left, l.left) << i;
        EXPECT_LE(std::abs(a.right - r.right), 1) << i;
    }
}

TEST(TextBox, HostileValuesAreRefusedNamingTheField) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct hostile {
        const char *field;
        void (*set)(imgtext_text_style &, float);
    };
    const hostile cases[] = {
        {"letter_spacing", [](imgtext_text_style &s, float v) { s.letter_spacing = v; }},
        {"line_height", [](imgtext_text_style &s, float v) { s.line_height = v; }},
        {"leading", [](imgtext_text_style &s, float v) { s.leading = v; }},
        {"min_size", [](imgtext_text_style &s, float v) { s.min_size = v; }},
        {"max_size", [](imgtext_text_style &s, float v) { s.max_size = v; }},
    };
    for (const hostile &c : cases) {
        for (float v : {nan, 1e9f, -1e9f}) {
            imgtext_text_style style = style_of(24);
            style.auto_size = 1, style.fit_width = 100, style.fit_height = 100;
            c.set(style, v);
            EXPECT_EQ(measure("text", style).status, IMGTEXT_ERROR_ARGUMENT) << c.field << " " << v;
            EXPECT_NE(std::string(imgtext_error_message()).find(c.field), std::string::npos) << imgtext_error_message();
        }
    }
    imgtext_text_style style = style_of(24);
    style.max_lines = -1;
    EXPECT_EQ(measure("text", style).status, IMGTEXT_ERROR_ARGUMENT);
    EXPECT_NE(std::string(imgtext_error_message()).find("max_lines"), std::string::npos);
    style = style_of(24), style.wrap = 3;
    EXPECT_EQ(measure("text", style).status, IMGTEXT_ERROR_ARGUMENT);
    style = style_of(24), style.auto_size = 1;  // an empty box
    EXPECT_EQ(measure("text", style).status, IMGTEXT_ERROR_ARGUMENT);
    EXPECT_NE(std::string(imgtext_error_message()).find("fit_width"), std::string::npos);
    style.fit_width = -5, style.fit_height = 10;
    EXPECT_EQ(measure("text", style).status, IMGTEXT_ERROR_ARGUMENT);
    style.fit_width = 10, style.min_size = 30, style.max_size = 20;
    EXPECT_EQ(measure("text", style).status, IMGTEXT_ERROR_ARGUMENT);
    EXPECT_NE(std::string(imgtext_error_message()).find("min_size"), std::string::npos);
    // The largest spacing allowed, on a long line: done, and bounded.
    style = style_of(24), style.letter_spacing = -QUENDAL_IMGTEXT_MAX_LETTER_SPACING, style.max_width = 100;
    style.max_lines = 2;
    EXPECT_EQ(measure(std::string(20000, 'x'), style).status, IMGTEXT_OK);
}

}  // namespace
