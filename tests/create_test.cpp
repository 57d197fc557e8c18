// imgtext_create and the library frame, through the shared library exactly as
// a host sees them.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::rgba;
using test_support::scratch_dir;

namespace {

// Bounds of the text drawn on the black canvas.
test_support::ink_bounds ink(const rgba &img) {
    return test_support::ink(img, test_support::solid(img.width, img.height, 0, 0, 0, 255));
}

int create(const std::string &out, const char *text, int w, int h, int size = 24) {
    return imgtext_create(out.c_str(), text, w, h, size, 255, 255, 255, 0, 0, 0);
}

// Where the text's ink lands, as the measurements say: "H" is 15 x 24 with
// its baseline 20 below the top; "Hello World" is 105 wide.
TEST(Create, TextIsCentredBothWaysAndClippedAtTheEdges) {
    scratch_dir dir;
    const struct {
        const char *text;
        int width, height, left, top, right, bottom;
    } rows[] = {
        {"H", 100, 40, 42, 14, 55, 27},         // the box at (42, 8), the H's ink at (0, 6)..(13, 19) in it
        {"H", 200, 100, 92, 44, 105, 57},       // the baseline at 38 + 20 = 58
        {"Hello World", 60, 30, 0, 8, 59, 23},  // the box at (-22, 3): clipped left and right
    };
    for (const auto &row : rows) {
        const std::string out = dir.path("c.png");
        ASSERT_EQ(create(out, row.text, row.width, row.height), 1) << imgtext_last_error();
        const auto b = ink(test_support::decode(out));
        EXPECT_EQ((std::array{b.left, b.top, b.right, b.bottom}),
                  (std::array{row.left, row.top, row.right, row.bottom}))
            << row.text << " on " << row.width << "x" << row.height;
    }
}

TEST(Create, NullOrEmptyTextGivesPlainOpaqueBackground) {
    scratch_dir dir;
    for (const char *text : {static_cast<const char *>(nullptr), ""}) {
        const std::string out = dir.path("plain.png");
        ASSERT_EQ(imgtext_create(out.c_str(), text, 7, 5, 24, 1, 2, 3, 40, -9, 999), 1);
        EXPECT_EQ(test_support::decode(out).pixels, test_support::solid(7, 5, 40, 0, 255, 255).pixels);
    }
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
