// The RGBA buffer's rectangle fill and the writers' size limits.
#include <gtest/gtest.h>

#include <climits>

#include "image.h"
#include "test_support.h"

using namespace imgtext;
using test_support::rgba;

namespace {

rgba filled(int64_t x, int64_t y, int64_t w, int64_t h, int red = 10, int green = 20, int blue = 30) {
    rgba img = test_support::solid(8, 6, 1, 2, 3, 0);
    fill_rect(rgba_image{img.width, img.height, img.pixels.data()}, x, y, w, h, red, green, blue);
    return img;
}

int count_filled(const rgba &img) {
    int n = 0;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) n += img.at(x, y)[3] == 255;
    return n;
}

TEST(FillRect, RectanglesOutsideTheImageChangeNothing) {
    const rgba untouched = test_support::solid(8, 6, 1, 2, 3, 0);
    EXPECT_EQ(filled(-5, 0, 4, 6).pixels, untouched.pixels);  // x + w < 0
    EXPECT_EQ(filled(0, -7, 8, 6).pixels, untouched.pixels);  // y + h < 0
    EXPECT_EQ(filled(8, 0, 4, 6).pixels, untouched.pixels);   // x >= width
    EXPECT_EQ(filled(0, 6, 8, 6).pixels, untouched.pixels);   // y >= height
}

TEST(FillRect, EmptySizesChangeNothingEvenWhenTheOtherIsLarge) {
    const rgba untouched = test_support::solid(8, 6, 1, 2, 3, 0);
    EXPECT_EQ(filled(0, 0, 0, 1000).pixels, untouched.pixels);
    EXPECT_EQ(filled(0, 0, 1000, -1).pixels, untouched.pixels);
}

TEST(FillRect, OverhangIsClippedOnEverySide) {
    const rgba img = filled(-2, -3, 5, 5);  // covers columns 0..2, rows 0..1
    EXPECT_EQ(count_filled(img), 3 * 2);
    EXPECT_EQ(img.at(2, 1)[3], 255);
    EXPECT_EQ(img.at(3, 1)[3], 0);
    EXPECT_EQ(img.at(2, 2)[3], 0);

    EXPECT_EQ(count_filled(filled(6, 4, 100, 100)), 2 * 2);
    EXPECT_EQ(count_filled(filled(-100, -100, 1000, 1000)), 8 * 6);
}

TEST(FillRect, ExtremeCoordinatesDoNotOverflow) {
    EXPECT_EQ(count_filled(filled(INT_MAX, 0, INT_MAX, 6)), 0);
    EXPECT_EQ(count_filled(filled(INT_MIN, INT_MIN, INT_MAX, INT_MAX)), 0);
    EXPECT_EQ(count_filled(filled(INT_MIN, 0, int64_t{INT_MAX} * 2, 1)), 8);
}

TEST(FillRect, ClampsChannelsAndAlwaysWritesOpaque) {
    const rgba img = filled(1, 1, 1, 1, -5, 300, 128);
    const uint8_t *p = img.at(1, 1);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 255);
    EXPECT_EQ(p[2], 128);
    EXPECT_EQ(p[3], 255);
}

TEST(WriterLimits, EachFormatAcceptsUpToItsLimitAndNoFurther) {
    EXPECT_TRUE(writer_can_encode(FMT_JPG, 65535, 1));
    EXPECT_FALSE(writer_can_encode(FMT_JPG, 65536, 1));
    EXPECT_FALSE(writer_can_encode(FMT_JPG, 1, 65536));
    EXPECT_TRUE(writer_can_encode(FMT_JPG, 65535, 8192));  // 4 w h = 2,147,450,880
    EXPECT_FALSE(writer_can_encode(FMT_JPG, 65535, 8193));

    EXPECT_TRUE(writer_can_encode(FMT_BMP, 536870881, 1));  // 122 + 4 w h <= INT_MAX
    EXPECT_FALSE(writer_can_encode(FMT_BMP, 536870882, 1));
    EXPECT_FALSE(writer_can_encode(FMT_BMP, 65536, 65536));

    EXPECT_TRUE(writer_can_encode(FMT_PNG, 357913926, 1));  // deflate's 9/8 worst case fits the buffer
    EXPECT_FALSE(writer_can_encode(FMT_PNG, 357913927, 1));
    EXPECT_FALSE(writer_can_encode(FMT_PNG, 1, 1431655765));
    EXPECT_FALSE(writer_can_encode(42, 357913927, 1));  // unknown codes are PNG
    EXPECT_TRUE(writer_can_encode(FMT_PNG, 1, 1));
}

}  // namespace
