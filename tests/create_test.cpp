// imgtext_create and the library frame, through the shared library exactly as
// a host sees them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::rgba;
using test_support::scratch_dir;

namespace {

struct ink_bounds {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
};

// Bounds of every pixel that differs from the background colour.
ink_bounds ink(const rgba &img, uint8_t bg) {
    ink_bounds b;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            if (img.at(x, y)[0] != bg) {
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
            }
    return b;
}

int create(const std::string &out, const char *text, int w, int h, int size = 24) {
    return imgtext_create(out.c_str(), text, w, h, size, 255, 255, 255, 0, 0, 0);
}

TEST(Create, TheLetterHLandsWhereTheMeasurementSays) {
    scratch_dir dir;
    ASSERT_EQ(create(dir.path("h.png"), "H", 100, 40), 1) << imgtext_last_error();
    const ink_bounds b = ink(test_support::decode(dir.path("h.png")), 0);
    EXPECT_EQ(b.left, 42);
    EXPECT_EQ(b.right, 55);
    EXPECT_EQ(b.top, 14);
    EXPECT_EQ(b.bottom, 27);
}

TEST(Create, SingleLineSitsOnBaseline58OfA200By100Canvas) {
    scratch_dir dir;
    ASSERT_EQ(create(dir.path("c.png"), "H", 200, 100), 1);
    const ink_bounds b = ink(test_support::decode(dir.path("c.png")), 0);
    EXPECT_EQ(b.bottom, 57);  // last row above the baseline
    EXPECT_EQ(b.top, 44);
}

TEST(Create, NullOrEmptyTextGivesPlainOpaqueBackground) {
    scratch_dir dir;
    for (const char *text : {static_cast<const char *>(nullptr), ""}) {
        const std::string out = dir.path("plain.png");
        ASSERT_EQ(imgtext_create(out.c_str(), text, 7, 5, 24, 1, 2, 3, 40, -9, 999), 1);
        EXPECT_EQ(test_support::decode(out).pixels, test_support::solid(7, 5, 40, 0, 255, 255).pixels);
    }
}

TEST(Create, TextWiderThanTheCanvasIsCentredAndClippedOnBothSides) {
    scratch_dir dir;
    ASSERT_EQ(create(dir.path("wide.png"), "Hello World", 60, 30), 1);
    const ink_bounds b = ink(test_support::decode(dir.path("wide.png")), 0);
    EXPECT_EQ(b.left, 0);
    EXPECT_EQ(b.right, 59);
}

TEST(Create, RefusesBadArgumentsWithExactMessagesAndWritesNothing) {
    scratch_dir dir;
    const std::string out = dir.path("never.png");
    EXPECT_EQ(create(out, "x", -3, 50), 0);
    EXPECT_STREQ(imgtext_last_error(), "invalid dimensions: width and height must be > 0 (-3x50)");
    EXPECT_EQ(create(out, "x", 10, 0), 0);
    EXPECT_STREQ(imgtext_last_error(), "invalid dimensions: width and height must be > 0 (10x0)");
    // The path is checked before the dimensions.
    EXPECT_EQ(imgtext_create(nullptr, "x", -1, -1, 24, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_STREQ(imgtext_last_error(), "invalid argument: output path is NULL");
    EXPECT_FALSE(test_support::file_exists(out));
}

TEST(Create, UnwritableOutputFailsWithThePath) {
    scratch_dir dir;
    const std::string out = dir.path("missing/card.png");
    EXPECT_EQ(create(out, "x", 10, 10), 0);
    EXPECT_EQ(std::string(imgtext_last_error()), "failed to write image to " + out);
    EXPECT_TRUE(dir.entries().empty());
}

TEST(LastError, IsClearedBySuccessAndKeptByReading) {
    scratch_dir dir;
    EXPECT_EQ(create(dir.path("x.png"), "x", 0, 1), 0);
    const char *first = imgtext_last_error();
    const std::string text = first;
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(imgtext_last_error(), first);  // same buffer, same text
    EXPECT_EQ(std::string(imgtext_last_error()), text);
    ASSERT_EQ(create(dir.path("x.png"), "x", 1, 1), 1);
    EXPECT_STREQ(imgtext_last_error(), "");
    EXPECT_EQ(imgtext_last_error(), first);
}

TEST(LastError, LongMessagesAreCutTo511Bytes) {
    const std::string path = "/nonexistent/" + std::string(1000, 'p') + ".png";
    EXPECT_EQ(imgtext_add(path.c_str(), "out.png", "x", 0, 0, 24, 0, 0, 0, 1.0f), 0);
    const std::string message = imgtext_last_error();
    EXPECT_EQ(message.size(), 511u);
    EXPECT_EQ(message, ("cannot read file: " + path).substr(0, 511));
}

TEST(Lifecycle, InitIsIdempotentAndClearsAnEarlierMessage) {
    EXPECT_EQ(imgtext_create(nullptr, nullptr, 1, 1, 0, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(imgtext_init(), 1);
    EXPECT_STREQ(imgtext_last_error(), "");
    EXPECT_EQ(imgtext_init(), 1);
}

TEST(Lifecycle, DrawingAfterCleanupReparsesTheFontByItself) {
    scratch_dir dir;
    ASSERT_EQ(create(dir.path("before.png"), "Hello", 80, 30), 1);
    ASSERT_EQ(imgtext_init(), 1);
    imgtext_cleanup();
    EXPECT_STREQ(imgtext_last_error(), "");
    ASSERT_EQ(create(dir.path("after.png"), "Hello", 80, 30), 1);
    EXPECT_EQ(test_support::read_bytes(dir.path("before.png")), test_support::read_bytes(dir.path("after.png")));
}

}  // namespace
