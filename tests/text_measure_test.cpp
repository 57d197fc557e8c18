// Font metrics and line measurement, checked against hand-derived numbers for
// the embedded Caladea Regular.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "engine_support.h"
#include "font/font.h"
#include "font/font_data.h"
#include "text/layout.h"

using namespace imgtext;

namespace {

class Measure : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(builtin_font_ready()); }

    // Lines point into the measured text, so the fixture keeps it alive.
    text_layout measure(const std::string &text, int size = 24) {
        const std::string &kept = texts_.emplace_back(text);
        text_layout layout{};
        EXPECT_EQ(measure_text_box(kept.c_str(), size, &layout), 1);
        layouts_.push_back(layout);
        return layout;
    }
    void TearDown() override {
        for (auto &l : layouts_) free_text_layout(&l);
    }

private:
    std::deque<std::string> texts_;
    std::vector<text_layout> layouts_;
};

TEST(EmbeddedFont, IsTheWholeTrueTypeFile) {
    EXPECT_EQ(k_font_data_size, 58964u);
    EXPECT_EQ((std::vector<unsigned char>(s_font_data, s_font_data + 4)), (std::vector<unsigned char>{0, 1, 0, 0}));
}

TEST_F(Measure, VerticalMetricsAreTheFontsHheaValues) {
    const vertical_metrics m = font_vertical_metrics();
    EXPECT_EQ((std::vector<int>{m.ascent, m.descent, m.line_gap}), (std::vector<int>{950, -222, 0}));
}

struct size_row {
    int px;
    float scale;
    int ascent, line_height;
};

class MetricsBySize : public Measure, public ::testing::WithParamInterface<size_row> {};

TEST_P(MetricsBySize, ScaleAscentAndLineHeight) {
    const size_row row = GetParam();
    EXPECT_EQ(font_scale(effective_pixel_size(row.px)), row.scale);
    const text_layout layout = measure("x", row.px);
    EXPECT_EQ(layout.ascent, row.ascent);
    EXPECT_EQ(layout.line_height, row.line_height);
}

INSTANTIATE_TEST_SUITE_P(SinglePrecisionTable, MetricsBySize,
                         ::testing::Values(size_row{7, 0.0059726965f, 6, 8}, size_row{8, 0.0068259384f, 7, 8},
                                           size_row{12, 0.010238908f, 10, 12}, size_row{13, 0.011092151f, 11, 14},
                                           size_row{16, 0.013651877f, 13, 16}, size_row{24, 0.020477816f, 20, 24},
                                           size_row{0, 0.020477816f, 20, 24}, size_row{-7, 0.020477816f, 20, 24},
                                           size_row{32, 0.027303753f, 26, 32}, size_row{48, 0.040955633f, 39, 48},
                                           size_row{72, 0.061433446f, 59, 72}));

TEST_F(Measure, LineHeightExceedsPixelSizeFor244SizesUpTo5000) {
    int taller = 0;
    for (int px = 1; px <= 5000; ++px) {
        const int h = measure("", px).line_height;
        ASSERT_TRUE(h == px || h == px + 1) << "px " << px;
        taller += (h == px + 1);
    }
    EXPECT_EQ(taller, 244);
}

TEST_F(Measure, AdvancesAndKerningInFontUnits) {
    auto glyph = [](char c) { return glyph_for_byte(c); };
    const std::pair<char, int> advances[] = {{'H', 687}, {'e', 488}, {'l', 271}, {'o', 531},
                                             {'A', 623}, {'V', 604}, {'T', 593}, {'W', 921}};
    for (auto [c, advance] : advances) EXPECT_EQ(glyph_advance(glyph(c)), advance) << c;

    const struct {
        char left, right;
        int kern;
    } pairs[] = {{'A', 'V', -59}, {'V', 'A', -84}, {'T', 'o', -81}, {'T', 'e', -81}, {'L', 'T', -103}, {'W', 'o', -59},
                 {'r', 'l', -5},  {'H', 'e', 0},   {'e', 'l', 0},   {'l', 'l', 0},   {'l', 'o', 0}};
    for (const auto &p : pairs) EXPECT_EQ(glyph_kerning(glyph(p.left), glyph(p.right)), p.kern) << p.left << p.right;
}

TEST_F(Measure, HighBytesAndControlsAreGlyphZeroWith220Units) {
    for (int byte : {0x09, 0x0D, 0x80, 0xE9, 0xFF}) {
        EXPECT_EQ(glyph_for_byte(static_cast<char>(byte)), 0) << byte;
    }
    EXPECT_EQ(glyph_advance(0), 220);
    EXPECT_EQ(glyph_advance(glyph_for_byte(' ')), 220);
}

// Text is cut into lines at every 0x0A byte and nowhere else; each line is
// measured; the box is as wide as the widest line (at least 1) and as high
// as the line height (24 at 24 px, 14 at 13 px) times the number of lines.
TEST_F(Measure, LinesTheirWidthsAndTheBox) {
    const struct {
        std::string text;
        int size;
        std::vector<int> widths;
        int box_width, box_height;
    } rows[] = {
        {"Hello", 24, {47}, 47, 24},
        {"H", 24, {15}, 15, 24},
        {"AV", 24, {24}, 24, 24},  // kerned: -59 units
        {"To", 24, {22}, 22, 24},
        {"Hello World", 24, {105}, 105, 24},
        {"Hello World", 0, {105}, 105, 24},  // sizes below 1 measure as 24
        {"Hello World", -1, {105}, 105, 24},
        {"Hello World", -1000, {105}, 105, 24},
        {"Hello", 12, {24}, 24, 12},
        {"Hello", 48, {93}, 93, 48},
        {" ", 24, {5}, 5, 24},
        {"\xE9", 24, {5}, 5, 24},        // a Latin-1 e-acute, and each byte of its UTF-8
        {"\xC3\xA9", 24, {10}, 10, 24},  // form, is 220 units like a space
        {"Hello\r", 24, {51}, 51, 24},
        {"Hello\r\nWorld", 24, {51, 54}, 54, 48},  // the carriage return stays in the line
        {"", 24, {0}, 1, 24},
        {"\n", 24, {0, 0}, 1, 48},
        {"Hello\n", 24, {47, 0}, 47, 48},
        {"A\n\nB", 24, {13, 0, 13}, 13, 72},
        {"To\nHello World\nAV", 24, {22, 105, 24}, 105, 72},
        {"1\n2\n3\n4", 24, {12, 12, 12, 12}, 12, 96},
        {"1\n2\n3\n4\n5\n6\n7\n8\n9", 13, {7, 7, 7, 7, 7, 7, 7, 7, 7}, 7, 9 * 14},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text + " at " + std::to_string(row.size));
        const text_layout layout = measure(row.text, row.size);
        ASSERT_EQ(layout.line_count, row.widths.size());
        size_t start = 0;
        for (size_t i = 0; i < layout.line_count; ++i) {
            const size_t end = std::min(row.text.find('\n', start), row.text.size());
            EXPECT_EQ(std::string(layout.lines[i].text, layout.lines[i].len), row.text.substr(start, end - start));
            EXPECT_EQ(layout.lines[i].width, row.widths[i]) << "line " << i;
            start = end + 1;
        }
        EXPECT_EQ(layout.box_width, row.box_width);
        EXPECT_EQ(layout.box_height, row.box_height);
    }
}

// UTF-8 text runs the seven calls' arithmetic with glyphs looked up by code
// point: "T" then U+00F3 is advance, kerning, advance, as for ASCII pairs.
TEST_F(Measure, NonAsciiLinesUseTheirGlyphsAndKerningByCodePoint) {
    const font_face &font = *builtin_font();
    const int t = glyph_for_codepoint(font, 'T'), o_acute = glyph_for_codepoint(font, 0xF3);
    ASSERT_NE(o_acute, 0);
    const int kerning = glyph_kerning(font, t, o_acute);
    ASSERT_LT(kerning, 0);
    const text_face face = pixel_size_face(100);
    float sum = 0.0f;
    sum = sum + static_cast<float>(glyph_advance(font, t)) * face.fonts[0].scale;
    sum = sum + static_cast<float>(kerning) * face.fonts[0].scale;
    sum = sum + static_cast<float>(glyph_advance(font, o_acute)) * face.fonts[0].scale;
    const std::string text = "T\xC3\xB3";
    text_layout layout{};
    ASSERT_EQ(layout_text({text.c_str(), text.size(), text_encoding::utf8, face, 0}, &layout), IMGTEXT_OK);
    EXPECT_EQ(layout.box_width, static_cast<int>(std::ceil(sum)));
    EXPECT_EQ(layout.box_width, 89);
    free_text_layout(&layout);
}

}  // namespace
