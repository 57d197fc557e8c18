// Rotated text through the drawing API: upright bytes kept at 0 degrees, a
// quarter turn that matches the turned upright picture, and a bounding box
// that holds all the ink.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "api_support.h"
#include "quendal_imgtext.h"

using test_support::style_of;

namespace {

constexpr int k_side = 160;

// White text on black drawn with its anchor at (x, y); red is the coverage.
struct drawing {
    std::vector<uint8_t> red;
    imgtext_text_metrics metrics{};
    uint8_t at(int x, int y) const { return red[static_cast<size_t>(y) * k_side + x]; }
};

drawing draw(const char *text, const imgtext_text_style &style, int x = 40, int y = 100,
             imgtext_position anchor = IMGTEXT_TOP_LEFT) {
    drawing d;
    imgtext_image *image = nullptr;
    EXPECT_EQ(imgtext_image_create(k_side, k_side, imgtext_color{0, 0, 0, 255}, &image), IMGTEXT_OK);
    imgtext_text_metrics_init(&d.metrics);
    EXPECT_EQ(imgtext_draw_text(image, text, IMGTEXT_NUL_TERMINATED, x, y, anchor, &style, &d.metrics), IMGTEXT_OK)
        << imgtext_error_message();
    const std::vector<uint8_t> rgba = test_support::pixels_of(image).pixels;
    imgtext_image_free(image);
    for (size_t i = 0; i < rgba.size(); i += 4) d.red.push_back(rgba[i]);
    return d;
}

uint64_t ink(const drawing &d) {
    uint64_t sum = 0;
    for (const uint8_t v : d.red) sum += v;
    return sum;
}

TEST(RotatedText, ZeroDegreesIsUpright) {
    imgtext_text_style upright = style_of(30);
    upright.stroke_width = 1.5f, upright.shadow = 1, upright.box = 1, upright.padding = 3;
    const drawing plain = draw("Wave\nfog", upright);
    for (const float angle : {0.0f, -0.0f, 360.0f, -720.0f}) {
        imgtext_text_style turned = upright;
        turned.rotation = angle;
        const drawing d = draw("Wave\nfog", turned);
        EXPECT_EQ(d.red, plain.red) << angle;
        EXPECT_EQ(d.metrics.width, plain.metrics.width);
    }
}

// A quarter turn counterclockwise about the top-left anchor (X, Y) puts the
// upright pixel (X + u, Y + v) at (X + v, Y - 1 - u).
TEST(RotatedText, QuarterTurnMatchesTheTurnedUprightPicture) {
    for (const char *text : {"H", "Quartz"}) {
        imgtext_text_style style = style_of(36);
        const drawing upright = draw(text, style, 40, 100);
        style.rotation = 90.0f;
        const drawing turned = draw(text, style, 40, 100);
        int worst = 0;
        for (int y = 0; y < k_side; ++y) {
            // Row y of the upright text is column 40 + (y - 100) turned.
            const int tx = 40 + (y - 100);
            if (tx < 0 || tx >= k_side) continue;
            int64_t row = 0, column = 0;
            for (int x = 0; x < k_side; ++x) {
                const int ty = 100 - 1 - (x - 40);
                if (ty >= 0 && ty < k_side) worst = std::max(worst, std::abs(turned.at(tx, ty) - upright.at(x, y)));
                row += upright.at(x, y), column += turned.at(tx, x);
            }
            // Upright glyphs land on whole pixels, turned ones at their exact
            // pens: a shift along the line that keeps each row's ink.
            EXPECT_NEAR(static_cast<double>(column), static_cast<double>(row), 64.0 + row * 0.01) << text << y;
        }
        EXPECT_LE(worst, std::string(text) == "H" ? 2 : 255);
        EXPECT_NEAR(static_cast<double>(ink(turned)), static_cast<double>(ink(upright)), ink(upright) * 0.01) << text;
        EXPECT_EQ(turned.metrics.width, upright.metrics.height);
        EXPECT_EQ(turned.metrics.height, upright.metrics.width);
        EXPECT_EQ(turned.metrics.x, 40);
        EXPECT_EQ(turned.metrics.y, 100 - upright.metrics.width);
    }
}

TEST(RotatedText, BoundingBoxHoldsAllTheInk) {
    for (const float angle : {17.0f, 123.0f, 250.0f, -45.0f}) {
        imgtext_text_style style = style_of(22);
        style.rotation = angle;
        const drawing d = draw("Ink &\nbounds", style, 80, 80, IMGTEXT_CENTER);
        const imgtext_text_metrics &m = d.metrics;
        uint64_t inside = 0;
        for (int y = 0; y < k_side; ++y) {
            for (int x = 0; x < k_side; ++x) {
                const bool in = x >= m.x && x < m.x + m.width && y >= m.y && y < m.y + m.height;
                if (in) {
                    inside += d.at(x, y);
                } else {
                    EXPECT_EQ(d.at(x, y), 0) << angle << " at " << x << "," << y;
                }
            }
        }
        EXPECT_GT(inside, 0u);
        imgtext_text_metrics measured;
        imgtext_text_metrics_init(&measured);
        ASSERT_EQ(imgtext_measure_text("Ink &\nbounds", IMGTEXT_NUL_TERMINATED, &style, &measured, nullptr, 0),
                  IMGTEXT_OK);
        EXPECT_NEAR(measured.width, m.width, 1);
        EXPECT_NEAR(measured.height, m.height, 1);
    }
}

TEST(RotatedText, GravityPlacesTheTurnedBox) {
    imgtext_image *image = nullptr;
    ASSERT_EQ(imgtext_image_create(200, 120, imgtext_color{0, 0, 0, 255}, &image), IMGTEXT_OK);
    imgtext_text_style style = style_of(24);
    style.rotation = 30.0f;
    imgtext_text_metrics m;
    imgtext_text_metrics_init(&m);
    ASSERT_EQ(imgtext_draw_text_gravity(image, "corner", IMGTEXT_NUL_TERMINATED, IMGTEXT_BOTTOM_RIGHT, 10, &style, &m),
              IMGTEXT_OK);
    EXPECT_EQ(m.x + m.width, 190);
    EXPECT_EQ(m.y + m.height, 110);
    imgtext_image_free(image);
}

TEST(RotatedText, NonFiniteAnglesAreRefused) {
    imgtext_text_style style = style_of(24);
    for (const float angle : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity()}) {
        style.rotation = angle;
        EXPECT_EQ(imgtext_measure_text("a", 1, &style, nullptr, nullptr, 0), IMGTEXT_ERROR_ARGUMENT);
    }
}

}  // namespace
