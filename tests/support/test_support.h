// Helpers shared by the tests: scratch folders, file bytes, and generating or
// decoding images with stb (the tests make all their own inputs).
#ifndef IMGTEXT_TEST_SUPPORT_H
#define IMGTEXT_TEST_SUPPORT_H

#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Skips the test for want of `key`, or fails it where such a skip is not
// expected (see skip_allowed).
#define IMGTEXT_SKIP_FOR_WANT_OF(key, why)                                             \
  do {                                                                                 \
    if (!test_support::skip_allowed(key)) FAIL() << "may not skip (" key "): " << why; \
    GTEST_SKIP() << why;                                                               \
  } while (0)

namespace test_support {

// A fresh folder, removed with everything in it when the object goes.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir &) = delete;
    scratch_dir &operator=(const scratch_dir &) = delete;
    std::string path(const std::string &name) const { return root_ + "/" + name; }
    const std::string &root() const { return root_; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> entries() const;
    static std::vector<std::string> entries(const std::string &folder);

private:
    std::string root_;
};

bool file_exists(const std::string &path);
std::vector<uint8_t> read_bytes(const std::string &path);

// The step of a test that tries every byte or length of a file: 1, unless
// IMGTEXT_TEST_STRIDE says otherwise. The sanitizer runs set it, since they
// run the same code 10-50 times slower and need only a sample of the shapes.
size_t exhaustive_stride();

// Whether a test may skip for want of `what` (a short key: "tmpfs",
// "root", "system-fonts"). Anywhere by default; where IMGTEXT_SKIPS_ALLOWED
// is set (scripts/test.sh sets it for each stage), only for the keys it
// lists, so that a skip nobody expected fails the run instead of hiding.
bool skip_allowed(const char *what);
void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes);

using pixel = std::array<uint8_t, 4>;

struct rgba {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;  // width * height * 4, RGBA, top row first
    const uint8_t *at(int x, int y) const { return &pixels[(static_cast<size_t>(y) * width + x) * 4]; }
    uint8_t *at(int x, int y) { return &pixels[(static_cast<size_t>(y) * width + x) * 4]; }
    pixel px(int x, int y) const { return {at(x, y)[0], at(x, y)[1], at(x, y)[2], at(x, y)[3]}; }
};

// The box (inclusive) around the pixels of `img` that differ from
// `reference` (same size) in rows [top, bottom); count 0 when none do.
struct ink_bounds {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1, count = 0;
};
ink_bounds ink(const rgba &img, const rgba &reference, int top = 0, int bottom = INT_MAX);

// What a file's first bytes say it is.
enum class file_kind { png, jpeg, bmp, other };
file_kind kind_of(const std::string &path);

// A solid image of one colour.
rgba solid(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a);
// An asymmetric pattern with distinct channels, so flips and swaps show.
rgba pattern(int width, int height);
// Pseudo-random bytes in every channel: compresses to about its own size.
rgba noise(int width, int height);

// Decodes any file stb_image reads to RGBA; fails the test if it cannot.
rgba decode(const std::string &path);

void write_png(const std::string &path, const rgba &image);
void write_jpg(const std::string &path, const rgba &image, int quality = 95);
void write_bmp(const std::string &path, const rgba &image);
void write_tga(const std::string &path, const rgba &image);

// Inputs in the other formats and layouts the decoder accepts, built by hand
// where stb cannot write them. `comp` is the channel count of `data`.
void write_png_channels(const std::string &path, int width, int height, int comp, const std::vector<uint8_t> &data);
void write_hdr(const std::string &path, int width, int height, const std::vector<float> &rgb);
std::vector<uint8_t> png16_bytes(int width, int height, const std::vector<uint16_t> &rgba);
// Each frame is width*height palette indices; palette entries are RGB.
std::vector<uint8_t> gif_bytes(int width, int height, const std::vector<std::vector<uint8_t>> &frames,
                               const std::vector<std::array<uint8_t, 3>> &palette, int transparent_index = -1);
std::vector<uint8_t> psd_bytes(const rgba &image);  // uncompressed, 4 channels
std::vector<uint8_t> ppm_bytes(const rgba &image);  // P6, alpha dropped
std::vector<uint8_t> pic_bytes(const rgba &image);  // Softimage PIC, uncompressed RGBA

// One input of each layout the decoder reads, and the RGBA pixels it must
// decode to, within tolerance.
struct sample_input {
    const char *name;
    std::function<void(const std::string &path)> write;
    std::vector<uint8_t> pixels;
    int tolerance = 0;
};
const std::vector<sample_input> &sample_inputs();

// The reference encoders' bytes for RGBA pixels: stb_image_write's PNG at its
// defaults and JPEG at the given quality.
std::vector<uint8_t> reference_png(const rgba &image);
std::vector<uint8_t> reference_jpg(const rgba &image, int quality);
// stb_image_write's zlib stream for any bytes, at the level its PNGs use.
std::vector<uint8_t> reference_zlib(const std::vector<uint8_t> &bytes);

// Photo metadata, built by hand. A TIFF block as EXIF carries it, whose
// first directory (at offset 8) holds these entries and links to no other;
// a one-SHORT value is given as the number. `after` follows the directory,
// at offset tiff_data_offset(entries.size()).
struct tiff_entry {
    uint16_t tag, type;
    uint32_t count, value;
};
std::vector<uint8_t> tiff_block(bool little_endian, const std::vector<tiff_entry> &entries,
                                const std::vector<uint8_t> &after = {});
inline uint32_t tiff_data_offset(size_t entries) { return static_cast<uint32_t>(8 + 2 + 12 * entries + 4); }
// A JPEG segment: FF marker, length, payload.
std::vector<uint8_t> jpeg_segment(uint8_t marker, const std::vector<uint8_t> &payload);
// stb_image_write's JPEG of the picture (quality 100) with these whole
// segments spliced in after its JFIF segment.
std::vector<uint8_t> jpeg_with_segments(const rgba &image, const std::vector<std::vector<uint8_t>> &segments);

// A JPEG's segments before its first scan, or a PNG's chunks: (marker as a
// decimal number, or chunk type; payload).
std::vector<std::pair<std::string, std::vector<uint8_t>>> parts(const std::vector<uint8_t> &file);

// A stable 64-bit digest (FNV-1a) of a byte string, for golden outputs.
uint64_t fnv1a(const std::vector<uint8_t> &bytes);

}  // namespace test_support

#endif
