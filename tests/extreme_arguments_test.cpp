// Every int argument may be anything from INT_MIN to INT_MAX, and opacity any
// float: no call may overflow, crash or hang, and failures carry messages.
// Run under UndefinedBehaviorSanitizer this proves the arithmetic is defined.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::scratch_dir;

namespace {

const int k_extremes[] = {INT_MIN, INT_MIN + 1, -100000, -1, 0, 1, 99, 100000, INT_MAX - 1, INT_MAX};
const int k_sizes[] = {INT_MIN, -1, 0, 1, 7, 300};

class ExtremeArguments : public ::testing::Test {
protected:
    void SetUp() override {
        input_ = dir_.path("in.png");
        test_support::write_png(input_, picture_);
        output_ = dir_.path("out.png");
    }
    // Only pixels in the w x h box at (x, y) may differ from the input, and
    // the column before it, where a glyph may ink before its pen.
    void expect_changes_only_in(int64_t x, int64_t y, int64_t w, int64_t h) {
        const test_support::ink_bounds b = test_support::ink(test_support::decode(output_), picture_);
        if (b.count == 0) return;
        EXPECT_GE(b.left, x - 1);
        EXPECT_LT(b.right, x + w);
        EXPECT_GE(b.top, y);
        EXPECT_LT(b.bottom, y + h);
    }
    scratch_dir dir_;
    const test_support::rgba picture_ = test_support::pattern(30, 20);
    std::string input_, output_;
};

TEST_F(ExtremeArguments, AddAcceptsAnyPositionSizeAndColour) {
    for (int x : k_extremes)
        for (int y : k_extremes) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            ASSERT_EQ(imgtext_add(input_.c_str(), output_.c_str(), "Hq\n\nW", x, y, 24, x, y, x, 1.0f), 1);
            expect_changes_only_in(x, y, 26, 72);  // the text measures 26 x 72
        }
    for (int size : k_sizes)
        for (int c : k_extremes)
            ASSERT_EQ(imgtext_add(input_.c_str(), output_.c_str(), "AV\nTo", -3, -2, size, c, ~c, c, 0.7f), 1) << size;
}

TEST_F(ExtremeArguments, BoxedAcceptsAnyPaddingAndCorner) {
    for (int padding : k_extremes)
        for (int x : {INT_MIN, -5, 0, INT_MAX}) {
            SCOPED_TRACE(std::to_string(padding) + " at " + std::to_string(x));
            ASSERT_EQ(
                imgtext_add_boxed(input_.c_str(), output_.c_str(), "Box", x, x, 12, 0, 0, 0, 255, 255, 255, padding),
                1);
            const int64_t p = std::max(padding, 0);
            expect_changes_only_in(x, x, 17 + 2 * p, 12 + 2 * p);  // "Box" measures 17 x 12 at 12 px
        }
}

// Refused calls, each with its exact message and nothing written. Paths are
// checked before anything else, then the text, then the dimensions; a size
// is checked only when there is text to lay out. Inputs that cannot be read
// or decoded are named in the message, which is cut to 511 bytes.
TEST_F(ExtremeArguments, RefusedCallsGiveExactMessagesAndWriteNothing) {
    const char *const in = input_.c_str(), *out = output_.c_str();
    struct row {
        std::function<int()> call;
        std::string message;
    };
    std::vector<row> rows = {
        {[&] { return imgtext_create(out, "x", -3, 50, 24, 0, 0, 0, 0, 0, 0); },
         "invalid dimensions: width and height must be > 0 (-3x50)"},
        {[&] { return imgtext_create(out, "x", 10, 0, 24, 0, 0, 0, 0, 0, 0); },
         "invalid dimensions: width and height must be > 0 (10x0)"},
        {[&] { return imgtext_create(out, "x", INT_MIN, INT_MAX, 0, 0, 0, 0, 0, 0, 0); },
         "invalid dimensions: width and height must be > 0 (-2147483648x2147483647)"},
        {[&] { return imgtext_create(nullptr, "x", -1, -1, 24, 0, 0, 0, 0, 0, 0); },
         "invalid argument: output path is NULL"},
        {[&] { return imgtext_add(nullptr, out, nullptr, 0, 0, 0, 0, 0, 0, 1.0f); },
         "invalid argument: input or output path is NULL"},
        {[&] { return imgtext_add_boxed(in, nullptr, "t", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0); },
         "invalid argument: input or output path is NULL"},
        {[&] { return imgtext_centered(in, out, nullptr, 0, 0, 0, 0); }, "invalid argument: text is NULL"},
        {[&] { return imgtext_add(in, out, "x", 0, 0, QUENDAL_IMGTEXT_MAX_SIZE + 1, 0, 0, 0, 1.0f); },
         "invalid size: pixel size must be <= 100000 (100001)"},
        {[&] { return imgtext_centered(in, out, "x", INT_MAX, 0, 0, 0); },
         "invalid size: pixel size must be <= 100000 (2147483647)"},
        {[&] { return imgtext_create(out, "x", 5, 5, INT_MAX, 0, 0, 0, 0, 0, 0); },
         "invalid size: pixel size must be <= 100000 (2147483647)"},
        {[&] { return imgtext_create(out, "x", INT_MAX, INT_MAX, 0, 0, 0, 0, 0, 0, 0); },
         "failed to allocate image buffer (2147483647x2147483647)"},
    };
    const std::string long_path = "/nonexistent/" + std::string(1000, 'p') + ".png";
    rows.push_back({[&] { return imgtext_add(long_path.c_str(), out, "x", 0, 0, 24, 0, 0, 0, 1.0f); },
                    ("cannot read file: " + long_path).substr(0, 511)});
    test_support::write_bytes(dir_.path("empty.png"), {});
    test_support::write_bytes(dir_.path("notes.txt"), {'h', 'e', 'l', 'l', 'o', '\n'});
    test_support::write_bytes(dir_.path("tiny.png"), {0x89});
    const struct {
        const char *name, *before, *after;  // the message around the path
    } unreadable[] = {{"missing.png", "cannot read file: ", ""},
                      {"empty.png", "cannot read file: ", ""},
                      {"notes.txt", "cannot decode image ", " (unknown image type)"},
                      {"tiny.png", "cannot decode image ", " (unknown image type)"}};
    for (const auto &bad : unreadable) {
        const std::string path = dir_.path(bad.name), message = bad.before + path + bad.after;
        rows.push_back({[&, path] { return imgtext_add(path.c_str(), out, "x", 0, 0, 0, 0, 0, 0, 1.0f); }, message});
        rows.push_back({[&, path] { return imgtext_centered(path.c_str(), out, "x", 0, 0, 0, 0); }, message});
    }
    const std::vector<std::string> entries = {"empty.png", "in.png", "notes.txt", "tiny.png"};
    for (const auto &row : rows) {
        EXPECT_EQ(row.call(), 0) << row.message;
        EXPECT_EQ(imgtext_last_error(), row.message);
        EXPECT_EQ(dir_.entries(), entries);
    }
    EXPECT_EQ(imgtext_create(out, "", 5, 5, INT_MAX, 0, 0, 0, 0, 0, 0), 1);
}

TEST_F(ExtremeArguments, GlyphsTooLargeToRasteriseAreLeftOut) {
    // At the largest size an H's bitmap would pass 2 GiB: it is skipped, not
    // allocated, and the picture is written unchanged.
    ASSERT_EQ(
        imgtext_add(input_.c_str(), output_.c_str(), "H", -40000, -80000, QUENDAL_IMGTEXT_MAX_SIZE, 0, 0, 0, 1.0f), 1)
        << imgtext_last_error();
    EXPECT_EQ(test_support::decode(output_).pixels, test_support::decode(input_).pixels);
}

}  // namespace
