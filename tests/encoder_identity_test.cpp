// The library's own PNG and JPEG encoders against stb_image_write, byte for byte, on a
// corpus of generated pictures of every kind the library writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "codecs/jpeg_encoder.h"
#include "codecs/png_deflate.h"
#include "codecs/png_encoder.h"
#include "engine_support.h"
#include "font/font.h"
#include "test_support.h"
#include "text/layout.h"

using test_support::rgba;

namespace {

void append(void *context, const void *data, size_t size) {
    auto *bytes = static_cast<std::vector<uint8_t> *>(context);
    bytes->insert(bytes->end(), static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + size);
}

std::vector<uint8_t> our_png(const rgba &image, imgtext::match_search search) {
    std::vector<uint8_t> out;
    EXPECT_EQ(imgtext::encode_png(image.pixels.data(), image.width, image.height, append, &out, search), 1);
    return out;
}

std::vector<uint8_t> our_jpg(const rgba &image, int quality,
                             imgtext::jpeg_kernel kernel = imgtext::jpeg_kernel::automatic) {
    std::vector<uint8_t> out;
    EXPECT_EQ(imgtext::encode_jpeg(image.pixels.data(), image.width, image.height, static_cast<size_t>(image.width) * 4,
                                   quality, append, &out, kernel),
              1);
    return out;
}

struct lcg {
    uint32_t state;
    uint8_t next() { return static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24); }
};

enum class kind { photo, flat, noise, alpha, text };

rgba make(kind k, int w, int h, uint32_t seed) {
    rgba img = test_support::solid(w, h, 0, 0, 0, 255);
    lcg random{seed};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t *p = img.at(x, y);
            switch (k) {
                case kind::photo:  // smooth gradients with sensor-like noise
                    p[0] = static_cast<uint8_t>(x * 200 / w + (random.next() & 7));
                    p[1] = static_cast<uint8_t>(y * 180 / h + (random.next() & 7));
                    p[2] = static_cast<uint8_t>((x + y) * 100 / (w + h) + (random.next() & 15));
                    break;
                case kind::flat:  // large runs, as in cards and diagrams
                    p[0] = (x / 37 + y / 23) % 2 ? 250 : 20;
                    p[1] = x < w / 3 ? 40 : 200;
                    p[2] = 90;
                    break;
                case kind::noise:
                    p[0] = random.next(), p[1] = random.next(), p[2] = random.next(), p[3] = random.next();
                    break;
                case kind::alpha:  // transparent, half and opaque regions
                    p[0] = static_cast<uint8_t>(x * 3), p[1] = 128, p[2] = static_cast<uint8_t>(y * 5);
                    p[3] = x < w / 3 ? 0 : x < 2 * w / 3 ? static_cast<uint8_t>(random.next() | 1) : 255;
                    break;
                case kind::text: p[0] = p[1] = p[2] = 30; break;
            }
        }
    }
    if (k == kind::text) {
        EXPECT_TRUE(imgtext::builtin_font_ready());
        imgtext::text_layout layout{};
        EXPECT_EQ(imgtext::measure_text_box("Quendal AV To\nWorld 1234", 18, &layout), 1);
        imgtext::render_text_lines(imgtext::rgba_image{w, h, img.pixels.data()}, layout, 2, 1, 250, 240, 200, 1.0f,
                                   false);
        imgtext::free_text_layout(&layout);
    }
    return img;
}

struct corpus_case {
    kind k;
    int w, h;
};

class PngIdentity : public ::testing::TestWithParam<corpus_case> {};

// Both match searches: the vector one where this processor has it (the
// automatic choice), and the portable one every processor runs.
TEST_P(PngIdentity, SameBytesAsTheReferenceEncoder) {
    const corpus_case c = GetParam();
    const rgba image = make(c.k, c.w, c.h, static_cast<uint32_t>(c.w * 7919 + c.h));
    const std::vector<uint8_t> reference = test_support::reference_png(image);
    for (auto search : {imgtext::match_search::automatic, imgtext::match_search::portable}) {
        const std::vector<uint8_t> ours = our_png(image, search);
        ASSERT_EQ(ours.size(), reference.size()) << "search " << static_cast<int>(search);
        EXPECT_TRUE(ours == reference) << "search " << static_cast<int>(search);
    }
}

class JpegIdentity : public ::testing::TestWithParam<corpus_case> {};

// Both sides of the subsampling switch (90 and below: 2 x 2 chroma), the
// extremes, and the library's own 92; both compilations of the transform.
TEST_P(JpegIdentity, SameBytesAsTheReferenceEncoder) {
    const corpus_case c = GetParam();
    const rgba image = make(c.k, c.w, c.h, static_cast<uint32_t>(c.w * 104729 + c.h));
    for (int quality : {92, 91, 100, 90, 75, 50, 1}) {
        const std::vector<uint8_t> reference = test_support::reference_jpg(image, quality);
        for (auto kernel : {imgtext::jpeg_kernel::automatic, imgtext::jpeg_kernel::portable}) {
            const std::vector<uint8_t> ours = our_jpg(image, quality, kernel);
            ASSERT_EQ(ours.size(), reference.size())
                << "quality " << quality << ", kernel " << static_cast<int>(kernel);
            EXPECT_TRUE(ours == reference) << "quality " << quality << ", kernel " << static_cast<int>(kernel);
        }
    }
}

TEST(JpegIdentityQualities, EveryQualityOnOddSizes) {
    for (auto [w, h] : {std::pair{37, 21}, std::pair{16, 16}, std::pair{129, 3}}) {
        const rgba image = make(kind::photo, w, h, static_cast<uint32_t>(w + h));
        for (int quality = 1; quality <= 100; ++quality)
            EXPECT_TRUE(our_jpg(image, quality) == test_support::reference_jpg(image, quality))
                << w << "x" << h << " quality " << quality;
    }
}

// Rows further apart than width * 4: the padding must never be read as pixels.
TEST(JpegIdentityQualities, PaddedRowsGiveTheSameBytes) {
    const rgba image = make(kind::noise, 45, 19, 77);
    for (size_t pad : {size_t{4}, size_t{3}, size_t{64}}) {
        const size_t stride = static_cast<size_t>(image.width) * 4 + pad;
        std::vector<uint8_t> padded(stride * static_cast<size_t>(image.height), 0xA5);
        for (int y = 0; y < image.height; ++y)
            std::copy(image.at(0, y), image.at(0, y) + image.width * 4, &padded[stride * static_cast<size_t>(y)]);
        for (int quality : {92, 90, 30}) {
            std::vector<uint8_t> ours;
            imgtext::encode_jpeg(padded.data(), image.width, image.height, stride, quality, append, &ours);
            EXPECT_TRUE(ours == test_support::reference_jpg(image, quality)) << "pad " << pad << " quality " << quality;
        }
    }
}

std::vector<corpus_case> corpus() {
    std::vector<corpus_case> cases;
    const std::pair<int, int> sizes[] = {{1, 1},   {2, 1},  {1, 3},   {3, 2},    {7, 5},     {16, 16},
                                         {33, 17}, {64, 1}, {1, 200}, {101, 77}, {640, 360}, {2000, 24}};
    for (kind k : {kind::photo, kind::flat, kind::noise, kind::alpha, kind::text})
        for (auto [w, h] : sizes) cases.push_back({k, w, h});
    cases.push_back({kind::photo, 1000, 1000});
    cases.push_back({kind::flat, 2000, 2000});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Corpus, PngIdentity, ::testing::ValuesIn(corpus()));
INSTANTIATE_TEST_SUITE_P(Corpus, JpegIdentity, ::testing::ValuesIn(corpus()));

// The deflate stream alone against stb's, on bytes built to reach the corners
// of the match search that pictures reach only by chance: the edges of the
// window for the search and for the lazy check, full and trimmed buckets,
// runs, matches longer than a word or than the longest code, and the end.
void expect_same_deflate(const std::vector<uint8_t> &bytes, const std::string &what) {
    const std::vector<uint8_t> reference = test_support::reference_zlib(bytes);
    for (auto search : {imgtext::match_search::automatic, imgtext::match_search::portable}) {
        imgtext::byte_buffer out;
        ASSERT_TRUE(imgtext::zlib_compress(bytes.data(), static_cast<int>(bytes.size()), out, search));
        const std::vector<uint8_t> ours(out.data(), out.data() + out.size());
        EXPECT_TRUE(ours == reference) << what << ", search " << static_cast<int>(search);
    }
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed, int alphabet = 256) {
    std::vector<uint8_t> bytes(n);
    lcg random{seed};
    for (auto &b : bytes) b = static_cast<uint8_t>(random.next() % alphabet);
    return bytes;
}

TEST(DeflateIdentity, LazyMatchAtTheEdgeOfTheWindow) {
    // At i a 3-byte match 100 back; at i + 1 a 12-byte phrase whose earlier
    // copy is `distance` back. The lazy check may see it only up to 32767.
    // Bytes below 128 and a run at the end keep the stream compressed (not
    // stored), so every decision shows in the output.
    for (int distance = 32760; distance <= 32770; ++distance) {
        std::vector<uint8_t> bytes =
            random_bytes(static_cast<size_t>(distance) + 300, static_cast<uint32_t>(distance), 128);
        bytes.resize(bytes.size() + 4000, 0);
        const size_t phrase = 50, i = phrase + static_cast<size_t>(distance) - 1;
        std::copy(bytes.begin() + phrase, bytes.begin() + phrase + 12, bytes.begin() + i + 1);
        std::copy(bytes.begin() + i, bytes.begin() + i + 3, bytes.begin() + i - 100);
        expect_same_deflate(bytes, "distance " + std::to_string(distance));
    }
}

TEST(DeflateIdentity, ShortMatchesFillAndTrimBuckets) {
    for (int alphabet : {4, 12, 40})
        expect_same_deflate(random_bytes(200000, 7u * alphabet, alphabet), "alphabet " + std::to_string(alphabet));
}

TEST(DeflateIdentity, RunsAndRepeatsOfEveryReach) {
    std::vector<uint8_t> runs;
    lcg random{99};
    while (runs.size() < 120000)
        runs.insert(runs.end(), 1 + random.next() % 200 + (random.next() & 1) * 100, random.next());
    expect_same_deflate(runs, "runs");
    for (size_t period : {3, 7, 8, 9, 16, 257, 259, 300, 30000}) {
        const std::vector<uint8_t> unit = random_bytes(period, static_cast<uint32_t>(period));
        std::vector<uint8_t> bytes;
        while (bytes.size() < 90000) bytes.insert(bytes.end(), unit.begin(), unit.end());
        bytes[bytes.size() / 2] ^= 0x5A;  // one break in the repetition
        expect_same_deflate(bytes, "period " + std::to_string(period));
    }
}

TEST(DeflateIdentity, EveryShortLengthAndEnding) {
    for (size_t n = 0; n <= 64; ++n) {
        expect_same_deflate(random_bytes(n, static_cast<uint32_t>(n), 3), "length " + std::to_string(n));
        std::vector<uint8_t> tail = random_bytes(4000 + n, 5, 6);  // matches run into the last bytes
        expect_same_deflate(tail, "tail " + std::to_string(n));
    }
}

}  // namespace
