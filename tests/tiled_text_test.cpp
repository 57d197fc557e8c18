// Tiled text through the drawing API: a grid turned with the text, rows
// shifted by the row offset, and the limits on steps and overlap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "api_support.h"
#include "quendal_imgtext.h"

using test_support::style_of;

namespace {

constexpr int k_w = 400, k_h = 240;

struct picture {
    std::vector<uint8_t> rgba;
    imgtext_status status = IMGTEXT_OK;
    const uint8_t *at(int x, int y) const { return rgba.data() + (static_cast<size_t>(y) * k_w + x) * 4; }
    bool same(int x0, int y0, int x1, int y1) const {
        for (int c = 0; c < 4; ++c)
            if (at(x0, y0)[c] != at(x1, y1)[c]) return false;
        return true;
    }
};

picture draw(const imgtext_text_style &style, const char *text = "Tiles") {
    picture p;
    imgtext_image *image = nullptr;
    EXPECT_EQ(imgtext_image_create(k_w, k_h, imgtext_color{20, 40, 60, 255}, &image), IMGTEXT_OK);
    p.status = imgtext_draw_text(image, text, IMGTEXT_NUL_TERMINATED, 200, 120, IMGTEXT_CENTER, &style, nullptr);
    p.rgba = test_support::pixels_of(image).pixels;
    imgtext_image_free(image);
    return p;
}

imgtext_text_style tiled(float rotation, int step_x, int step_y, int row_offset) {
    imgtext_text_style style = style_of(20);
    style.rotation = rotation;
    style.tile = 1, style.tile_step_x = step_x, style.tile_step_y = step_y, style.tile_row_offset = row_offset;
    style.shadow = 1;
    return style;
}

// True if the picture repeats with period (dx, dy) everywhere both pixels are on it.
bool periodic(const picture &p, int dx, int dy) {
    for (int y = 0; y < k_h; ++y) {
        for (int x = 0; x < k_w; ++x) {
            const int x1 = x + dx, y1 = y + dy;
            if (x1 >= 0 && x1 < k_w && y1 >= 0 && y1 < k_h && !p.same(x, y, x1, y1)) return false;
        }
    }
    return true;
}

TEST(TiledText, GridRepeatsWithItsStepsAndRowOffset) {
    const picture plain = draw(tiled(0, 100, 40, 0));
    ASSERT_EQ(plain.status, IMGTEXT_OK) << imgtext_error_message();
    EXPECT_TRUE(periodic(plain, 100, 0));
    EXPECT_TRUE(periodic(plain, 0, 40));
    EXPECT_FALSE(periodic(plain, 50, 0));

    const picture brick = draw(tiled(0, 100, 40, 50));
    EXPECT_TRUE(periodic(brick, 50, 40));
    EXPECT_TRUE(periodic(brick, 100, 0));
    EXPECT_FALSE(periodic(brick, 0, 40));

    // A quarter turn turns the grid: along the lines is up the picture.
    const picture turned = draw(tiled(90, 100, 40, 0));
    EXPECT_TRUE(periodic(turned, 0, -100));
    EXPECT_TRUE(periodic(turned, 40, 0));
    EXPECT_FALSE(periodic(turned, 100, 0));
}

// With steps beyond the picture only the placed tile shows: the text as
// drawn turned on its own, within the rounding of compositing it twice.
TEST(TiledText, PlacedTileIsTheTurnedText) {
    imgtext_text_style alone = style_of(20);
    alone.rotation = 30, alone.shadow = 1, alone.box = 1, alone.padding = 4;
    alone.box_color = imgtext_color{200, 0, 0, 128};
    imgtext_text_style one = alone;
    one.tile = 1, one.tile_step_x = 2000, one.tile_step_y = 2000;
    const picture a = draw(alone), b = draw(one);
    ASSERT_EQ(b.status, IMGTEXT_OK) << imgtext_error_message();
    int worst = 0;
    for (size_t i = 0; i < a.rgba.size(); ++i) worst = std::max(worst, std::abs(a.rgba[i] - b.rgba[i]));
    EXPECT_LE(worst, 2);
    EXPECT_NE(a.rgba, draw(style_of(20)).rgba);
}

TEST(TiledText, StepsAndOverlapAreBounded) {
    for (const int step : {1, QUENDAL_IMGTEXT_MIN_TILE_STEP - 1, QUENDAL_IMGTEXT_MAX_TILE_STEP + 1, -8}) {
        EXPECT_EQ(draw(tiled(0, step, 40, 0)).status, IMGTEXT_ERROR_ARGUMENT) << step;
        EXPECT_EQ(draw(tiled(0, 40, step, 0)).status, IMGTEXT_ERROR_ARGUMENT) << step;
    }
    EXPECT_EQ(draw(tiled(0, 40, 40, QUENDAL_IMGTEXT_MAX_TILE_STEP + 1)).status, IMGTEXT_ERROR_ARGUMENT);
    // A large text a few pixels apart would composite each pixel thousands of times.
    imgtext_text_style dense = tiled(45, QUENDAL_IMGTEXT_MIN_TILE_STEP, QUENDAL_IMGTEXT_MIN_TILE_STEP, 0);
    dense.size = 120;
    EXPECT_EQ(draw(dense).status, IMGTEXT_ERROR_LIMIT);
    // ... and so would a tile larger than any picture.
    imgtext_text_style huge = tiled(0, 0, 0, 0);
    huge.size = 20000;
    EXPECT_EQ(draw(huge, "MMMM").status, IMGTEXT_ERROR_LIMIT);
}

}  // namespace
