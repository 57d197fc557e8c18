// Outline, shadow and rounded box through the drawing API: where they land,
// how far they reach, and that they leave the rest of the picture alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "api_support.h"
#include "quendal_imgtext.h"

using test_support::style_of;

namespace {

struct canvas {
    imgtext_image *image = nullptr;
    canvas(int w, int h, imgtext_color colour) { EXPECT_EQ(imgtext_image_create(w, h, colour, &image), IMGTEXT_OK); }
    ~canvas() { imgtext_image_free(image); }
    const uint8_t *at(int x, int y) const {
        return imgtext_image_pixels(image) + imgtext_image_stride(image) * y + static_cast<size_t>(x) * 4;
    }
    std::vector<uint8_t> pixel(int x, int y) const { return {at(x, y), at(x, y) + 4}; }
};

constexpr imgtext_color k_black{0, 0, 0, 255}, k_clear{0, 0, 0, 0};

void draw(canvas &c, const char *text, int x, int y, const imgtext_text_style &style) {
    ASSERT_EQ(imgtext_draw_text(c.image, text, IMGTEXT_NUL_TERMINATED, x, y, IMGTEXT_TOP_LEFT, &style, nullptr),
              IMGTEXT_OK)
        << imgtext_error_message();
}

// The smallest rectangle holding every pixel that differs from `background`.
test_support::ink_bounds drawn_bounds(const canvas &c, imgtext_color bg) {
    const test_support::rgba drawn = test_support::pixels_of(c.image);
    return test_support::ink(drawn, test_support::solid(drawn.width, drawn.height, bg.r, bg.g, bg.b, bg.a));
}

TEST(Outline, WidensTheDrawnTextByItsWidthOnEverySide) {
    canvas plain(220, 120, k_black), outlined(220, 120, k_black);
    imgtext_text_style style = style_of(64);
    draw(plain, "Wave", 20, 20, style);
    style.stroke_width = 3;
    style.stroke_color = imgtext_color{255, 0, 0, 255};
    draw(outlined, "Wave", 20, 20, style);
    const auto p = drawn_bounds(plain, k_black), o = drawn_bounds(outlined, k_black);
    EXPECT_EQ(std::vector<int>({o.left, o.top, o.right, o.bottom}),
              std::vector<int>({p.left - 3, p.top - 3, p.right + 3, p.bottom + 3}));
    int ring = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 220; ++x) ring += outlined.pixel(x, y) == std::vector<uint8_t>{255, 0, 0, 255};
    EXPECT_GT(ring, 300);
}

TEST(Outline, OverlappingGlyphsShareOneOutlineUnderATranslucentFill) {
    // Lines 0.4 of a line apart overlap: an outline stroked glyph by glyph
    // would cross the fill of its neighbours, and a translucent fill would
    // show it (or blend twice where glyphs overlap).
    canvas full(160, 90, k_black), outlined(160, 90, k_black);
    imgtext_text_style style = style_of(40);
    style.line_spacing = 0.4f;
    draw(full, "AVA\nWWW", 10, 10, style);
    style.stroke_width = 2.5f;
    style.stroke_color = imgtext_color{255, 0, 0, 255};
    style.opacity = 0.5f;
    draw(outlined, "AVA\nWWW", 10, 10, style);
    int covered = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 160; ++x) {
            if (full.pixel(x, y) != std::vector<uint8_t>{255, 255, 255, 255}) continue;
            ++covered;
            // Half-way grey; a glyph's edge coverage just short of full
            // may let a trace of the outline under it.
            const uint8_t *p = outlined.at(x, y);
            ASSERT_TRUE(p[0] == 128 && p[1] >= 126 && p[1] <= 128 && p[2] == p[1]) << x << "," << y;
        }
    EXPECT_GT(covered, 400);
}

TEST(Shadow, SharpItIsTheTextMovedByItsOffsetBlurredItSpreadsNoFurtherThanThreeDeviations) {
    canvas moved(160, 90, k_clear), sharp(160, 90, k_clear), soft(160, 90, k_clear), far(160, 90, k_clear);
    imgtext_text_style style = style_of(40);
    draw(moved, "Tide", 15, 12, style);
    style.color.a = 0;  // only the shadow shows
    style.shadow = 1, style.shadow_dx = 5, style.shadow_dy = 7, style.shadow_blur = 0;
    style.shadow_color = imgtext_color{10, 20, 30, 255};
    draw(sharp, "Tide", 10, 5, style);
    style.shadow_blur = 3;
    draw(soft, "Tide", 10, 5, style);
    long sharp_sum = 0, soft_sum = 0, peak = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 160; ++x) {
            const uint8_t alpha = moved.at(x, y)[3];
            const std::vector<uint8_t> expected{alpha ? uint8_t{10} : uint8_t{0}, alpha ? uint8_t{20} : uint8_t{0},
                                                alpha ? uint8_t{30} : uint8_t{0}, alpha};
            ASSERT_EQ(sharp.pixel(x, y), expected) << x << "," << y;
            sharp_sum += alpha, soft_sum += soft.at(x, y)[3], peak = std::max<long>(peak, soft.at(x, y)[3]);
        }
    EXPECT_GT(sharp_sum, 300 * 255);
    EXPECT_NEAR(static_cast<double>(soft_sum), static_cast<double>(sharp_sum), sharp_sum * 0.02);  // spread, not lost
    EXPECT_LT(peak, 255);
    const auto s = drawn_bounds(sharp, k_clear), b = drawn_bounds(soft, k_clear);
    EXPECT_TRUE(b.left < s.left - 2 && b.left >= s.left - 9 && b.bottom > s.bottom + 2 && b.bottom <= s.bottom + 9);

    // A shadow thrown far off the picture changes nothing (and costs nothing).
    style.shadow_dx = std::numeric_limits<int>::max(), style.shadow_dy = std::numeric_limits<int>::min();
    draw(far, "Tide", 10, 5, style);
    EXPECT_EQ(drawn_bounds(far, k_clear).right, -1);
}

// An outlined text's shadow falls from its outline: sharp, it is the
// outline's coverage moved by its offset (to within the rounding of the two
// ways to 8 bits), whether the two share one shape (near) or each has its
// own (far, so that the span between them is never allocated).
class ShadowOfAnOutline : public ::testing::TestWithParam<int> {};

TEST_P(ShadowOfAnOutline, IsTheOutlineMovedByItsOffset) {
    const int dx = GetParam(), dy = 3;
    canvas outline(560, 90, k_clear), shadow(560, 90, k_clear);
    imgtext_text_style style = style_of(30);
    style.color.a = 0;  // the outline alone
    style.stroke_width = 6.5f;
    style.stroke_color = imgtext_color{255, 255, 255, 255};
    draw(outline, "Ink", 10, 10, style);
    style.stroke_color.a = 0;  // the shadow alone
    style.shadow = 1, style.shadow_dx = dx, style.shadow_dy = dy, style.shadow_blur = 0;
    style.shadow_color = imgtext_color{10, 20, 30, 255};
    draw(shadow, "Ink", 10, 10, style);
    long covered = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 560; ++x) {
            const int moved_x = x - dx, moved_y = y - dy;
            const int expected = moved_x >= 0 && moved_y >= 0 && moved_y < 90 ? outline.at(moved_x, moved_y)[3] : 0;
            ASSERT_LE(std::abs(shadow.at(x, y)[3] - expected), 1) << x << "," << y;
            covered += expected > 0;
        }
    EXPECT_GT(covered, 1000);
}

INSTANTIATE_TEST_SUITE_P(NearAndFar, ShadowOfAnOutline, ::testing::Values(4, 420));

TEST(Box, RoundedCornersAreCutWithAntialiasedEdges) {
    for (const float radius : {0.0f, 12.0f}) {
        canvas c(120, 120, k_clear);
        imgtext_text_style style = style_of(20);
        style.box = 1;
        style.box_color = imgtext_color{200, 0, 0, 128};
        style.padding = 20;
        style.box_radius = radius;
        draw(c, "", 30, 30, style);  // the box's corner is at (10, 10)
        const uint8_t inside = 128;
        EXPECT_EQ(c.pixel(30, 30), (std::vector<uint8_t>{200, 0, 0, inside}));
        EXPECT_EQ(c.at(22, 10)[3], inside);  // the top edge past the arc
        EXPECT_EQ(c.pixel(5, 5), (std::vector<uint8_t>{0, 0, 0, 0}));
        EXPECT_EQ(c.pixel(119, 119), (std::vector<uint8_t>{0, 0, 0, 0}));
        if (radius == 0.0f) {
            EXPECT_EQ(c.at(10, 10)[3], inside);
            continue;
        }
        EXPECT_EQ(c.pixel(10, 10), (std::vector<uint8_t>{0, 0, 0, 0}));  // cut off
        EXPECT_EQ(c.pixel(50, 10), (std::vector<uint8_t>{0, 0, 0, 0}));  // the top-right one too
        const uint8_t arc = c.at(13, 13)[3];                             // its centre 12.02 from the corner's centre
        EXPECT_GT(arc, 50);
        EXPECT_LT(arc, 70);
    }
}

TEST(Style, OutlineShadowAndRadiusOutOfRangeAreRefused) {
    canvas c(10, 10, k_black);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float bad[][3] = {
        {-1, 2, 0}, {nan, 2, 0}, {256.5f, 2, 0}, {0, -0.5f, 0}, {0, 2, nan}};  // stroke, blur, radius
    for (const auto &b : bad) {
        imgtext_text_style style = style_of(10);
        style.shadow = 1, style.stroke_width = b[0], style.shadow_blur = b[1], style.box_radius = b[2];
        EXPECT_EQ(imgtext_draw_text(c.image, "x", 1, 0, 0, IMGTEXT_TOP_LEFT, &style, nullptr), IMGTEXT_ERROR_ARGUMENT);
    }
}

}  // namespace
