// Damaged input files: every truncation and a sweep of corrupted bytes must
// either fail with a message or decode to the same pixels every time, never
// to leftovers of whatever the heap held before.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image.h"
#include "library_frame.h"
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

struct decoded {
    bool ok = false;
    std::string error;
    std::vector<uint8_t> pixels;
    bool operator==(const decoded &o) const { return ok == o.ok && error == o.error && pixels == o.pixels; }
};

decoded decode_after_dirtying(const std::string &path, unsigned char pattern) {
    dirty_heap(pattern);
    rgba_image image{0, 0, nullptr};
    int format = FMT_PNG;
    decoded result;
    result.ok = load_image(path.c_str(), &image, &format) == 1;
    if (result.ok) {
        result.pixels.assign(image.pixels, image.pixels + static_cast<size_t>(image.width) * image.height * 4);
        std::free(image.pixels);
    } else {
        result.error = s_err;
    }
    return result;
}

// Decodes the bytes twice over differently dirtied heaps and requires the
// same outcome; returns whether it decoded.
bool decodes_deterministically(const scratch_dir &dir, const std::vector<uint8_t> &bytes, const std::string &what) {
    const std::string path = dir.path("damaged.jpg");
    test_support::write_bytes(path, bytes);
    const decoded first = decode_after_dirtying(path, 0xA5);
    const decoded second = decode_after_dirtying(path, 0x5A);
    EXPECT_TRUE(first == second) << what;
    if (!first.ok) {
        EXPECT_EQ(first.error.rfind("cannot", 0), 0u) << what << ": " << first.error;
    }
    return first.ok;
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
            decoded_partially += decodes_deterministically(dir, prefix, name + (" length " + std::to_string(length)));
        }
        // Truncated JPEG scans still "decode": those are the cases that matter.
        EXPECT_TRUE(name[2] != 'j' || decoded_partially > 0);
        for (size_t at = 2; at < bytes.size(); at += 7) {
            for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}, static_cast<uint8_t>(bytes[at] ^ 0x40)}) {
                std::vector<uint8_t> damaged = bytes;
                damaged[at] = value;
                decodes_deterministically(dir, damaged, std::string(name) + " byte " + std::to_string(at) + " = " +
                                                            std::to_string(value));
            }
        }
    }
}

}  // namespace
