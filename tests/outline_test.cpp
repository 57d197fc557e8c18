// The outline's widening against the scan it replaced, which asked every
// edge pixel's whole reach: on real text at widths from half a pixel to 40,
// with glyphs overlapping and with the outline cut by the picture's edges,
// the two agree within antialiasing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>

#include "drawing/outline.h"
#include "quendal_imgtext.h"

using namespace imgtext;

namespace {

// The scan, kept as the reference: each pixel takes the most r + m(q) -
// |p - q| over the sources q in reach, clamped to 0..1. A fully covered
// source with four fully covered neighbours is skipped (a neighbour nearer
// to any target gives more).
void scan_widen(const plane<float> &mask, float r, plane<float> &out) {
    const int reach = outline_reach(r);
    auto full = [&](int64_t x, int64_t y) { return mask.get(x, y) >= 1.0f; };
    const area sources = intersect(mask.at, expand(out.at, reach));
    for (int64_t qy = sources.y0; qy < sources.y1; ++qy)
        for (int64_t qx = sources.x0; qx < sources.x1; ++qx) {
            const float m = mask.get(qx, qy);
            if (m <= 0.0f) continue;
            if (out.at.contains(qx, qy)) {
                float &own = out.row(qy)[qx - out.at.x0];
                own = std::max(own, std::min(1.0f, r + m));
            }
            if (m >= 1.0f && full(qx - 1, qy) && full(qx + 1, qy) && full(qx, qy - 1) && full(qx, qy + 1)) continue;
            const area in_reach = intersect(expand(area{qx, qy, qx + 1, qy + 1}, reach), out.at);
            for (int64_t py = in_reach.y0; py < in_reach.y1; ++py)
                for (int64_t px = in_reach.x0; px < in_reach.x1; ++px) {
                    const int64_t dx = px - qx, dy = py - qy;
                    const float c = r + m - std::sqrt(static_cast<float>(dx * dx + dy * dy));
                    float &target = out.row(py)[px - out.at.x0];
                    if (c > target) target = c < 1.0f ? c : 1.0f;
                }
        }
}

struct text_case {
    const char *name, *text;
    float size, line_spacing;
    int width, height;  // the picture the text is drawn on, at its top-left corner
};

const text_case k_texts[] = {
    {"Words", "Wave the flag", 40, 1, 240, 50},
    {"Overlapping", "AVA\nWWW", 40, 0.4f, 100, 60},  // lines 0.4 of a line apart
    {"Small", "quick brown fox, jumps: 0123", 13, 1, 180, 18},
    {"Large", "S&@%gQ", 90, 1, 330, 100},
    {"Tiny", "Nine pixels: 1234567890 abcdefghijklmnopqrstuvwxyz", 9, 1, 230, 12},
};

// The text's coverage as the drawing API draws it, white on black.
void text_mask(const text_case &t, plane<float> &mask) {
    imgtext_image *image = nullptr;
    ASSERT_EQ(imgtext_image_create(t.width, t.height, imgtext_color{0, 0, 0, 255}, &image), IMGTEXT_OK);
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.size = t.size, style.line_spacing = t.line_spacing, style.color = imgtext_color{255, 255, 255, 255};
    EXPECT_EQ(imgtext_draw_text(image, t.text, IMGTEXT_NUL_TERMINATED, 0, 0, IMGTEXT_TOP_LEFT, &style, nullptr),
              IMGTEXT_OK);
    ASSERT_TRUE(mask.allocate(area{0, 0, t.width, t.height}));
    for (int y = 0; y < t.height; ++y) {
        const uint8_t *row = imgtext_image_pixels(image) + imgtext_image_stride(image) * y;
        for (int x = 0; x < t.width; ++x) mask.row(y)[x] = static_cast<float>(row[x * 4]) / 255.0f;
    }
    imgtext_image_free(image);
}

int level(float coverage) { return static_cast<int>(coverage * 255.0f + 0.5f); }

using outline_case = std::tuple<text_case, float, bool>;  // the text, the width, cut by the picture's edges

class OutlineAgainstTheScan : public ::testing::TestWithParam<outline_case> {};

// Within antialiasing: pixels the scan made solid or left empty are the
// same, and of the partly covered ones at most one in a thousand differs,
// by at most two levels of 255. (On these texts, and on all widths up to
// 256, a handful of pixels differ by one level; the rest are identical.)
TEST_P(OutlineAgainstTheScan, AgreesWithinAntialiasing) {
    const auto &[text, width, cut] = GetParam();
    plane<float> mask;
    text_mask(text, mask);
    // Cut, the outline's area ends inside the glyphs on every side, as at a
    // picture's edges, while the mask goes on beyond it.
    const area whole = expand(mask.at, outline_reach(width));
    const area lands = cut ? area{text.width / 5, text.height / 3, text.width * 3 / 4, text.height * 2 / 3} : whole;
    plane<float> scanned, widened;
    ASSERT_TRUE(scanned.allocate(lands) && widened.allocate(lands));
    scan_widen(mask, width, scanned);
    ASSERT_TRUE(widen_coverage(mask, width, widened));

    long partial = 0, differing = 0;
    int largest = 0;
    for (uint64_t i = 0; i < lands.pixels(); ++i) {
        const int want = level(scanned.v[i]), got = level(widened.v[i]);
        if (want == 0 || want == 255) {
            ASSERT_EQ(got, want) << "pixel " << i % lands.width() << "," << i / lands.width();
            continue;
        }
        ++partial;
        differing += got != want;
        largest = std::max(largest, std::abs(got - want));
    }
    EXPECT_TRUE(cut || partial > 20);  // there is an edge to compare (a cut may fall where it is solid)
    EXPECT_LE(largest, 2);
    EXPECT_LE(differing * 1000, partial);
}

INSTANTIATE_TEST_SUITE_P(Texts, OutlineAgainstTheScan,
                         ::testing::Combine(::testing::ValuesIn(k_texts),
                                            ::testing::Values(0.5f, 1.5f, 3.0f, 8.0f, 40.0f), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<outline_case> &info) {
                             const float width = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::to_string(static_cast<int>(width)) + "_" +
                                    std::to_string(static_cast<int>(width * 10) % 10) +
                                    (std::get<2>(info.param) ? "_Cut" : "");
                         });

}  // namespace
