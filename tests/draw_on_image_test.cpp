// imgtext_add, imgtext_add_boxed and imgtext_centered through the shared
// library: every input format, opacity, the box, centring, and the failure
// messages.
#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <string>
#include <vector>

#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::pixel;
using test_support::rgba;
using test_support::scratch_dir;

namespace {

// Re-encodes the input with nothing drawn (opacity 0) and decodes the result.
rgba round_trip(const scratch_dir &dir, const std::string &input) {
    const std::string out = dir.path("round-trip.png");
    EXPECT_EQ(imgtext_add(input.c_str(), out.c_str(), "x", 0, 0, 24, 0, 0, 0, 0.0f), 1) << imgtext_last_error();
    return test_support::decode(out);
}

TEST(InputFormats, EachLayoutDecodesToItsPixels) {
    scratch_dir dir;
    for (const test_support::sample_input &c : test_support::sample_inputs()) {
        SCOPED_TRACE(c.name);
        c.write(dir.path(c.name));
        const std::vector<uint8_t> got = round_trip(dir, dir.path(c.name)).pixels;
        ASSERT_EQ(got.size(), c.pixels.size());
        if (c.tolerance == 0) {
            EXPECT_EQ(got, c.pixels);
            continue;
        }
        for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.pixels[i], c.tolerance) << i;
    }
}

// ------------------------------------------------------------- opacity

// Opacity is clamped to 0..1, and NaN draws nothing: each value must write
// exactly what its stand-in writes (0: the picture unchanged).
TEST(Opacity, OutOfRangeValuesActAsTheNearestEndAndNaNAsZero) {
    scratch_dir dir;
    const rgba picture = test_support::pattern(140, 60);
    test_support::write_png(dir.path("bg.png"), picture);
    auto draw = [&](float opacity) {
        EXPECT_EQ(imgtext_add(dir.path("bg.png").c_str(), dir.path("out.png").c_str(), "Hello", 2, 2, 48, 255, 255, 255,
                              opacity),
                  1);
        return test_support::decode(dir.path("out.png")).pixels;
    };
    const std::vector<uint8_t> full = draw(1.0f);
    ASSERT_NE(full, picture.pixels);
    constexpr float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, float> rows[] = {{0.0f, 0},
                                            {-0.0f, 0},
                                            {-3.0f, 0},
                                            {-inf, 0},
                                            {std::numeric_limits<float>::quiet_NaN(), 0},
                                            // too faint to move any channel by half a step
                                            {std::numeric_limits<float>::denorm_min(), 0},
                                            {2.0f, 1},
                                            {1e30f, 1},
                                            {inf, 1}};
    for (auto [opacity, stand_in] : rows) EXPECT_EQ(draw(opacity), stand_in == 0 ? picture.pixels : full) << opacity;
}

// ------------------------------------------------------------- the box

rgba boxed(const scratch_dir &dir, const char *text, int x, int y, int padding) {
    test_support::write_png(dir.path("clear.png"), test_support::solid(60, 60, 0, 0, 0, 0));
    const std::string out = dir.path("boxed.png");
    // Box colours are clamped to 0..255 like text colours: this box is (0, 255, 255).
    EXPECT_EQ(imgtext_add_boxed(dir.path("clear.png").c_str(), out.c_str(), text, x, y, 24, 255, 255, 255, -40, 300,
                                999, padding),
              1);
    return test_support::decode(out);
}

TEST(Boxed, EmptyTextWithPadding4IsA9By32Box) {
    scratch_dir dir;
    const rgba out = boxed(dir, "", 5, 6, 4);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            const bool inside = x >= 5 && x < 14 && y >= 6 && y < 38;
            ASSERT_EQ(out.px(x, y), (inside ? pixel{0, 255, 255, 255} : pixel{0, 0, 0, 0})) << x << "," << y;
        }
}

TEST(Boxed, NegativePaddingActsAsZero) {
    scratch_dir dir;
    EXPECT_EQ(boxed(dir, "Hi", 3, 4, -7).pixels, boxed(dir, "Hi", 3, 4, 0).pixels);
}

TEST(Boxed, TextSitsPaddingInsideTheBoxCorner) {
    scratch_dir dir;
    const rgba padded = boxed(dir, "H", 3, 4, 5);
    test_support::write_png(dir.path("box-colour.png"), test_support::solid(60, 60, 0, 255, 255, 255));
    ASSERT_EQ(imgtext_add(dir.path("box-colour.png").c_str(), dir.path("plain.png").c_str(), "H", 8, 9, 24, 255, 255,
                          255, 1.0f),
              1);
    const rgba plain = test_support::decode(dir.path("plain.png"));
    // Inside the box both pictures agree pixel for pixel.
    const int box_right = 3 + 15 + 10, box_bottom = 4 + 24 + 10;  // "H" is 15 x 24 at 24 px
    for (int y = 4; y < box_bottom; ++y)
        for (int x = 3; x < box_right; ++x) ASSERT_EQ(padded.px(x, y), plain.px(x, y)) << x << "," << y;
    EXPECT_EQ(padded.at(box_right, 4)[3], 0);
    EXPECT_EQ(padded.at(box_right - 1, box_bottom - 1)[3], 255);
}

// ------------------------------------------------------------- centring

// The box's origin is half the spare space, truncated toward zero, so a box
// larger than the image starts at a negative origin: the same picture as
// imgtext_add at that origin (the lines here are equally wide, so centring
// each line within the box changes nothing). Sizes below 1 draw at 24 px.
TEST(Centered, PlacesTheBoxAtHalfTheSpareSpaceTruncatedTowardZero) {
    scratch_dir dir;
    const char *const wide = "Wide text that overflows";  // 214 x 24 at 24 px
    const struct {
        int width, height, size;
        const char *text;
        int x, y;
    } rows[] = {
        {101, 41, 24, "Hello", 27, 8},                       // "Hello" is 47 x 24
        {10, 9, 24, "Hello", -18, -7},                       // -37 / 2 and -15 / 2, not -19 and -8
        {60, 51, 24, "Hello\nHello\nHello\nHello", 6, -22},  // four lines: 96 high
        {9, 5, 48, "Hello\nHello\nHello", -42, -69},         // 93 x 144 at 48 px
        {30, 20, 1, wide, 10, 9},                            // 9 x 1
        {30, 20, 7, wide, -16, 6},                           // 63 x 8
        {30, 20, 300, wide, -1321, -140},                    // 2673 x 300: far larger than the picture
        {30, 20, 0, wide, -92, -2},
        {30, 20, -1, wide, -92, -2},
        {30, 20, INT_MIN, wide, -92, -2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.text) + " at " + std::to_string(row.size));
        test_support::write_png(dir.path("bg.png"), test_support::pattern(row.width, row.height));
        const std::string bg = dir.path("bg.png"), centred = dir.path("c.png"), placed = dir.path("a.png");
        ASSERT_EQ(imgtext_centered(bg.c_str(), centred.c_str(), row.text, row.size, 255, 0, 0), 1);
        ASSERT_EQ(imgtext_add(bg.c_str(), placed.c_str(), row.text, row.x, row.y, row.size, 255, 0, 0, 1.0f), 1);
        EXPECT_EQ(test_support::read_bytes(centred), test_support::read_bytes(placed));
        EXPECT_NE(test_support::decode(centred).pixels, test_support::pattern(row.width, row.height).pixels);
    }
}

TEST(InPlace, OutputPathMayBeTheInput) {
    scratch_dir dir;
    const std::string path = dir.path("photo.png");
    test_support::write_png(path, test_support::solid(50, 30, 0, 0, 0, 255));
    const std::string elsewhere = dir.path("elsewhere.png");
    ASSERT_EQ(imgtext_add(path.c_str(), elsewhere.c_str(), "Hi", 2, 2, 24, 255, 255, 255, 1.0f), 1);
    ASSERT_EQ(imgtext_add(path.c_str(), path.c_str(), "Hi", 2, 2, 24, 255, 255, 255, 1.0f), 1);
    EXPECT_EQ(test_support::read_bytes(path), test_support::read_bytes(elsewhere));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"elsewhere.png", "photo.png"}));
}

}  // namespace
