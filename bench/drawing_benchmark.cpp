// Drawing speed: the seven calls' engine against the drawing API on the
// same work, text-heavy pages, text clipped by small pictures (which must
// cost what the picture shows, not what the glyphs would), and the widest
// outline (which must cost the area it covers, not its width squared).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "quendal_imgtext.h"

namespace {

struct image_handle {
    imgtext_image *p = nullptr;
    ~image_handle() { imgtext_image_free(p); }
};

// About 2,000 words of prose-like text with no line breaks of its own.
const std::string &page_text() {
    static const std::string text = [] {
        const char *words[] = {"the",
                               "quick",
                               "brown",
                               "fox",
                               "jumps",
                               "over",
                               "lazy",
                               "dogs",
                               "while",
                               "Caf\xC3\xA9",
                               "owners",
                               "in",
                               "\xC5\x81\xC3\xB3\x64\xC5\xBA",
                               "watch",
                               "patiently,",
                               "counting",
                               "every",
                               "leap"};
        std::string t;
        for (int i = 0; i < 2000; ++i) t += std::string(words[(i * 7 + i / 5) % 18]) + " ";
        return t;
    }();
    return text;
}

void BM_card_seven_calls(benchmark::State &state) {
    for (auto _ : state) imgtext_create("/dev/null", "Hello\nWorld", 800, 400, 48, 250, 245, 230, 32, 54, 84);
}

// The same card through the drawing API, encoded into memory.
void BM_card_drawing_api(benchmark::State &state) {
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.size = 48, style.color = {250, 245, 230, 255}, style.align = IMGTEXT_ALIGN_CENTER;
    for (auto _ : state) {
        image_handle card;
        imgtext_image_create(800, 400, {32, 54, 84, 255}, &card.p);
        imgtext_draw_text_gravity(card.p, "Hello\nWorld", IMGTEXT_NUL_TERMINATED, IMGTEXT_CENTER, 0, &style, nullptr);
        void *png = nullptr;
        size_t size = 0;
        imgtext_image_encode(card.p, nullptr, &png, &size);
        imgtext_free(png);
    }
}

// Drawing alone: a wrapped 2,000-word page on a 2000 x 3000 canvas.
void BM_page_2000_words(benchmark::State &state) {
    image_handle canvas;
    imgtext_image_create(2000, 3000, {255, 255, 255, 255}, &canvas.p);
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.size = static_cast<float>(state.range(0)), style.color = {20, 20, 20, 255}, style.max_width = 1900;
    for (auto _ : state) {
        imgtext_draw_text(canvas.p, page_text().data(), page_text().size(), 50, 50, IMGTEXT_TOP_LEFT, &style, nullptr);
    }
}

// Glyphs 60,000 px tall on an 8 x 8 picture: only 64 pixels are visible.
void BM_huge_glyphs_on_a_tiny_picture(benchmark::State &state) {
    image_handle tiny;
    imgtext_image_create(8, 8, {0, 0, 0, 255}, &tiny.p);
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.size = 60000;
    for (auto _ : state) imgtext_draw_text(tiny.p, "MMMM", 4, -100, -40000, IMGTEXT_TOP_LEFT, &style, nullptr);
}

// 10 MB of text at 24 px on a 13 x 9 picture: layout, and nothing else.
void BM_ten_megabytes_on_a_tiny_picture(benchmark::State &state) {
    const std::string text(10 << 20, 'M');
    image_handle tiny;
    imgtext_image_create(13, 9, {0, 0, 0, 255}, &tiny.p);
    for (auto _ : state) imgtext_draw_text(tiny.p, text.data(), text.size(), 0, 0, IMGTEXT_TOP_LEFT, nullptr, nullptr);
}

// An outline round the first n characters of the page at 32 px, wrapped on
// a w x h picture: the widest (256 px) spreads over the text's box widened
// by 256 on every side, up to the whole picture; a common width (2) for
// comparison.
void BM_outline(benchmark::State &state) {
    const std::string text = page_text().substr(0, static_cast<size_t>(state.range(0)));
    const int w = static_cast<int>(state.range(1)), h = static_cast<int>(state.range(2));
    image_handle canvas;
    imgtext_image_create(w, h, {255, 255, 255, 255}, &canvas.p);
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.size = 32, style.color = {20, 20, 20, 255}, style.max_width = w - 100;
    style.stroke_width = static_cast<float>(state.range(3)), style.stroke_color = {200, 40, 40, 255};
    for (auto _ : state) {
        imgtext_draw_text(canvas.p, text.data(), text.size(), 50, 50, IMGTEXT_TOP_LEFT, &style, nullptr);
    }
}

// Auto-size: the first 200 words of the page fitted into a 1000 x 600 box
// (a binary search over sizes, each a layout), measured alone and drawn.
void BM_fit_caption_200_words(benchmark::State &state) {
    std::string caption;
    for (size_t i = 0, words = 0; i < page_text().size() && words < 200; ++i) {
        if (page_text()[i] == ' ') ++words;
        if (words < 200) caption += page_text()[i];
    }
    image_handle canvas;
    imgtext_image_create(1000, 600, {255, 255, 255, 255}, &canvas.p);
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.color = {20, 20, 20, 255}, style.auto_size = 1, style.fit_width = 1000, style.fit_height = 600;
    imgtext_text_metrics metrics;
    imgtext_text_metrics_init(&metrics);
    for (auto _ : state) {
        if (state.range(0)) {
            imgtext_draw_text(canvas.p, caption.data(), caption.size(), 0, 0, IMGTEXT_TOP_LEFT, &style, &metrics);
        } else {
            imgtext_measure_text(caption.data(), caption.size(), &style, &metrics, nullptr, 0);
        }
    }
    state.counters["size"] = metrics.size;
}

}  // namespace

BENCHMARK(BM_fit_caption_200_words)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_card_seven_calls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_card_drawing_api)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_page_2000_words)->Arg(16)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_huge_glyphs_on_a_tiny_picture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ten_megabytes_on_a_tiny_picture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_outline)
    ->Args({80, 1000, 200, 256})
    ->Args({800, 2000, 2000, 256})
    ->Args({3200, 3000, 3000, 256})
    ->Args({3200, 3000, 3000, 2})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
