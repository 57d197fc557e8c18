// Recorded digests of the exact bytes a fixed set of calls writes. Every
// build configuration (-O0, -O3 -march=native, sanitizers, clang, Windows)
// must reproduce them: output bytes are part of what callers rely on.
// Set IMGTEXT_PRINT_DIGESTS=1 to print the current digests, after checking
// by other means that a change of output is intended.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "api_support.h"
#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::scratch_dir;

namespace {

struct golden_case {
    const char *name;  // also the output file name, so it picks the format
    uint64_t digest;
    std::function<int(const std::string &in, const std::string &out)> call;
};

const char *const k_lines = "Quendal\nAV To Wo\nr\tl\xE9!";

const golden_case k_cases[] = {
    {"create-7.png", 0x1285cbfd9fe19944,
     [](auto &, auto &o) { return imgtext_create(o.c_str(), k_lines, 60, 40, 7, 255, 255, 255, 0, 0, 0); }},
    {"create-13.png", 0x146c0197ffd4cfcb,
     [](auto &, auto &o) { return imgtext_create(o.c_str(), k_lines, 90, 60, 13, 250, 200, 10, 20, 30, 40); }},
    {"create-24.bmp", 0xe4fe03e8ead9b2a3,
     [](auto &, auto &o) { return imgtext_create(o.c_str(), k_lines, 160, 90, 24, 0, 0, 0, 255, 255, 255); }},
    {"create-48.jpg", 0xdf2f4bf9b5387919,
     [](auto &, auto &o) { return imgtext_create(o.c_str(), k_lines, 301, 171, 48, 255, 80, 0, 10, 20, 90); }},
    {"create-wide.png", 0x540e0f2b5eacc2fb,
     [](auto &, auto &o) { return imgtext_create(o.c_str(), "Hello World", 50, 17, 0, 255, 255, 255, 0, 0, 0); }},
    {"add-03.png", 0x9eb9287d521a95aa,
     [](auto &i, auto &o) { return imgtext_add(i.c_str(), o.c_str(), k_lines, 3, 5, 24, 255, 255, 255, 0.3f); }},
    {"add-08.jpg", 0xec87bea37aa7ec1d,
     [](auto &i, auto &o) { return imgtext_add(i.c_str(), o.c_str(), k_lines, -7, 11, 31, 0, 0, 255, 0.8f); }},
    {"add-1.bmp", 0xf43b89f82d10bbbf,
     [](auto &i, auto &o) { return imgtext_add(i.c_str(), o.c_str(), k_lines, 40, -9, 40, 10, 240, 30, 1.0f); }},
    {"boxed.png", 0xf874f1d104dbad07,
     [](auto &i, auto &o) {
         return imgtext_add_boxed(i.c_str(), o.c_str(), k_lines, 4, 6, 17, 255, 255, 0, 20, 20, 60, 6);
     }},
    {"boxed.jpg", 0x6c804166393218f5,
     [](auto &i, auto &o) {
         return imgtext_add_boxed(i.c_str(), o.c_str(), "Boxed", -3, 100, 64, 0, 0, 0, 255, 255, 255, -2);
     }},
    {"centered.png", 0x4538e10c5a543983,
     [](auto &i, auto &o) { return imgtext_centered(i.c_str(), o.c_str(), k_lines, 23, 255, 0, 128); }},
    {"centered-big.bmp", 0xdcd1b67884d8fc98,
     [](auto &i, auto &o) { return imgtext_centered(i.c_str(), o.c_str(), "Clipped\nall round", 90, 255, 255, 255); }},
};

TEST(GoldenOutput, EveryCallWritesTheRecordedBytes) {
    scratch_dir dir;
    const std::string input = dir.path("input.png");
    test_support::rgba picture = test_support::pattern(173, 131);
    for (int y = 0; y < 40; ++y)  // a half-transparent band exercises alpha blending
        for (int x = 0; x < picture.width; ++x) picture.at(x, y)[3] = static_cast<uint8_t>(x + y);
    test_support::write_png(input, picture);

    const bool print = std::getenv("IMGTEXT_PRINT_DIGESTS") != nullptr;
    for (const golden_case &c : k_cases) {
        const std::string out = dir.path(c.name);
        ASSERT_EQ(c.call(input, out), 1) << c.name << ": " << imgtext_last_error();
        const uint64_t digest = test_support::fnv1a(test_support::read_bytes(out));
        if (print) std::printf("    %-18s 0x%016" PRIx64 "\n", c.name, digest);
        EXPECT_EQ(digest, c.digest) << c.name;
    }
}

// The outline (with a shadow falling from it) through the drawing API, at
// widths read directly round each pixel (1) and through the distance
// transforms (the rest), on text whose lines overlap and which the
// picture's edges cut.
TEST(GoldenOutput, OutlinesDrawTheRecordedPixels) {
    const struct {
        float stroke;
        uint64_t digest;
    } cases[] = {{1.0f, 0xd033a3685687a67d},
                 {2.5f, 0x47381ff1cee51e23},
                 {8.0f, 0x2c0a2172e62f13e3},
                 {40.0f, 0x140a7d8c1634ab37},
                 {256.0f, 0x96746820e0ede59b}};
    const bool print = std::getenv("IMGTEXT_PRINT_DIGESTS") != nullptr;
    for (const auto &c : cases) {
        test_support::image_handle picture;
        ASSERT_EQ(imgtext_image_create(220, 120, imgtext_color{30, 60, 90, 255}, &picture.p), IMGTEXT_OK);
        imgtext_text_style style = test_support::style_of(48);
        style.line_spacing = 0.4f, style.color = imgtext_color{250, 240, 200, 200};
        style.stroke_width = c.stroke, style.stroke_color = imgtext_color{200, 20, 60, 160};
        style.shadow = 1, style.shadow_dx = 6, style.shadow_dy = 5, style.shadow_blur = 2.5f;
        style.shadow_color = imgtext_color{0, 0, 0, 180};
        ASSERT_EQ(imgtext_draw_text(picture.p, "AVA\nWWW", IMGTEXT_NUL_TERMINATED, -12, 45, IMGTEXT_TOP_LEFT, &style,
                                    nullptr),
                  IMGTEXT_OK);
        const uint64_t digest = test_support::fnv1a(test_support::pixels_of(picture.p).pixels);
        if (print) std::printf("    stroke %-6g 0x%016" PRIx64 "\n", static_cast<double>(c.stroke), digest);
        EXPECT_EQ(digest, c.digest) << c.stroke;
    }
}

// Shaped text in the built-in font (HarfBuzz's ligatures and GPOS kerning,
// fractional advances), and the same forced right to left (reordered runs,
// mirrored brackets): the bytes every build and the DLL must agree on.
TEST(GoldenOutput, ShapedTextDrawsTheRecordedPixels) {
    const struct {
        int direction;
        uint64_t digest;
    } cases[] = {{IMGTEXT_DIRECTION_LTR, 0x91ab185dbe245f4c}, {IMGTEXT_DIRECTION_RTL, 0xc3c06760c14e960c}};
    const bool print = std::getenv("IMGTEXT_PRINT_DIGESTS") != nullptr;
    for (const auto &c : cases) {
        test_support::image_handle picture;
        ASSERT_EQ(imgtext_image_create(260, 90, imgtext_color{250, 250, 245, 255}, &picture.p), IMGTEXT_OK);
        imgtext_text_style style = test_support::style_of(27);
        style.color = imgtext_color{20, 30, 60, 230};
        style.layout = IMGTEXT_LAYOUT_SHAPED, style.direction = c.direction, style.align = IMGTEXT_ALIGN_START;
        ASSERT_EQ(imgtext_draw_text(picture.p, "office AV To (fluffy) 123\nWa fi [1, 2]", IMGTEXT_NUL_TERMINATED, 5, 8,
                                    IMGTEXT_TOP_LEFT, &style, nullptr),
                  IMGTEXT_OK);
        const uint64_t digest = test_support::fnv1a(test_support::pixels_of(picture.p).pixels);
        if (print) std::printf("    direction %d 0x%016" PRIx64 "\n", c.direction, digest);
        EXPECT_EQ(digest, c.digest) << c.direction;
    }
}

}  // namespace
