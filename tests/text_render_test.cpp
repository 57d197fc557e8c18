// Glyph compositing: the blending numbers, opacity rules, clipping and line
// placement of render_text_lines.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "font.h"
#include "text.h"
#include "test_support.h"

using namespace imgtext;
using test_support::rgba;

namespace {

struct draw_args {
    int64_t x = 0, y = 0;
    int size = 24;
    int red = 255, green = 255, blue = 255;
    float opacity = 1.0f;
    bool centre = false;
};

void draw(rgba &img, const std::string &text, const draw_args &a) {
    text_layout layout{};
    ASSERT_EQ(measure_text_box(text.c_str(), a.size, &layout), 1);
    render_text_lines(rgba_image{img.width, img.height, img.pixels.data()}, layout, a.x, a.y, a.size, a.red, a.green,
                      a.blue, a.opacity, a.centre);
    free_text_layout(&layout);
}

// The coverage bitmap of one glyph as the renderer makes it.
struct coverage_map {
    glyph_box box;
    std::vector<uint8_t> bytes;
    uint8_t at(int c, int r) const { return bytes[static_cast<size_t>(r) * (box.x1 - box.x0) + c]; }
};

coverage_map coverage_of(char c, int px) {
    const int glyph = glyph_for_byte(c);
    const float scale = font_scale(px);
    coverage_map map{glyph_bitmap_box(glyph, scale), {}};
    const int w = map.box.x1 - map.box.x0, h = map.box.y1 - map.box.y0;
    map.bytes.assign(static_cast<size_t>(w) * h, 0);
    rasterise_glyph(glyph, scale, map.bytes.data(), w, h);
    return map;
}

// Draws one glyph at (0, 0) on a copy of `background` and calls check(cov,
// pixel) for every pixel of the glyph box.
template <typename Check>
void for_each_glyph_pixel(const rgba &background, char c, int px, draw_args args, Check check) {
    ASSERT_TRUE(s_font_ready || ensure_font_ready());
    rgba img = background;
    args.size = px;
    draw(img, std::string(1, c), args);
    const coverage_map map = coverage_of(c, px);
    text_layout layout{};
    ASSERT_EQ(measure_text_box("x", px, &layout), 1);
    const int baseline = layout.ascent;
    free_text_layout(&layout);
    for (int r = 0; r < map.box.y1 - map.box.y0; ++r)
        for (int col = 0; col < map.box.x1 - map.box.x0; ++col)
            check(map.at(col, r), img.at(map.box.x0 + col, baseline + map.box.y0 + r));
}

class Render : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(s_font_ready || ensure_font_ready()); }
};

TEST_F(Render, FullCoverageOverOpaqueGivesExactlyTheTextColour) {
    int full = 0;
    for_each_glyph_pixel(test_support::solid(120, 120, 0, 0, 0, 255), 'H', 96, {.red = 10, .green = 200, .blue = 30},
                         [&](uint8_t cov, const uint8_t *p) {
                             if (cov != 255) return;
                             ++full;
                             EXPECT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{10, 200, 30, 255}));
                         });
    EXPECT_GT(full, 100);
}

TEST_F(Render, HalfOpacityWhiteOverOpaqueBlackIsMidGrey) {
    int full = 0;
    draw_args args;
    args.opacity = 0.5f;
    for_each_glyph_pixel(test_support::solid(120, 120, 0, 0, 0, 255), 'H', 96, args, [&](uint8_t cov, const uint8_t *p) {
        if (cov != 255) return;
        ++full;
        EXPECT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{128, 128, 128, 255}));
    });
    EXPECT_GT(full, 100);
}

TEST_F(Render, Coverage128OverOpaqueBlackGives128) {
    int seen = 0;
    for (int px = 60; px < 200 && seen == 0; px += 7) {
        for_each_glyph_pixel(test_support::solid(260, 260, 0, 0, 0, 255), 'O', px, {},
                             [&](uint8_t cov, const uint8_t *p) {
                                 if (cov != 128) return;
                                 ++seen;
                                 EXPECT_EQ(std::vector<uint8_t>(p, p + 4),
                                           (std::vector<uint8_t>{128, 128, 128, 255}));
                             });
    }
    EXPECT_GT(seen, 0) << "no pixel with coverage 128 found";
}

TEST_F(Render, OverTransparentPixelsTheColourIsExactAndAlphaIsTheCoverage) {
    for_each_glyph_pixel(test_support::solid(120, 120, 9, 9, 9, 0), 'g', 96, {.red = 200, .green = 100, .blue = 50},
                         [&](uint8_t cov, const uint8_t *p) {
                             if (cov == 0) {
                                 EXPECT_EQ(p[3], 0);
                                 return;
                             }
                             EXPECT_EQ(std::vector<uint8_t>(p, p + 4),
                                       (std::vector<uint8_t>{200, 100, 50, cov}));
                         });
}

TEST_F(Render, HalfTransparentBackgroundBlendsTowardTheText) {
    // Full coverage at opacity 0.5 over (0,0,0,128): da = 128/255, out = 0.75098.
    draw_args args;
    args.opacity = 0.5f;
    for_each_glyph_pixel(test_support::solid(120, 120, 0, 0, 0, 128), 'H', 96, args, [&](uint8_t cov, const uint8_t *p) {
        if (cov != 255) return;
        EXPECT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{170, 170, 170, 192}));
    });
}

TEST_F(Render, OpacityZeroNegativeAndNaNDrawNothing) {
    const rgba background = test_support::pattern(80, 40);
    for (float opacity : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
        rgba img = background;
        draw(img, "Hello", {.opacity = opacity});
        EXPECT_EQ(img.pixels, background.pixels) << opacity;
    }
}

TEST_F(Render, OpacityAboveOneActsAsOne) {
    rgba one = test_support::pattern(80, 40), two = one;
    draw(one, "Hello", {.opacity = 1.0f});
    draw(two, "Hello", {.opacity = 2.0f});
    EXPECT_EQ(one.pixels, two.pixels);
}

TEST_F(Render, ClippingAtAnyEdgeMatchesTheUnclippedPicture) {
    rgba big = test_support::solid(200, 100, 0, 0, 0, 255);
    draw(big, "Hello\nWorld", {.x = 0, .y = 0, .size = 40});
    for (auto [x, y] : {std::pair{-10, -5}, {-60, 20}, {30, -40}}) {
        rgba small = test_support::solid(50, 30, 0, 0, 0, 255);
        draw(small, "Hello\nWorld", {.x = x, .y = y, .size = 40});
        for (int r = 0; r < small.height; ++r)
            for (int c = 0; c < small.width; ++c) {
                const int bx = c - x, by = r - y;
                if (bx < 0 || by < 0 || bx >= big.width || by >= big.height) continue;
                ASSERT_EQ(small.at(c, r)[0], big.at(bx, by)[0]) << x << "," << y << " at " << c << "," << r;
            }
    }
}

TEST_F(Render, TextFarOutsideOrAtExtremeOriginsDrawsNothing) {
    const rgba background = test_support::pattern(40, 20);
    for (auto [x, y] : {std::pair<int64_t, int64_t>{INT32_MAX, 0}, {INT32_MIN, INT32_MIN}, {0, INT32_MAX}, {-500, 5}}) {
        rgba img = background;
        draw(img, "Hello\nWorld", {.x = x, .y = y});
        EXPECT_EQ(img.pixels, background.pixels) << x << "," << y;
    }
}

// Leftmost column with any ink in rows [top, bottom).
int leftmost_ink(const rgba &img, int top, int bottom) {
    for (int x = 0; x < img.width; ++x)
        for (int y = top; y < bottom; ++y)
            if (img.at(x, y)[0] != 0) return x;
    return -1;
}

TEST_F(Render, CentringStartsANarrowLineHalfTheSpareWidthIn) {
    // "H" is 15 px wide, the box 105: the pen starts at 3 + 45.0 and the H
    // bitmap has no left offset.
    rgba img = test_support::solid(120, 60, 0, 0, 0, 255);
    draw(img, "H\nHello World", {.x = 3, .centre = true});
    EXPECT_EQ(leftmost_ink(img, 0, 24), 48);
}

TEST_F(Render, CentringLeavesAFullWidthLineAtX) {
    rgba centred = test_support::solid(120, 60, 0, 0, 0, 255), plain = centred;
    draw(centred, "Hello World\nHello World", {.x = 4, .centre = true});
    draw(plain, "Hello World\nHello World", {.x = 4});
    EXPECT_EQ(centred.pixels, plain.pixels);
}

TEST_F(Render, EmptyLinesStillMoveTheBaseline) {
    rgba together = test_support::solid(60, 90, 0, 0, 0, 255), apart = together;
    draw(together, "A\n\nB", {});
    draw(apart, "A", {});
    draw(apart, "B", {.y = 48});
    EXPECT_EQ(together.pixels, apart.pixels);
}

TEST_F(Render, GlyphsWithoutOutlinesOnlyAdvanceThePen) {
    rgba spaced = test_support::solid(120, 30, 0, 0, 0, 255), tabbed = spaced;
    draw(spaced, "A B", {});
    draw(tabbed, "A\tB", {});  // tab and space both advance 220 units, with no kerning
    EXPECT_EQ(spaced.pixels, tabbed.pixels);
}

// Clipping must not change a single byte: a window of a glyph's bitmap holds
// exactly what the whole bitmap holds there, at its edges and corners too.
TEST_F(Render, GlyphWindowsMatchTheWholeBitmapByteForByte) {
    for (const int px : {9, 24, 77, 333}) {
        for (const char c : std::string("Mg@W&")) {
            const coverage_map whole = coverage_of(c, px);
            const int w = whole.box.x1 - whole.box.x0, h = whole.box.y1 - whole.box.y0;
            for (const int x0 : {0, 1, w / 3, w - 1})
                for (const int y0 : {0, 1, h / 2, h - 1})
                    for (const int x1 : {x0 + 1, w})
                        for (const int y1 : {y0 + 1, h}) {
                            std::vector<uint8_t> part(static_cast<size_t>(x1 - x0) * (y1 - y0), 7);
                            rasterise_glyph_window(glyph_for_byte(c), font_scale(px), {x0, y0, x1, y1}, part.data());
                            for (int r = y0; r < y1; ++r)
                                for (int col = x0; col < x1; ++col)
                                    ASSERT_EQ(part[static_cast<size_t>(r - y0) * (x1 - x0) + (col - x0)],
                                              whole.at(col, r))
                                        << c << " at " << px << " px, window " << x0 << "," << y0 << "-" << x1
                                        << "," << y1 << ", byte " << col << "," << r;
                        }
        }
    }
}

// Text drawn on a small picture equals the same part of the text drawn on a
// picture large enough to hold all of it, wherever the small one's edges cut.
TEST_F(Render, ClippedTextEqualsTheSamePartOfUnclippedText) {
    for (const int px : {13, 48, 150}) {
        const std::string text = "Wg@\nAVo";
        rgba big = test_support::pattern(px * 4, px * 3);
        draw(big, text, {.x = px / 2, .y = px / 3, .size = px, .opacity = 0.8f});
        for (int ox = -px; ox < px * 4; ox += px / 3 + 1) {
            for (int oy = -px; oy < px * 3; oy += px / 2 + 1) {
                const int w = px / 2 + 3, h = px / 3 + 2;
                rgba small = test_support::pattern(px * 4, px * 3);  // same background, then cut out
                rgba cut{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4, 0)};
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        if (ox + x >= 0 && oy + y >= 0 && ox + x < small.width && oy + y < small.height)
                            std::copy_n(small.at(ox + x, oy + y), 4, cut.at(x, y));
                rgba expected = cut;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        if (ox + x >= 0 && oy + y >= 0 && ox + x < big.width && oy + y < big.height)
                            std::copy_n(big.at(ox + x, oy + y), 4, expected.at(x, y));
                draw(cut, text, {.x = px / 2 - ox, .y = px / 3 - oy, .size = px, .opacity = 0.8f});
                ASSERT_EQ(cut.pixels, expected.pixels) << px << " px, cut at " << ox << "," << oy;
            }
        }
    }
}

}  // namespace
