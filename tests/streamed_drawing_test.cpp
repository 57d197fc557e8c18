// Drawing on a JPEG as it streams must give the whole-picture path's bytes:
// every sampling and restart interval the decoder streams, both encoder
// MCU heights, texts, boxes and effects that cross band edges or leave the
// picture, and the inputs that must not stream at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "drawing/streamed.h"
#include "engine_support.h"
#include "image/image_io.h"
#include "support/test_jpeg_writer.h"
#include "test_support.h"

using namespace imgtext;
using test_support::jpeg_options;

namespace {

struct quality_choice {
    int quality;
};

bool choose_quality(void *context, const image_metadata *, encode_settings *settings) {
    settings->format = FMT_JPG;
    settings->jpeg_quality = static_cast<quality_choice *>(context)->quality;
    return true;
}

struct text_case {
    const char *name;
    const char *text;
    int size;
    int64_t x, y;
    bool box;
    float stroke;
    bool shadow;
};

text_request request_for(const text_case &c) {
    text_request r;
    r.layout = layout_request{c.text, std::strlen(c.text), text_encoding::bytes, pixel_size_face(c.size), 0};
    r.colour = paint{250, 40, 10, 0.8f};
    r.box = c.box;
    r.box_colour = imgtext_color{10, 20, 200, 160};
    r.padding = 5;
    r.effects.stroke_width = c.stroke;
    r.effects.shadow = c.shadow;
    r.effects.shadow_dx = 3, r.effects.shadow_dy = -7, r.effects.shadow_blur = 2.5f;
    return r;
}

// The whole-picture path: decode, draw each text, encode.
std::vector<uint8_t> whole_path(const std::vector<uint8_t> &file, const std::vector<text_request> &requests,
                                const placement &where, int quality) {
    rgba_image image{0, 0, nullptr};
    int format = 0;
    load_settings settings;
    if (decode_image(file.data(), file.size(), nullptr, settings, FMT_AUTO, &image, &format) != IMGTEXT_OK) return {};
    for (const text_request &r : requests) EXPECT_EQ(draw_text(image, r, where, nullptr, nullptr), IMGTEXT_OK);
    encode_settings out;
    out.format = FMT_JPG, out.jpeg_quality = quality;
    void *data = nullptr;
    size_t size = 0;
    EXPECT_EQ(encode_image_to_memory(image, out, &data, &size), IMGTEXT_OK);
    std::free(image.pixels);
    std::vector<uint8_t> bytes(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
    std::free(data);
    return bytes;
}

// The streamed path; empty if it did not stream.
std::vector<uint8_t> streamed_path(const std::vector<uint8_t> &file, const std::vector<text_request> &requests,
                                   const placement &where, int quality, bool *streamed, int threads = 1) {
    std::vector<streamed_text> texts;
    for (const text_request &r : requests) texts.push_back({&r, where});
    quality_choice q{quality};
    rgba_image image{0, 0, nullptr};
    int format = 0;
    memory_output out;
    load_settings settings;
    settings.threads = threads;  // two: rows come from the decoder's second thread
    const imgtext_status status = load_draw_and_encode(file.data(), file.size(), nullptr, settings, texts.data(),
                                                       texts.size(), encoding_choice{choose_quality, &q},
                                                       memory_output::write, &out, FMT_AUTO, &image, &format, streamed);
    EXPECT_EQ(status, IMGTEXT_OK);
    std::free(image.pixels);
    std::vector<uint8_t> bytes;
    if (*streamed) bytes.assign(out.data, out.data + out.size);
    return bytes;
}

placement at(int64_t x, int64_t y) {
    placement p;
    p.x = x, p.y = y;
    return p;
}

jpeg_options sampled(int components, int h, int v, int restart) {
    jpeg_options o;
    o.components = components;
    o.sampling[0][0] = h, o.sampling[0][1] = v;
    o.restart_interval = restart;
    return o;
}

}  // namespace

TEST(StreamedDrawing, SameBytesAsTheWholePicture) {
    ASSERT_TRUE(builtin_font_ready());
    const test_support::rgba picture = test_support::noise(203, 157);
    const jpeg_options inputs[] = {sampled(3, 1, 1, 0), sampled(3, 2, 2, 0), sampled(3, 2, 1, 3),
                                   sampled(3, 1, 2, 1), sampled(1, 1, 1, 2), sampled(3, 2, 2, 7)};
    // Texts whose reach starts or ends at band edges (16 rows), inside one
    // band, across many, partly or wholly off the picture.
    const text_case texts[] = {
        {"plain", "Strips", 20, 4, 16, false, 0, false},
        {"two lines", "A\nband edge", 14, 30, 31, false, 0, false},
        {"boxed", "Boxed", 18, -10, 60, true, 0, false},
        {"outline", "Edge", 30, 50, 120, false, 3, false},
        {"shadow", "Shade", 24, 100, 1, false, 0, true},
        {"off the top", "Gone", 40, 10, -45, true, 2, true},
        {"off the bottom", "Low", 40, 10, 150, false, 0, true},
        {"nowhere", "x", 12, 5000, 5000, false, 0, false},
    };
    // The sanitizer stages take a sample of the combinations.
    const size_t stride = test_support::exhaustive_stride();
    size_t combination = 0;
    for (const jpeg_options &input : inputs) {
        const std::vector<uint8_t> file = test_support::write_test_jpeg(picture, input);
        for (const text_case &t : texts) {
            for (int quality : {92, 90, 40}) {
                if (combination++ % stride != 0) continue;
                SCOPED_TRACE(std::string(t.name) + ", components " + std::to_string(input.components) + ", sampling " +
                             std::to_string(input.sampling[0][0]) + "x" + std::to_string(input.sampling[0][1]) +
                             ", restart " + std::to_string(input.restart_interval) + ", quality " +
                             std::to_string(quality));
                const std::vector<text_request> requests{request_for(t)};
                bool streamed = false;
                const std::vector<uint8_t> got = streamed_path(file, requests, at(t.x, t.y), quality, &streamed);
                EXPECT_TRUE(streamed);
                EXPECT_EQ(got, whole_path(file, requests, at(t.x, t.y), quality));
            }
        }
    }
}

TEST(StreamedDrawing, SeveralTextsAndPictureSizes) {
    ASSERT_TRUE(builtin_font_ready());
    for (const int height : {1, 15, 16, 17, 48, 333}) {
        SCOPED_TRACE("height " + std::to_string(height));
        const std::vector<uint8_t> file =
            test_support::write_test_jpeg(test_support::noise(37, height), sampled(3, 2, 2, 0));
        const text_case top{"", "Top", 16, 0, 0, true, 1, false}, low{"", "Low", 22, 3, height - 20, false, 0, true};
        const std::vector<text_request> requests{request_for(top), request_for(low)};
        bool streamed = false;
        const std::vector<uint8_t> got = streamed_path(file, requests, at(2, height / 3), 90, &streamed, 2);
        EXPECT_TRUE(streamed);
        EXPECT_EQ(got, whole_path(file, requests, at(2, height / 3), 90));
    }
}

// A progressive file and a cut one (refused by default) take the whole path.
TEST(StreamedDrawing, WhatCannotStreamTakesTheWholePath) {
    ASSERT_TRUE(builtin_font_ready());
    const test_support::rgba picture = test_support::noise(64, 80);
    jpeg_options progressive = sampled(3, 2, 2, 0);
    progressive.progressive = true;
    std::vector<uint8_t> cut = test_support::write_test_jpeg(picture, sampled(3, 1, 1, 0));
    cut.resize(cut.size() / 2);
    const std::vector<text_request> requests{request_for({"", "Text", 16, 0, 20, false, 0, true})};
    bool streamed = true;
    streamed_path(test_support::write_test_jpeg(picture, progressive), requests, at(0, 20), 90, &streamed);
    EXPECT_FALSE(streamed);
    std::vector<streamed_text> texts{{&requests[0], at(0, 20)}};
    quality_choice q{90};
    rgba_image image{0, 0, nullptr};
    int format = 0;
    memory_output out;
    EXPECT_EQ(load_draw_and_encode(cut.data(), cut.size(), nullptr, load_settings{}, texts.data(), 1,
                                   encoding_choice{choose_quality, &q}, memory_output::write, &out, FMT_AUTO, &image,
                                   &format, &streamed),
              IMGTEXT_ERROR_DECODE);
    EXPECT_FALSE(streamed);
}

// A drawing that reaches a row the window does not hold touches only the
// spare row, and says so: the stream then takes the whole path.
TEST(StreamedDrawing, AWindowNotesRowsItDoesNotHold) {
    ASSERT_TRUE(builtin_font_ready());
    std::vector<unsigned char> held(40 * 4 * 16, 7), spare(40 * 4, 0);
    row_window window;
    window.first = 16, window.count = 16, window.spare = spare.data();
    rgba_image view{40, 64, held.data()};
    view.window = &window;
    const text_request inside = request_for({"", "i", 8, 2, 18, false, 0, false});
    ASSERT_EQ(draw_text(view, inside, at(2, 18), nullptr, nullptr), IMGTEXT_OK);
    EXPECT_FALSE(window.strayed);
    const text_request across = request_for({"", "Tall", 30, 2, 10, false, 0, false});
    ASSERT_EQ(draw_text(view, across, at(2, 10), nullptr, nullptr), IMGTEXT_OK);
    EXPECT_TRUE(window.strayed);
}
