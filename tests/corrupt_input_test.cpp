// Damaged input files: every truncation and a sweep of corrupted bytes must
// either fail with a message or decode to the same pixels every time, never
// to leftovers of whatever the heap or the stack held before.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crafted_images.h"
#include "engine_support.h"
#include "frame/errors.h"
#include "test_support.h"

using namespace imgtext;
using test_support::scratch_dir;

namespace {

// Leaves recently freed heap blocks of many sizes full of `pattern`, so that
// a decoder reading memory it never wrote would see it.
void dirty_heap(unsigned char pattern) {
    std::vector<void *> blocks;
    for (size_t size = 16; size <= 65536; size *= 2) {  // below the mmap threshold, so reused
        for (int i = 0; i < 3; ++i) {
            void *p = std::malloc(size + static_cast<size_t>(i) * 24);
            std::memset(p, pattern, size + static_cast<size_t>(i) * 24);
            blocks.push_back(p);
        }
    }
    for (void *p : blocks) std::free(p);
}

// Likewise for the stack below the caller: a decoder's local variable that
// it never wrote would hold `pattern`.
[[gnu::noinline]] void dirty_stack(unsigned char pattern) {
    volatile unsigned char area[64 * 1024];
    for (volatile unsigned char &byte : area) byte = pattern;
}

struct decoded {
    bool ok = false;
    std::string error;
    std::vector<uint8_t> pixels;
    bool operator==(const decoded &o) const { return ok == o.ok && error == o.error && pixels == o.pixels; }
};

decoded decode_after_dirtying(const std::string &path, unsigned char pattern) {
    dirty_heap(pattern);
    dirty_stack(pattern);
    rgba_image image{0, 0, nullptr};
    int format = FMT_PNG;
    decoded result;
    result.ok = load_image(path.c_str(), &image, &format) == 1;
    if (result.ok) {
        result.pixels.assign(image.pixels, image.pixels + static_cast<size_t>(image.width) * image.height * 4);
        std::free(image.pixels);
    } else {
        result.error = error_text();
    }
    return result;
}

// Decodes the bytes twice over differently dirtied memory and requires the
// same outcome, which it returns.
decoded decode_twice(const scratch_dir &dir, const std::vector<uint8_t> &bytes, const std::string &what) {
    const std::string path = dir.path("damaged.jpg");
    test_support::write_bytes(path, bytes);
    const decoded first = decode_after_dirtying(path, 0xA5);
    const decoded second = decode_after_dirtying(path, 0x5A);
    EXPECT_TRUE(first == second) << what;
    if (!first.ok) {
        EXPECT_EQ(first.error.rfind("cannot", 0), 0u) << what << ": " << first.error;
    }
    return first;
}

// The RGBA of the decoded picture's pixel number `at`, top row first.
std::vector<uint8_t> pixel(const decoded &d, size_t at) {
    if (!d.ok || d.pixels.size() < at * 4 + 4) return {};
    return {d.pixels.begin() + static_cast<long>(at * 4), d.pixels.begin() + static_cast<long>(at * 4 + 4)};
}

// Every truncation of a small file of each format, and a sweep of corrupted
// bytes (0x00, 0xFF, one bit flipped at every seventh byte).
TEST(CorruptInput, TruncatedOrCorruptedFilesFailCleanlyOrDecodeTheSameEveryTime) {
    scratch_dir dir;
    const test_support::rgba small = test_support::pattern(12, 9);
    test_support::write_jpg(dir.path("s.jpg"), test_support::pattern(40, 24), 90);
    test_support::write_png(dir.path("s.png"), small);
    test_support::write_bmp(dir.path("s.bmp"), small);
    test_support::write_bytes(dir.path("s.gif"),
                              test_support::gif_bytes(3, 3, {{0, 1, 2, 3, 0, 1, 2, 3, 0}}, {{{1, 2, 3}}, {{4, 5, 6}}}));
    for (const char *name : {"s.jpg", "s.png", "s.bmp", "s.gif"}) {
        const std::vector<uint8_t> bytes = test_support::read_bytes(dir.path(name));
        int decoded_partially = 0;
        for (size_t length = 1; length < bytes.size(); ++length) {
            const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<long>(length));
            decoded_partially += decode_twice(dir, prefix, name + (" length " + std::to_string(length))).ok;
        }
        // Truncated JPEG scans still "decode": those are the cases that matter.
        EXPECT_TRUE(name[2] != 'j' || decoded_partially > 0);
        for (size_t at = 2; at < bytes.size(); at += 7) {
            for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}, static_cast<uint8_t>(bytes[at] ^ 0x40)}) {
                std::vector<uint8_t> damaged = bytes;
                damaged[at] = value;
                decode_twice(dir, damaged,
                             std::string(name) + " byte " + std::to_string(at) + " = " + std::to_string(value));
            }
        }
    }
}

// Indices past the end of the file's palette used to copy whatever the
// decoder's stack held into the picture (and so into the output file).
TEST(CorruptInput, PaletteIndicesBeyondThePaletteReadAsZero) {
    scratch_dir dir;
    // 16 x 16, 8 bits, a palette of one entry: 314 bytes, indices 0 to 255.
    const crafted::file bmp = crafted::bmp({.header = 40, .bpp = 8, .palette = 1, .width = 16, .height = 16});
    ASSERT_EQ(bmp.bytes().size(), 314u);
    const decoded picture = decode_twice(dir, bmp.bytes(), "8-bit BMP");
    // Stored bottom row first: index 0 is the bottom left pixel, index 1 its neighbour.
    EXPECT_EQ(pixel(picture, 15 * 16), (std::vector<uint8_t>{3, 2, 1, 255}));
    EXPECT_EQ(pixel(picture, 15 * 16 + 1), (std::vector<uint8_t>{0, 0, 0, 255}));
    EXPECT_EQ(pixel(picture, 0), (std::vector<uint8_t>{0, 0, 0, 255}));

    // PNG keeps a palette's alpha: entries past the end are transparent black.
    const crafted::file png = crafted::png({.colour = 3, .depth = 8, .palette = 1, .width = 16, .height = 16});
    const decoded png_picture = decode_twice(dir, png.bytes(), "8-bit PNG");
    EXPECT_EQ(pixel(png_picture, 0), (std::vector<uint8_t>{1, 2, 3, 255}));
    EXPECT_EQ(pixel(png_picture, 1), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(pixel(png_picture, 255), (std::vector<uint8_t>{0, 0, 0, 0}));
}

// An empty first IDAT chunk had its no bytes copied to a buffer not yet
// allocated (undefined behaviour, found by fuzzing). It adds nothing.
TEST(CorruptInput, EmptyFirstPngDataChunkAddsNothing) {
    scratch_dir dir;
    const decoded plain = decode_twice(dir, crafted::png({}).bytes(), "PNG");
    ASSERT_TRUE(plain.ok);
    EXPECT_TRUE(decode_twice(dir, crafted::png({.empty_data = true}).bytes(), "PNG, empty IDAT first") == plain);
}

// A flat (not run-length) Radiance file cut short left the missing pixels'
// bytes uninitialised; like every other decoder's, they read as zero.
TEST(CorruptInput, TruncatedFlatHdrReadsMissingBytesAsZero) {
    scratch_dir dir;
    const std::vector<uint8_t> whole = crafted::hdr({.width = 3, .height = 2}).bytes();
    const std::vector<uint8_t> black = {0, 0, 0, 255};
    // No pixel data at all: every pixel used to be stack memory. Valgrind
    // reports that; the dirtied stack happened not to show it here.
    const decoded empty = decode_twice(dir, {whole.begin(), whole.end() - 6 * 4}, "HDR header only");
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(pixel(empty, i), black) << i;
    // Cut inside the second pixel: its red and green are there, its exponent is not.
    const decoded cut = decode_twice(dir, {whole.begin(), whole.end() - 4 * 4 - 2}, "HDR cut");
    EXPECT_EQ(pixel(cut, 0), pixel(decode_twice(dir, whole, "HDR"), 0));
    for (size_t i = 1; i < 6; ++i) EXPECT_EQ(pixel(cut, i), black) << i;
}

}  // namespace
