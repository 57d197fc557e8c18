// Glyph compositing: the blending numbers, opacity rules, clipping and line
// placement of render_text_lines.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "engine_support.h"
#include "font/font.h"
#include "test_support.h"
#include "text/layout.h"

using namespace imgtext;
using test_support::pixel;
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
    render_text_lines(rgba_image{img.width, img.height, img.pixels.data()}, layout, a.x, a.y, a.red, a.green, a.blue,
                      a.opacity, a.centre);
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
    reference_rasterise_glyph(glyph, scale, map.bytes.data(), w, h);
    return map;
}

class Render : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(builtin_font_ready()); }
};

// One glyph drawn at (0, 0) over a solid background: every pixel of its box
// with the chosen coverage must come out as expected, and every pixel with no
// coverage must keep the background.
struct blend_row {
    const char *what;
    pixel background;
    int red, green, blue;
    float opacity;
    char glyph;
    int px;
    int coverage;                 // the coverage checked; -1 for every covered pixel
    std::array<int, 4> expected;  // alpha -1: the pixel's coverage
};

const blend_row k_blends[] = {
    {"full coverage over opaque: the text colour", {0, 0, 0, 255}, 10, 200, 30, 1.0f, 'H', 96, 255, {10, 200, 30, 255}},
    {"half opacity over black: mid grey", {0, 0, 0, 255}, 255, 255, 255, 0.5f, 'H', 96, 255, {128, 128, 128, 255}},
    {"coverage 128 over opaque black: 128", {0, 0, 0, 255}, 255, 255, 255, 1.0f, 'H', 31, 128, {128, 128, 128, 255}},
    {"over transparent: alpha is the coverage", {9, 9, 9, 0}, 200, 100, 50, 1.0f, 'g', 96, -1, {200, 100, 50, -1}},
    // da = 128/255, out = 0.5 + da * 0.5 = 0.75098: channels 127.5 / out, alpha 191.5.
    {"half opacity over half transparent", {0, 0, 0, 128}, 255, 255, 255, 0.5f, 'H', 96, 255, {170, 170, 170, 192}},
    // Clamped to (0, 255, 255) first; unclamped, -5 and 300 would give 254 and 150.
    {"colour channels clamped to 0..255", {0, 0, 0, 255}, -5, 300, 999, 0.5f, 'H', 96, 255, {0, 128, 128, 255}},
};

TEST_F(Render, BlendsEachPixelBySourceOverOnStraightAlpha) {
    for (const blend_row &row : k_blends) {
        SCOPED_TRACE(row.what);
        const pixel bg = row.background;
        rgba img = test_support::solid(120, 120, bg[0], bg[1], bg[2], bg[3]);
        draw(img, std::string(1, row.glyph),
             {.size = row.px, .red = row.red, .green = row.green, .blue = row.blue, .opacity = row.opacity});
        const coverage_map map = coverage_of(row.glyph, row.px);
        text_layout layout{};
        ASSERT_EQ(measure_text_box("x", row.px, &layout), 1);
        const int baseline = layout.ascent;
        free_text_layout(&layout);
        int checked = 0;
        for (int r = 0; r < map.box.y1 - map.box.y0; ++r)
            for (int c = 0; c < map.box.x1 - map.box.x0; ++c) {
                const uint8_t cov = map.at(c, r);
                const pixel got = img.px(map.box.x0 + c, baseline + map.box.y0 + r);
                if (cov == 0) {
                    ASSERT_EQ(got, bg) << c << "," << r;
                } else if (row.coverage < 0 || cov == row.coverage) {
                    ++checked;
                    const auto e = row.expected;
                    const int alpha = e[3] < 0 ? cov : e[3];
                    ASSERT_EQ(got, (pixel{static_cast<uint8_t>(e[0]), static_cast<uint8_t>(e[1]),
                                          static_cast<uint8_t>(e[2]), static_cast<uint8_t>(alpha)}))
                        << c << "," << r << " coverage " << int{cov};
                }
            }
        EXPECT_GT(checked, 0);
    }
}

// Drawn at any origin on a small image, every pixel is the unclipped
// picture's pixel at the same place in the text box, or the background where
// the box has none: clipping changes nothing else, at any edge or distance.
TEST_F(Render, ClippingAtAnyOriginKeepsTheUnclippedPictureOrTheBackground) {
    const rgba black = test_support::solid(200, 100, 0, 0, 0, 255);
    rgba big = black;
    draw(big, "Hello\nWorld", {.size = 40});
    const std::pair<int64_t, int64_t> origins[] = {
        {-10, -5}, {-60, 20}, {30, -40}, {-500, 5}, {INT32_MAX, 0}, {0, INT32_MAX}, {INT32_MIN, INT32_MIN}};
    for (auto [x, y] : origins) {
        rgba small = test_support::solid(50, 30, 0, 0, 0, 255);
        draw(small, "Hello\nWorld", {.x = x, .y = y, .size = 40});
        for (int r = 0; r < small.height; ++r)
            for (int c = 0; c < small.width; ++c) {
                const int64_t bx = c - x, by = r - y;
                const bool in_big = bx >= 0 && by >= 0 && bx < big.width && by < big.height;
                ASSERT_EQ(small.px(c, r), in_big ? big.px(static_cast<int>(bx), static_cast<int>(by)) : black.px(0, 0))
                    << x << "," << y << " at " << c << "," << r;
            }
    }
}

// The columns the first line inks, from the pen arithmetic.
TEST_F(Render, InkLandsWhereThePenArithmeticSays) {
    const struct {
        const char *text;
        draw_args args;
        int line_height, left, right;
    } rows[] = {
        // "H" is 15 px wide in a 105 px box: the pen starts at 3 + 45.0, and
        // the H inks columns 0..13 from it.
        {"H\nHello World", {.x = 3, .centre = true}, 24, 48, 61},
        // "ee" (20 px) in "Hello"'s 47: the pen starts at 13.5. Each e inks
        // columns 1..9 from its pen's whole pixel, and the second e's pen is
        // 13.5 + 488 * 24 / 1172 = 23.49: ink from 14 to 32. A pen started at
        // 13 would put the second e at 22.99, ending at 31.
        {"ee\nHello", {.centre = true}, 24, 14, 32},
        // At 96 px (scale 96 / 1172) the A advances 623 units and the pair
        // A V kerns -59: the V's pen is at 46.2 and its ink, 0..48 from the
        // pen, ends at 94. Without kerning it would end at 99.
        {"AV", {.size = 96}, 96, 1, 94},
    };
    for (const auto &row : rows) {
        const rgba black = test_support::solid(120, 100, 0, 0, 0, 255);
        rgba img = black;
        draw(img, row.text, row.args);
        const test_support::ink_bounds b = test_support::ink(img, black, 0, row.line_height);
        EXPECT_EQ(b.left, row.left) << row.text;
        EXPECT_EQ(b.right, row.right) << row.text;
    }
}

// Pairs of drawings that must give the same picture.
TEST_F(Render, EquivalentDrawingsGiveTheSamePicture) {
    using drawing = std::vector<std::pair<std::string, draw_args>>;
    const struct {
        const char *why;
        drawing one, other;
    } rows[] = {
        {"centring leaves a full-width line at x",
         {{"Hello World\nHello World", {.x = 4, .centre = true}}},
         {{"Hello World\nHello World", {.x = 4}}}},
        {"empty lines still move the baseline", {{"A\n\nB", {}}}, {{"A", {}}, {"B", {.y = 48}}}},
        // Tab and space both advance 220 units, with no kerning.
        {"glyphs without outlines only advance the pen", {{"A B", {}}}, {{"A\tB", {}}}},
    };
    for (const auto &row : rows) {
        rgba one = test_support::solid(120, 90, 0, 0, 0, 255), other = one;
        for (const auto &[text, args] : row.one) draw(one, text, args);
        for (const auto &[text, args] : row.other) draw(other, text, args);
        EXPECT_EQ(one.pixels, other.pixels) << row.why;
    }
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
                                        << c << " at " << px << " px, window " << x0 << "," << y0 << "-" << x1 << ","
                                        << y1 << ", byte " << col << "," << r;
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
                // The w x h window at (ox, oy) of a picture, zero outside it.
                auto window = [&](const rgba &picture) {
                    rgba out{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4, 0)};
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x)
                            if (ox + x >= 0 && oy + y >= 0 && ox + x < picture.width && oy + y < picture.height)
                                std::copy_n(picture.at(ox + x, oy + y), 4, out.at(x, y));
                    return out;
                };
                rgba cut = window(test_support::pattern(px * 4, px * 3));  // same background, then cut out
                const rgba expected = window(big);
                draw(cut, text, {.x = px / 2 - ox, .y = px / 3 - oy, .size = px, .opacity = 0.8f});
                ASSERT_EQ(cut.pixels, expected.pixels) << px << " px, cut at " << ox << "," << oy;
            }
        }
    }
}

}  // namespace
