// The RGBA buffer's rectangle fill and the writers' size limits.
#include <gtest/gtest.h>

#include <climits>

#include "image/image_io.h"
#include "image/paint.h"
#include "test_support.h"

using namespace imgtext;
using test_support::pixel;
using test_support::rgba;

namespace {

rgba filled(int64_t x, int64_t y, int64_t w, int64_t h, int red = 10, int green = 20, int blue = 30) {
    rgba img = test_support::solid(8, 6, 1, 2, 3, 0);
    fill_rect(rgba_image{img.width, img.height, img.pixels.data()}, x, y, w, h, red, green, blue);
    return img;
}

// The 8 x 6 image is clear; the filled part must be exactly the expected
// rectangle (inclusive corners; right < left for none).
TEST(FillRect, PaintsOnlyTheRectanglesPartInsideTheImage) {
    const struct {
        int64_t x, y, w, h;
        int left, top, right, bottom;
    } rows[] = {
        {-5, 0, 4, 6, 0, 0, -1, -1},    // x + w < 0
        {0, -7, 8, 6, 0, 0, -1, -1},    // y + h < 0
        {8, 0, 4, 6, 0, 0, -1, -1},     // x >= width
        {0, 6, 8, 6, 0, 0, -1, -1},     // y >= height
        {0, 0, 0, 1000, 0, 0, -1, -1},  // empty, however large the other side
        {0, 0, 1000, -1, 0, 0, -1, -1},
        {-2, -3, 5, 5, 0, 0, 2, 1},  // overhang clipped on every side
        {6, 4, 100, 100, 6, 4, 7, 5},
        {-100, -100, 1000, 1000, 0, 0, 7, 5},
        {INT_MAX, 0, INT_MAX, 6, 0, 0, -1, -1},  // extremes do not overflow
        {INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, -1, -1},
        {INT_MIN, 0, int64_t{INT_MAX} * 2, 1, 0, 0, 7, 0},
    };
    for (const auto &row : rows) {
        const rgba img = filled(row.x, row.y, row.w, row.h);
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                const bool inside = x >= row.left && x <= row.right && y >= row.top && y <= row.bottom;
                EXPECT_EQ(img.px(x, y), (inside ? pixel{10, 20, 30, 255} : pixel{1, 2, 3, 0}))
                    << row.x << "," << row.y << " " << row.w << "x" << row.h << " at " << x << "," << y;
            }
    }
}

TEST(FillRect, ClampsChannelsAndAlwaysWritesOpaque) {
    EXPECT_EQ(filled(1, 1, 1, 1, -5, 300, 128).px(1, 1), (pixel{0, 255, 128, 255}));
}

TEST(WriterLimits, EachFormatAcceptsUpToItsLimitAndNoFurther) {
    const struct {
        int format, width, height;
        bool ok;
    } rows[] = {
        {FMT_JPG, 65535, 1, true},      {FMT_JPG, 65536, 1, false},
        {FMT_JPG, 1, 65536, false},     {FMT_JPG, 65535, 8192, true},   // 4 w h = 2,147,450,880
        {FMT_JPG, 65535, 8193, false},  {FMT_BMP, 536870881, 1, true},  // 122 + 4 w h <= INT_MAX
        {FMT_BMP, 536870882, 1, false}, {FMT_BMP, 65536, 65536, false},
        {FMT_PNG, 357913926, 1, true},  // deflate's 9/8 worst case fits the buffer
        {FMT_PNG, 357913927, 1, false}, {FMT_PNG, 1, 1431655765, false},
        {FMT_PNG, 1, 1, true},          {42, 357913927, 1, false},  // unknown codes are PNG
    };
    for (const auto &row : rows)
        EXPECT_EQ(writer_can_encode(row.format, row.width, row.height), row.ok)
            << row.format << ": " << row.width << "x" << row.height;
}

}  // namespace
