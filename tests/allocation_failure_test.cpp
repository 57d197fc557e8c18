// What happens when memory runs out. This program replaces calloc for the
// whole process (the shared library's calls included) so a test can make one
// allocation of a chosen size fail. Built only without sanitizers, which own
// the allocator themselves.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "quendal_imgtext.h"
#include "test_support.h"

extern "C" void *__libc_calloc(size_t, size_t);

namespace {
size_t g_fail_bytes = 0;  // 0: never fail
int g_failures = 0;
}  // namespace

extern "C" void *calloc(size_t count, size_t size) {
    if (g_fail_bytes != 0 && count * size == g_fail_bytes) {
        ++g_failures;
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_calloc(count, size);
}

using test_support::scratch_dir;

namespace {

// Makes every calloc of exactly `bytes` fail while it lives.
struct failing_calloc {
    explicit failing_calloc(size_t bytes) {
        g_fail_bytes = bytes;
        g_failures = 0;
    }
    ~failing_calloc() { g_fail_bytes = 0; }
    int failures() const { return g_failures; }
};

TEST(AllocationFailure, CanvasThatCannotBeAllocatedIsReported) {
    scratch_dir dir;
    const std::string out = dir.path("card.png");
    failing_calloc fail(53 * 21 * 4);
    EXPECT_EQ(imgtext_create(out.c_str(), "x", 53, 21, 0, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_STREQ(imgtext_last_error(), "failed to allocate image buffer (53x21)");
    EXPECT_EQ(fail.failures(), 1);
    EXPECT_TRUE(dir.entries().empty());
}

TEST(AllocationFailure, LineLayoutThatCannotBeAllocatedIsReported) {
    scratch_dir dir;
    const std::string in = dir.path("in.png"), out = dir.path("out.png");
    test_support::write_png(in, test_support::pattern(20, 10));
    // Seven lines of (pointer, length, width): 7 * 24 bytes.
    failing_calloc fail(7 * 24);
    EXPECT_EQ(imgtext_add(in.c_str(), out.c_str(), "1\n2\n3\n4\n5\n6\n7", 0, 0, 0, 0, 0, 0, 1.0f), 0);
    EXPECT_STREQ(imgtext_last_error(), "out of memory allocating line layout");
    EXPECT_EQ(imgtext_create(out.c_str(), "1\n2\n3\n4\n5\n6\n7", 9, 9, 0, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_STREQ(imgtext_last_error(), "out of memory allocating line layout");
    EXPECT_FALSE(test_support::file_exists(out));
}

struct ink_span {
    int left = 1 << 30, right = -1, count = 0;
};
ink_span ink_of(const test_support::rgba &img) {
    ink_span s;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            if (img.at(x, y)[0] != 0) s.left = std::min(s.left, x), s.right = std::max(s.right, x), ++s.count;
    return s;
}

TEST(AllocationFailure, GlyphWithoutMemoryIsSkippedAndThePenMovesOn) {
    scratch_dir dir;
    const std::string whole = dir.path("whole.png"), partial = dir.path("partial.png");
    ASSERT_EQ(imgtext_create(whole.c_str(), "Hx", 100, 40, 24, 255, 255, 255, 0, 0, 0), 1);
    {
        failing_calloc fail(14 * 14);  // the H's coverage bitmap at 24 px
        ASSERT_EQ(imgtext_create(partial.c_str(), "Hx", 100, 40, 24, 255, 255, 255, 0, 0, 0), 1);
        EXPECT_STREQ(imgtext_last_error(), "");
        EXPECT_EQ(fail.failures(), 1);
    }
    const ink_span a = ink_of(test_support::decode(whole)), b = ink_of(test_support::decode(partial));
    EXPECT_GT(b.count, 0);
    EXPECT_LT(b.count, a.count);
    EXPECT_GT(b.left, a.left + 10);   // the H is missing...
    EXPECT_EQ(b.right, a.right);      // ...and the x is where it always was
}

TEST(AllocationFailure, DecoderOutOfMemoryIsReportedWithItsReason) {
    scratch_dir dir;
    const std::string in = dir.path("in.bmp");
    test_support::write_bmp(in, test_support::pattern(37, 11));
    failing_calloc fail(37 * 11 * 4);
    EXPECT_EQ(imgtext_add(in.c_str(), dir.path("out.png").c_str(), "x", 0, 0, 0, 0, 0, 0, 1.0f), 0);
    EXPECT_EQ(std::string(imgtext_last_error()), "cannot decode image " + in + " (outofmem)");
}

}  // namespace
