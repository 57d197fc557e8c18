// The own JPEG decoder against stb_image, as the library builds it: the same
// pixels, or the same failure and reason, on generated files of every kind
// the decoder takes and on every damaged form of some of them.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "codecs/jpeg/jpeg_decoder.h"
#include "reference_jpeg.h"
#include "test_jpeg_writer.h"
#include "test_support.h"

using test_support::decoded_picture;

namespace {

decoded_picture ours(const std::vector<uint8_t> &file, imgtext::jpeg_decode_kernel kernel, int threads, bool *handled) {
    decoded_picture result;
    int w = 0, h = 0;
    unsigned char *pixels = nullptr;
    const char *reason = nullptr;
    const auto r = imgtext::decode_jpeg_rgba(file.data(), static_cast<int>(file.size()), &w, &h, &pixels, &reason,
                                             kernel, threads);
    *handled = r != imgtext::jpeg_decode_result::not_handled;
    if (r == imgtext::jpeg_decode_result::decoded) {
        result.ok = true;
        result.width = w, result.height = h;
        result.pixels.assign(pixels, pixels + static_cast<size_t>(w) * h * 4);
        std::free(pixels);
    } else if (r == imgtext::jpeg_decode_result::failed) {
        result.reason = reason;
    }
    return result;
}

// Compares each form of the kernels, and the widest on two threads, with the
// reference; returns how many handled the file.
int expect_same(const std::vector<uint8_t> &file, const std::string &what) {
    const decoded_picture reference = test_support::reference_decode(file.data(), file.size());
    int handled_count = 0;
    for (auto [kernel, threads] : test_support::k_decoder_forms) {
        bool handled = false;
        const decoded_picture own = ours(file, kernel, threads, &handled);
        if (!handled) continue;
        ++handled_count;
        EXPECT_EQ(own.ok, reference.ok) << what << " (" << reference.reason << " / " << own.reason << ")";
        EXPECT_EQ(own.reason, reference.reason) << what;
        EXPECT_EQ(std::pair(own.width, own.height), std::pair(reference.width, reference.height)) << what;
        EXPECT_TRUE(own.pixels == reference.pixels)
            << what << " kernel " << static_cast<int>(kernel) << " threads " << threads;
    }
    return handled_count;
}

// How many forms take a valid file of a layout the decoder knows: all four
// where it runs at all.
int forms() {
    return imgtext::jpeg_decoder_available() ? static_cast<int>(std::size(test_support::k_decoder_forms)) : 0;
}

// The pattern with pseudo-random noise of 32 - shift bits added to each
// byte, after dividing it by `divisor`.
test_support::rgba noisy(int w, int h, uint32_t seed, int divisor, int shift) {
    test_support::rgba image = test_support::pattern(w, h);
    uint32_t state = seed;
    for (auto &b : image.pixels)
        b = static_cast<uint8_t>(b / divisor + ((state = state * 1103515245u + 12345u) >> shift));
    return image;
}

TEST(JpegDecoder, StbWrittenFilesAtEverySize) {
    for (int quality : {95, 60}) {
        for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 3}, std::pair{8, 8}, std::pair{17, 9}, std::pair{16, 32},
                            std::pair{33, 47}, std::pair{255, 3}, std::pair{640, 480}}) {
            const std::string what = std::to_string(w) + "x" + std::to_string(h) + " q" + std::to_string(quality);
            const uint32_t seed = static_cast<uint32_t>(w * h);
            EXPECT_EQ(expect_same(test_support::reference_jpg(noisy(w, h, seed, 1, 28), quality), what), forms())
                << what;
        }
    }
}

test_support::rgba photo(int w, int h, uint32_t seed) { return noisy(w, h, seed, 2, 26); }

struct variant {
    const char *name;
    test_support::jpeg_options options;
};

// Every layout the decoder takes: grey and YCbCr, each sampling, baseline
// and two progressive scripts, with and without restart intervals.
std::vector<variant> variants() {
    std::vector<variant> out;
    const int samplings[][2] = {{1, 1}, {2, 1}, {2, 2}, {1, 2}};
    for (int progressive = 0; progressive < 4; ++progressive)
        for (int restart : {0, 1, 3})
            for (int s = 0; s <= 4; ++s) {  // YCbCr in each sampling, then grey
                test_support::jpeg_options o;
                o.components = s < 4 ? 3 : 1;
                if (s < 4)
                    o.sampling[0][0] = samplings[s][0], o.sampling[0][1] = samplings[s][1], o.quality = 40 + 20 * s;
                o.restart_interval = restart;
                o.progressive = progressive > 0;
                if (progressive) o.scans = test_support::progressive_script(o.components, progressive - 1);
                out.push_back({s < 4 ? "ycbcr" : "grey", o});
            }
    // chroma at twice the luma's resolution, and a grey component marked 2 x 2
    test_support::jpeg_options odd;
    odd.sampling[1][0] = odd.sampling[1][1] = 2;
    out.push_back({"fine chroma", odd});
    test_support::jpeg_options grey22;
    grey22.components = 1, grey22.sampling[0][0] = grey22.sampling[0][1] = 2;
    out.push_back({"grey 2x2", grey22});
    return out;
}

std::string describe(const variant &v, int w, int h) {
    const auto &o = v.options;
    return std::string(v.name) + " " + std::to_string(w) + "x" + std::to_string(h) + " sampling " +
           std::to_string(o.sampling[0][0]) + "x" + std::to_string(o.sampling[0][1]) + " restart " +
           std::to_string(o.restart_interval) + (o.progressive ? " progressive" : " baseline") + " scans " +
           std::to_string(o.scans.size());
}

TEST(JpegDecoder, GeneratedFilesOfEveryLayoutAndOddSizes) {
    for (const variant &v : variants())
        for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 5}, std::pair{17, 9}, std::pair{33, 47}, std::pair{64, 16}}) {
            const std::vector<uint8_t> file =
                test_support::write_test_jpeg(photo(w, h, static_cast<uint32_t>(w * h)), v.options);
            const std::string what = describe(v, w, h);
            EXPECT_EQ(expect_same(file, what), forms()) << what;
        }
}

// Blocks of one colour carry their DC alone. Every level is there, and at
// the lowest quality the DC's rounding overshoots black and white, where
// the transform's result is clamped.
TEST(JpegDecoder, FlatBlocksOfEveryLevel) {
    test_support::rgba image{256, 64, std::vector<uint8_t>(256 * 64 * 4, 255)};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x)
            for (int c = 0; c < 3; ++c) image.at(x, y)[c] = static_cast<uint8_t>(x / 8 + 32 * (y / 8));
    for (int quality : {1, 10, 100})
        for (int components : {1, 3}) {
            test_support::jpeg_options o;
            o.quality = quality, o.components = components;
            const std::string what =
                "quality " + std::to_string(quality) + ", components " + std::to_string(components);
            EXPECT_EQ(expect_same(test_support::write_test_jpeg(image, o), what), forms()) << what;
        }
}

// So wide that only two rows of blocks fit between the two threads: the
// reading side waits for the pixel side again and again, and neither may
// touch a row the other still has.
TEST(JpegDecoder, WidePictureWithTwoRowsInFlight) {
    const std::vector<uint8_t> file = test_support::reference_jpg(test_support::pattern(24000, 128), 50);
    EXPECT_EQ(expect_same(file, "24000x128"), forms());
}

// A damaged scan can name a component twice, so that two blocks land in one
// place: the later must win, also where only it has nothing but a DC value.
TEST(JpegDecoder, ScanNamingAComponentTwiceKeepsTheLaterBlock) {
    test_support::rgba image{16, 16, std::vector<uint8_t>(16 * 16 * 4, 255)};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {  // a blue-yellow check (Cb) of one Cr
            const int d = (x + y) % 2 ? 8 : -8;
            image.at(x, y)[0] = static_cast<uint8_t>(128 + d), image.at(x, y)[1] = 128;
            image.at(x, y)[2] = static_cast<uint8_t>(128 + d * 49 / 8);
        }
    std::vector<uint8_t> file = test_support::reference_jpg(image, 95);
    size_t sos = 0;
    while (!(file[sos] == 0xFF && file[sos + 1] == 0xDA)) ++sos;
    file[sos + 9] = 2;  // the third component's selector names the second
    EXPECT_EQ(expect_same(file, "Cr read as a second Cb"), forms());
}

// Every prefix of a file: the bytes after the end read as zeros, scans end
// early, progressive pictures without their end marker stay blank.
// Grey, 4:4:4 and 4:2:0 in each mode: the layouts damage is tried on.
bool representative(const variant &v) {
    const int sampling = v.options.sampling[0][0] * 2 + v.options.sampling[0][1];
    return v.options.components == 1 || sampling == 3 || sampling == 6;
}

// A decoded prefix is reported truncated unless it lacks only the end
// marker (and, for a progressive picture, not even that, since without it
// nothing is transformed); the two-thread form says the same.
void expect_truncation_reported(const std::vector<uint8_t> &prefix, size_t whole, bool progressive,
                                const std::string &what) {
    imgtext::jpeg_damage damage[2];
    for (int threads = 1; threads <= 2; ++threads) {
        int w = 0, h = 0;
        unsigned char *pixels = nullptr;
        const char *reason = nullptr;
        const auto r =
            imgtext::decode_jpeg_rgba(prefix.data(), static_cast<int>(prefix.size()), &w, &h, &pixels, &reason,
                                      imgtext::jpeg_decode_kernel::automatic, threads, &damage[threads - 1]);
        std::free(pixels);
        if (r != imgtext::jpeg_decode_result::decoded) return;
    }
    EXPECT_EQ(damage[0].from_row, damage[1].from_row) << what;
    const size_t missing = whole - prefix.size();
    if (missing > 3 || (progressive && missing > 0)) {
        EXPECT_TRUE(damage[0].truncated) << what;
    } else if (missing <= 2) {  // 3: perhaps only the stuffed zero after a last 0xFF
        EXPECT_FALSE(damage[0].truncated) << what;
    }
    if (damage[0].truncated && !progressive && damage[0].scans > 0) {
        EXPECT_GE(damage[0].from_row, 0) << what;
        EXPECT_LT(damage[0].from_row, 13) << what;
    }
}

TEST(JpegDecoder, TruncatedAtEveryLength) {
    for (const variant &v : variants()) {
        if (v.options.restart_interval == 3 || !representative(v)) continue;
        const std::vector<uint8_t> file = test_support::write_test_jpeg(photo(19, 13, 5), v.options);
        for (size_t length = 1; length <= file.size(); length += test_support::exhaustive_stride()) {
            const std::vector<uint8_t> prefix(file.begin(), file.begin() + static_cast<long>(length));
            const std::string what = describe(v, 19, 13) + " length " + std::to_string(length);
            if (length < file.size()) expect_same(prefix, what);
            expect_truncation_reported(prefix, file.size(), v.options.progressive, what);
        }
    }
}

// Each byte set to values that break headers, codes and markers.
TEST(JpegDecoder, CorruptedBytes) {
    for (const variant &v : variants()) {
        if (v.options.restart_interval != 1 || !representative(v)) continue;
        const std::vector<uint8_t> file = test_support::write_test_jpeg(photo(21, 18, 9), v.options);
        for (size_t at = 2; at < file.size(); at += test_support::exhaustive_stride()) {
            // a marker's lead-in, a flipped code, or a marker (restart, start, end)
            const uint8_t value = at % 3 == 0   ? 0xFF
                                  : at % 3 == 1 ? static_cast<uint8_t>(file[at] ^ 0x21)
                                                : static_cast<uint8_t>(0xD0 + at % 10);
            std::vector<uint8_t> damaged = file;
            damaged[at] = value;
            expect_same(damaged, describe(v, 21, 18) + " byte " + std::to_string(at) + " = " + std::to_string(value));
        }
    }
}

}  // namespace
