// Failures no caller can arrange from outside: memory running out, and
// write, close or rename failing (a full disk, a quota, an NFS server that
// reports a lost write only at close). This program replaces malloc, calloc,
// realloc, write, close and rename for the whole process and makes a chosen
// call of one of them fail while a library call runs, so every error branch
// is reached as any user, without root or a real full disk.
// Built from the library's objects, so that one save can be driven alone; not
// built with sanitizers (they own the allocator) nor for Windows, where a
// program cannot replace what a DLL imports.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "engine_support.h"
#include "frame/errors.h"
#include "quendal_imgtext.h"
#include "test_support.h"

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" ssize_t __write(int, const void *, size_t);
extern "C" int __close(int);

namespace {

enum fn { f_malloc, f_calloc, f_realloc, f_write, f_close, f_rename };
const char *const k_names[] = {"malloc", "calloc", "realloc", "write", "close", "rename"};
// A failure, or for write a hitch that a correct caller rides out.
enum class fault { fail, interrupt, short_write };

struct injection {
    fn target = f_malloc;
    long at = 0;       // fail the at-th call of target (from 1) ...
    size_t bytes = 0;  // ... or every allocation of exactly this size
    fault how = fault::fail;
    bool armed = false;
    long calls = 0, injected = 0;
} g_fault;

bool inject(fn f, size_t bytes = 0) {
    if (!g_fault.armed || f != g_fault.target) return false;
    const bool hit = ++g_fault.calls == g_fault.at || (g_fault.bytes != 0 && bytes == g_fault.bytes);
    g_fault.injected += hit;
    return hit;
}

}  // namespace

extern "C" {
void *malloc(size_t n) noexcept { return inject(f_malloc, n) ? errno = ENOMEM, nullptr : __libc_malloc(n); }
void *calloc(size_t count, size_t size) noexcept {
    return inject(f_calloc, count * size) ? errno = ENOMEM, nullptr : __libc_calloc(count, size);
}
void *realloc(void *p, size_t n) noexcept {
    return inject(f_realloc, n) ? errno = ENOMEM, nullptr : __libc_realloc(p, n);
}
ssize_t write(int fd, const void *data, size_t n) {
    if (!inject(f_write)) return __write(fd, data, n);
    if (g_fault.how == fault::short_write) return __write(fd, data, (n + 1) / 2);
    errno = g_fault.how == fault::interrupt ? EINTR : ENOSPC;
    return -1;
}
int close(int fd) {
    if (!inject(f_close)) return __close(fd);
    __close(fd);  // as on Linux: the descriptor is gone even when close reports an error
    return errno = EIO, -1;
}
int rename(const char *from, const char *to) noexcept {
    return inject(f_rename) ? errno = EIO, -1 : renameat(AT_FDCWD, from, AT_FDCWD, to);
}
}

using test_support::rgba;
using test_support::scratch_dir;

namespace {

// Runs call() under the plan; returns its result and the failures injected.
template <typename Call>
std::pair<int, long> with_fault(injection plan, Call call) {
    plan.armed = true;
    g_fault = plan;
    const int result = call();
    g_fault.armed = false;
    return {result, g_fault.injected};
}

// ------------------------------------------------------------- one save

class FailedCall : public ::testing::TestWithParam<const char *> {};

// Fails the first, second, ... call of each function in turn until a save
// makes no such call. Every failed save must return 0 with the exact message,
// leave the old file's bytes as they were and leave no temporary file. A
// write that is interrupted or writes only part must be carried on instead.
TEST_P(FailedCall, DuringASaveFailsItCleanlyAndKeepsTheOldFile) {
    scratch_dir dir;
    const std::string name = std::string("picture.") + GetParam(), path = dir.path(name);
    const rgba picture = test_support::noise(160, 120);  // output larger than one 64 KiB write
    auto save = [&] {
        imgtext::s_err[0] = '\0';
        return imgtext::save_image(path.c_str(), picture.width, picture.height, picture.pixels.data(),
                                   imgtext::format_from_path(path.c_str(), imgtext::FMT_PNG));
    };
    ASSERT_EQ(save(), 1);
    const std::vector<uint8_t> expected = test_support::read_bytes(path), old = {'o', 'l', 'd'};

    const std::pair<fn, fault> faults[] = {
        {f_malloc, fault::fail}, {f_calloc, fault::fail}, {f_realloc, fault::fail},    {f_write, fault::fail},
        {f_close, fault::fail},  {f_rename, fault::fail}, {f_write, fault::interrupt}, {f_write, fault::short_write}};
    for (auto [target, how] : faults) {
        long n = 1;
        for (;; ++n) {
            SCOPED_TRACE(std::string(k_names[target]) + " call " + std::to_string(n) + ", fault " +
                         std::to_string(static_cast<int>(how)));
            test_support::write_bytes(path, old);
            const auto [result, injected] = with_fault({target, n, 0, how}, save);
            const bool failed = injected && how == fault::fail;
            EXPECT_EQ(dir.entries(), std::vector<std::string>{name});
            EXPECT_EQ(result, failed ? 0 : 1);
            EXPECT_EQ(test_support::read_bytes(path), failed ? old : expected);
            if (failed) {
                EXPECT_EQ(imgtext_last_error(), "failed to write image to " + path);
            }
            if (!injected) break;
        }
        // Every save allocates, writes, closes and renames at least once.
        if (target != f_calloc && target != f_realloc) {
            EXPECT_GT(n, 1) << k_names[target];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachFormat, FailedCall, ::testing::Values("png", "jpg", "bmp"));

// ----------------------------------------- allocations in whole calls

// Fails each allocation in turn while imgtext_add reads an input of each
// layout the decoder knows and writes each output format: every call
// succeeds, or returns 0 with one of the library's messages; none crashes or
// leaves a stray file. The text is empty: glyphs have their own test below.
TEST(FailedAllocation, InAnyDecoderOrWriterIsReportedNeverCrashes) {
    scratch_dir dir;
    for (const auto &input : test_support::sample_inputs()) input.write(dir.path(input.name));
    const std::vector<std::string> inputs = dir.entries();
    const char *const outputs[] = {"out.png", "out.jpg", "out.bmp"};
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string in = dir.path(inputs[i]), out_name = outputs[i % 3], out = dir.path(out_name);
        for (fn target : {f_malloc, f_calloc, f_realloc}) {
            for (long n = 1;; ++n) {
                SCOPED_TRACE(inputs[i] + " to " + out_name + ", " + k_names[target] + " call " + std::to_string(n));
                for (const char *o : outputs) std::remove(dir.path(o).c_str());
                const auto [result, injected] = with_fault(
                    {target, n}, [&] { return imgtext_add(in.c_str(), out.c_str(), "", 1, 1, 12, 255, 0, 0, 0.5f); });
                const std::string message = imgtext_last_error();
                std::vector<std::string> left = inputs;
                if (result == 1) left.push_back(out_name), std::sort(left.begin(), left.end());
                EXPECT_EQ(dir.entries(), left);
                EXPECT_TRUE(result == 1 ? message.empty()
                                        : message == "cannot read file: " + in ||
                                              message.rfind("cannot decode image " + in + " (", 0) == 0 ||
                                              message == "out of memory allocating line layout" ||
                                              message == "failed to write image to " + out)
                    << result << " " << message;
                if (!injected) break;
            }
        }
    }
}

// stb_truetype's rasteriser used to write through a null scanline buffer for
// a glyph wider than 64 pixels when memory ran out (and assert on a failed
// edge list in debug builds). The header promises that such a glyph is left
// out.
TEST(FailedAllocation, InsideTheRasteriserLeavesTheGlyphOut) {
    scratch_dir dir;
    const std::string in = dir.path("in.png"), out = dir.path("out.png");
    const rgba black = test_support::solid(16, 16, 0, 0, 0, 255);
    test_support::write_png(in, black);
    auto draw = [&] { return imgtext_add(in.c_str(), out.c_str(), "M", -700, -1300, 3000, 255, 255, 255, 1.0f); };
    ASSERT_EQ(draw(), 1);
    const rgba drawn = test_support::decode(out);
    ASSERT_NE(drawn.pixels, black.pixels);  // the M covers part of the picture
    for (fn target : {f_malloc, f_calloc, f_realloc}) {
        for (long n = 1;; ++n) {
            SCOPED_TRACE(std::string(k_names[target]) + " call " + std::to_string(n));
            std::remove(out.c_str());
            const auto [result, injected] = with_fault({target, n}, draw);
            // Not every failed allocation costs the glyph: stdio does without a buffer.
            if (result == 1) {
                const rgba got = test_support::decode(out);
                EXPECT_TRUE(got.pixels == black.pixels || got.pixels == drawn.pixels);
            } else {
                EXPECT_NE(*imgtext_last_error(), '\0');
                EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.png"});
            }
            if (!injected) break;
        }
    }
}

// ------------------------------------------ particular allocations

// One allocation of a known size fails: the canvas, the line layout (seven
// lines of pointer, length and width: 7 * 24 bytes), the decoder's pixels.
TEST(FailedAllocation, OfEachBufferIsReportedWithItsOwnMessage) {
    scratch_dir dir;
    const std::string in = dir.path("in.bmp"), out = dir.path("out.png");
    test_support::write_bmp(in, test_support::pattern(37, 11));
    const char *const seven = "1\n2\n3\n4\n5\n6\n7";
    const struct {
        size_t bytes;
        std::function<int()> call;
        std::string message;
    } rows[] = {
        {53 * 21 * 4, [&] { return imgtext_create(out.c_str(), "x", 53, 21, 0, 0, 0, 0, 0, 0, 0); },
         "failed to allocate image buffer (53x21)"},
        {7 * 24, [&] { return imgtext_add(in.c_str(), out.c_str(), seven, 0, 0, 0, 0, 0, 0, 1.0f); },
         "out of memory allocating line layout"},
        {7 * 24, [&] { return imgtext_create(out.c_str(), seven, 9, 9, 0, 0, 0, 0, 0, 0, 0); },
         "out of memory allocating line layout"},
        {37 * 11 * 4, [&] { return imgtext_add(in.c_str(), out.c_str(), "x", 0, 0, 0, 0, 0, 0, 1.0f); },
         "cannot decode image " + in + " (outofmem)"},
    };
    for (const auto &row : rows) {
        const auto [result, injected] = with_fault({.target = f_calloc, .bytes = row.bytes}, row.call);
        EXPECT_EQ(injected, 1);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(imgtext_last_error(), row.message);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.bmp"});
    }
}

TEST(FailedAllocation, OfAGlyphLeavesItOutAndThePenMovesOn) {
    scratch_dir dir;
    const std::string whole = dir.path("whole.png"), partial = dir.path("partial.png");
    ASSERT_EQ(imgtext_create(whole.c_str(), "Hx", 100, 40, 24, 255, 255, 255, 0, 0, 0), 1);
    const auto [result, injected] = with_fault({.target = f_calloc, .bytes = 14 * 14}, [&] {
        return imgtext_create(partial.c_str(), "Hx", 100, 40, 24, 255, 255, 255, 0, 0, 0);
    });
    EXPECT_EQ(injected, 1);  // 14 x 14: the H's coverage bitmap at 24 px
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(imgtext_last_error(), "");
    const rgba black = test_support::solid(100, 40, 0, 0, 0, 255);
    const auto a = test_support::ink(test_support::decode(whole), black);
    const auto b = test_support::ink(test_support::decode(partial), black);
    EXPECT_GT(b.count, 0);
    EXPECT_LT(b.count, a.count);
    EXPECT_GT(b.left, a.left + 10);  // the H is missing...
    EXPECT_EQ(b.right, a.right);     // ...and the x is where it always was
}

// Shaped text allocates through the standard library (which throws) and
// HarfBuzz (which reports): each failed allocation of a drawing call ends it
// with IMGTEXT_ERROR_MEMORY, or is survived, and never crashes or lets an
// exception out of the library.
TEST(FailedAllocation, InShapedTextIsAStatusNeverAnException) {
    imgtext_image *image = nullptr;
    ASSERT_EQ(imgtext_image_create(200, 60, {0, 0, 0, 255}, &image), IMGTEXT_OK);
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.layout = IMGTEXT_LAYOUT_SHAPED;
    style.max_width = 120;
    for (long n = 1;; ++n) {
        SCOPED_TRACE("malloc call " + std::to_string(n));
        const auto [result, injected] = with_fault({f_malloc, n}, [&] {
            return static_cast<int>(imgtext_draw_text(image, "AV office, wrapped", IMGTEXT_NUL_TERMINATED, 4, 4,
                                                      IMGTEXT_TOP_LEFT, &style, nullptr));
        });
        EXPECT_TRUE(result == IMGTEXT_OK || result == IMGTEXT_ERROR_MEMORY) << result;
        if (result == IMGTEXT_ERROR_MEMORY) {
            EXPECT_NE(*imgtext_error_message(), '\0');
        }
        if (!injected) break;
    }
    imgtext_image_free(image);
}

}  // namespace
