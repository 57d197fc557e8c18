// Font metrics and line measurement, checked against hand-derived numbers for
// the embedded Caladea Regular.
#include <gtest/gtest.h>

#include <cmath>

#include <deque>
#include <string>
#include <vector>

#include "font.h"
#include "font/font_data.h"
#include "text.h"

using namespace imgtext;

namespace {

class Measure : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(s_font_ready || ensure_font_ready()); }

    // Lines point into the measured text, so the fixture keeps it alive.
    text_layout measure(const std::string &text, int size = 24) {
        const std::string &kept = texts_.emplace_back(text);
        text_layout layout{};
        EXPECT_EQ(measure_text_box(kept.c_str(), size, &layout), 1);
        layouts_.push_back(layout);
        return layout;
    }
    int width(const std::string &text, int size = 24) { return measure(text, size).box_width; }
    void TearDown() override {
        for (auto &l : layouts_) free_text_layout(&l);
    }

private:
    std::deque<std::string> texts_;
    std::vector<text_layout> layouts_;
};

TEST(EmbeddedFont, IsTheWholeTrueTypeFile) {
    EXPECT_EQ(k_font_data_size, 58964u);
    EXPECT_EQ(s_font_data[0], 0x00);
    EXPECT_EQ(s_font_data[1], 0x01);
    EXPECT_EQ(s_font_data[2], 0x00);
    EXPECT_EQ(s_font_data[3], 0x00);
}

TEST_F(Measure, VerticalMetricsAreTheFontsHheaValues) {
    const vertical_metrics m = font_vertical_metrics();
    EXPECT_EQ(m.ascent, 950);
    EXPECT_EQ(m.descent, -222);
    EXPECT_EQ(m.line_gap, 0);
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
    } pairs[] = {{'A', 'V', -59}, {'V', 'A', -84}, {'T', 'o', -81}, {'T', 'e', -81}, {'L', 'T', -103},
                 {'W', 'o', -59}, {'r', 'l', -5},  {'H', 'e', 0},   {'e', 'l', 0},   {'l', 'l', 0},
                 {'l', 'o', 0}};
    for (const auto &p : pairs) EXPECT_EQ(glyph_kerning(glyph(p.left), glyph(p.right)), p.kern) << p.left << p.right;
}

TEST_F(Measure, HighBytesAndControlsAreGlyphZeroWith220Units) {
    for (int byte : {0x09, 0x0D, 0x80, 0xE9, 0xFF}) {
        EXPECT_EQ(glyph_for_byte(static_cast<char>(byte)), 0) << byte;
    }
    EXPECT_EQ(glyph_advance(0), 220);
    EXPECT_EQ(glyph_advance(glyph_for_byte(' ')), 220);
}

TEST_F(Measure, ExactWidthsAt24) {
    EXPECT_EQ(width("Hello"), 47);
    EXPECT_EQ(width("AV"), 24);
    EXPECT_EQ(width("To"), 22);
    EXPECT_EQ(width("Hello World"), 105);
    EXPECT_EQ(width("Hello\r"), 51);
    EXPECT_EQ(width(" "), 5);
    EXPECT_EQ(width("Hello", 12), 24);
    EXPECT_EQ(width("Hello", 48), 93);
    EXPECT_EQ(width("H"), 15);
}

TEST_F(Measure, SizeZeroOrNegativeMeasuresAs24) {
    for (int size : {0, -1, -1000}) {
        const text_layout a = measure("Hello World", size);
        EXPECT_EQ(a.box_width, 105);
        EXPECT_EQ(a.line_height, 24);
    }
}

TEST_F(Measure, EveryHighByteMeasuresLikeASpace) {
    // A Latin-1 e-acute and the two bytes of its UTF-8 form: 220 units each.
    EXPECT_EQ(width("\xE9"), width(" "));
    EXPECT_EQ(width("\xC3\xA9"), width("  "));
}

TEST_F(Measure, EmptyTextIsOneEmptyLine) {
    const text_layout layout = measure("");
    EXPECT_EQ(layout.line_count, 1u);
    EXPECT_EQ(layout.lines[0].len, 0u);
    EXPECT_EQ(layout.box_width, 1);
    EXPECT_EQ(layout.box_height, 24);
}

TEST_F(Measure, NewlinesSplitLinesAndTrailingNewlineAddsOne) {
    EXPECT_EQ(measure("\n").line_count, 2u);
    EXPECT_EQ(measure("\n").box_height, 48);
    EXPECT_EQ(measure("Hello\n").box_height, 48);

    const text_layout layout = measure("A\n\nB");
    ASSERT_EQ(layout.line_count, 3u);
    EXPECT_EQ(layout.box_height, 72);
    EXPECT_EQ(std::string(layout.lines[0].text, layout.lines[0].len), "A");
    EXPECT_EQ(layout.lines[1].len, 0u);
    EXPECT_EQ(layout.lines[1].width, 0);
    EXPECT_EQ(std::string(layout.lines[2].text, layout.lines[2].len), "B");
}

TEST_F(Measure, BoxWidthIsTheWidestLine) {
    const text_layout layout = measure("To\nHello World\nAV");
    EXPECT_EQ(layout.lines[0].width, 22);
    EXPECT_EQ(layout.lines[1].width, 105);
    EXPECT_EQ(layout.lines[2].width, 24);
    EXPECT_EQ(layout.box_width, 105);
}

TEST_F(Measure, CarriageReturnStaysInTheLine) {
    const text_layout layout = measure("Hello\r\nWorld");
    ASSERT_EQ(layout.line_count, 2u);
    EXPECT_EQ(layout.lines[0].len, 6u);
    EXPECT_EQ(layout.lines[0].width, 51);
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
    sum = sum + static_cast<float>(glyph_advance(font, t)) * face.scale;
    sum = sum + static_cast<float>(kerning) * face.scale;
    sum = sum + static_cast<float>(glyph_advance(font, o_acute)) * face.scale;
    const std::string text = "T\xC3\xB3";
    text_layout layout{};
    ASSERT_EQ(layout_text({text.c_str(), text.size(), text_encoding::utf8, face, 0}, &layout), IMGTEXT_OK);
    EXPECT_EQ(layout.box_width, static_cast<int>(std::ceil(sum)));
    EXPECT_EQ(layout.box_width, 89);
    free_text_layout(&layout);
}

}  // namespace
