// Variable fonts through the drawing API, with Debian's Inter (fonts-inter-variable,
// a TrueType font with one weight axis, 100..900, and named instances).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api_support.h"
#include "quendal_imgtext.h"

namespace {

constexpr const char *k_inter = "/usr/share/fonts/truetype/inter-vf/Inter-roman.var.ttf";

struct inter_font {
    imgtext_font *font = nullptr;
    inter_font() {
        EXPECT_EQ(imgtext_font_load(k_inter, 0, &font), IMGTEXT_OK)
            << "fonts-inter-variable is missing: " << imgtext_error_message();
    }
    ~inter_font() { imgtext_font_free(font); }
};

// White text on black: the red channel is the coverage.
std::vector<uint8_t> drawn(const imgtext_font *font, const char *variations, int *width = nullptr) {
    imgtext_image *image = nullptr;
    EXPECT_EQ(imgtext_image_create(360, 80, imgtext_color{0, 0, 0, 255}, &image), IMGTEXT_OK);
    imgtext_text_style style = test_support::style_of(40);
    style.font = font;
    style.variations = variations;
    imgtext_text_metrics metrics;
    imgtext_text_metrics_init(&metrics);
    EXPECT_EQ(
        imgtext_draw_text(image, "Hamburgefonstiv", IMGTEXT_NUL_TERMINATED, 4, 10, IMGTEXT_TOP_LEFT, &style, &metrics),
        IMGTEXT_OK)
        << imgtext_error_message();
    if (width) *width = metrics.width;
    std::vector<uint8_t> red;
    for (const uint8_t v : test_support::pixels_of(image).pixels) red.push_back(v);
    imgtext_image_free(image);
    for (size_t i = 0; i < red.size() / 4; ++i) red[i] = red[4 * i];
    red.resize(red.size() / 4);
    return red;
}

uint64_t ink(const std::vector<uint8_t> &coverage) {
    uint64_t sum = 0;
    for (const uint8_t v : coverage) sum += v;
    return sum;
}

TEST(VariableFont, WeightGrowsInkAndWidth) {
    inter_font inter;
    ASSERT_NE(inter.font, nullptr);
    int w100 = 0, w400 = 0, w900 = 0;
    const uint64_t thin = ink(drawn(inter.font, "wght=100", &w100));
    const uint64_t regular = ink(drawn(inter.font, "wght=400", &w400));
    const uint64_t black = ink(drawn(inter.font, "wght=900", &w900));
    EXPECT_LT(thin * 2, regular);
    EXPECT_LT(regular * 3, black * 2);
    EXPECT_LT(w100, w400);
    EXPECT_LT(w400, w900);
}

// The default instance drawn from HarfBuzz's outlines is what stb_truetype
// draws from the font's own: the same curves, flattened and rasterised
// alike. Only where stb_truetype rounds the implied on-curve points between
// two off-curve points to whole font units do they differ, by a few levels.
TEST(VariableFont, DefaultInstanceMatchesUnvariedDrawing) {
    inter_font inter;
    ASSERT_NE(inter.font, nullptr);
    int varied_width = 0, plain_width = 0;
    const std::vector<uint8_t> varied = drawn(inter.font, "wght=400", &varied_width);
    const std::vector<uint8_t> plain = drawn(inter.font, nullptr, &plain_width);
    EXPECT_EQ(varied_width, plain_width);
    ASSERT_EQ(varied.size(), plain.size());
    int differ = 0, worst = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        const int d = std::abs(varied[i] - plain[i]);
        differ += d != 0, worst = std::max(worst, d);
    }
    EXPECT_LE(worst, 4);
    EXPECT_LT(differ * 30, static_cast<int>(plain.size()));
    EXPECT_EQ(drawn(inter.font, ""), plain);
}

TEST(VariableFont, NamedInstanceEqualsItsAxisValues) {
    inter_font inter;
    ASSERT_NE(inter.font, nullptr);
    EXPECT_EQ(drawn(inter.font, "Bold"), drawn(inter.font, "wght=700"));
    EXPECT_EQ(drawn(inter.font, "extra light"), drawn(inter.font, "wght=200"));
    EXPECT_NE(drawn(inter.font, "Bold"), drawn(inter.font, "wght=400"));
}

TEST(VariableFont, MalformedVariationsAreNamed) {
    inter_font inter;
    ASSERT_NE(inter.font, nullptr);
    imgtext_text_style style = test_support::style_of(20);
    style.font = inter.font;
    for (const char *bad : {"wght=700,wdth=abc", "wght=", "toolongtag=3", "wght=nan"}) {
        style.variations = bad;
        EXPECT_EQ(imgtext_measure_text("a", 1, &style, nullptr, nullptr, 0), IMGTEXT_ERROR_ARGUMENT) << bad;
        EXPECT_NE(std::strstr(imgtext_error_message(), "malformed font variation"), nullptr) << bad;
    }
    style.variations = "Heavy Oblique";
    EXPECT_EQ(imgtext_measure_text("a", 1, &style, nullptr, nullptr, 0), IMGTEXT_ERROR_ARGUMENT);
    EXPECT_NE(std::strstr(imgtext_error_message(), "'Heavy Oblique'"), nullptr);
    // Axis values on a font without axes change nothing.
    style.font = nullptr;
    style.variations = "wght=900";
    EXPECT_EQ(imgtext_measure_text("a", 1, &style, nullptr, nullptr, 0), IMGTEXT_OK);
}

}  // namespace
