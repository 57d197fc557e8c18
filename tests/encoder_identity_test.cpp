// The library's own PNG and JPEG encoders against stb_image_write, byte for byte, on a
// corpus of generated pictures of every kind the library writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "font.h"
#include "jpeg_encoder.h"
#include "png_encoder.h"
#include "test_support.h"
#include "text.h"

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

std::vector<uint8_t> our_jpg(const rgba &image, int quality) {
    std::vector<uint8_t> out;
    EXPECT_EQ(imgtext::encode_jpeg(image.pixels.data(), image.width, image.height, quality, append, &out), 1);
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
        EXPECT_TRUE(imgtext::s_font_ready || imgtext::ensure_font_ready());
        imgtext::text_layout layout{};
        EXPECT_EQ(imgtext::measure_text_box("Quendal AV To\nWorld 1234", 18, &layout), 1);
        imgtext::render_text_lines(imgtext::rgba_image{w, h, img.pixels.data()}, layout, 2, 1, 18, 250, 240, 200,
                                   1.0f, false);
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

TEST_P(JpegIdentity, SameBytesAsTheReferenceEncoderAtEveryQualityAbove90) {
    const corpus_case c = GetParam();
    const rgba image = make(c.k, c.w, c.h, static_cast<uint32_t>(c.w * 104729 + c.h));
    for (int quality : {92, 91, 100}) {
        const std::vector<uint8_t> ours = our_jpg(image, quality), reference = test_support::reference_jpg(image, quality);
        ASSERT_EQ(ours.size(), reference.size()) << "quality " << quality;
        EXPECT_TRUE(ours == reference) << "quality " << quality;
    }
}

std::vector<corpus_case> corpus() {
    std::vector<corpus_case> cases;
    const std::pair<int, int> sizes[] = {{1, 1},  {2, 1},   {1, 3},   {3, 2},   {7, 5},    {16, 16},
                                         {33, 17}, {64, 1}, {1, 200}, {101, 77}, {640, 360}, {2000, 24}};
    for (kind k : {kind::photo, kind::flat, kind::noise, kind::alpha, kind::text})
        for (auto [w, h] : sizes) cases.push_back({k, w, h});
    cases.push_back({kind::photo, 1000, 1000});
    cases.push_back({kind::flat, 2000, 2000});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Corpus, PngIdentity, ::testing::ValuesIn(corpus()));
INSTANTIATE_TEST_SUITE_P(Corpus, JpegIdentity, ::testing::ValuesIn(corpus()));

}  // namespace
