// Shaped text: a 2,000-word page in a user font laid out simply against
// shaped (shaping may cost at most 1.3 times as much), and 2,000-word pages
// of Arabic and of Devanagari, the work bench/pillow_raqm_pages.py gives
// Pillow with raqm (same text, lines, font and size). Debian's Noto fonts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "quendal_imgtext.h"

namespace {

const char *const k_noto = "/usr/share/fonts/truetype/noto/";

struct page_setup {
    imgtext_font *font = nullptr;
    imgtext_image *canvas = nullptr;
    std::string text;
    page_setup(const char *font_file, const char *sentence) {
        if (imgtext_font_load((std::string(k_noto) + font_file).c_str(), 0, &font) != IMGTEXT_OK)
            std::fprintf(stderr, "shaping_benchmark: %s\n", imgtext_error_message());
        imgtext_image_create(2000, 3000, {255, 255, 255, 255}, &canvas);
        // 2,000 words, 12 to a line: the same lines in every tool.
        std::string words[64];
        int count = 0;
        for (const char *p = sentence; *p && count < 64;) {
            const char *space = p;
            while (*space && *space != ' ') ++space;
            words[count++].assign(p, space);
            p = *space ? space + 1 : space;
        }
        for (int i = 0; i < 2000; ++i) text += words[i % count] + (i % 12 == 11 ? "\n" : " ");
    }
    ~page_setup() {
        imgtext_image_free(canvas);
        imgtext_font_free(font);
    }
};

void draw_page(benchmark::State &state, const page_setup &page, int layout) {
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.font = page.font, style.size = 16, style.size_unit = IMGTEXT_SIZE_EM;
    style.color = {20, 20, 20, 255}, style.layout = layout;
    for (auto _ : state) {
        if (imgtext_draw_text(page.canvas, page.text.data(), page.text.size(), 50, 50, IMGTEXT_TOP_LEFT, &style,
                              nullptr) != IMGTEXT_OK)
            state.SkipWithError(imgtext_error_message());
    }
}

const char *const k_latin =
    "the quick brown fox jumps over lazy dogs while Caf\xC3\xA9 owners watch patiently, counting "
    "every leap To AV Wa";
const char *const k_arabic =
    "\xD9\x87\xD8\xB0\xD8\xA7 \xD9\x86\xD8\xB5 \xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A \xD9\x82\xD8\xB5\xD9\x8A\xD8\xB1 "
    "\xD9\x84\xD8\xA7\xD8\xAE\xD8\xAA\xD8\xA8\xD8\xA7\xD8\xB1 \xD8\xB3\xD8\xB1\xD8\xB9\xD8\xA9 "
    "\xD8\xAA\xD8\xB4\xD9\x83\xD9\x8A\xD9\x84 \xD8\xA7\xD9\x84\xD9\x86\xD8\xB5 \xD9\x81\xD9\x8A "
    "\xD8\xA7\xD9\x84\xD8\xB5\xD9\x88\xD8\xB1";
const char *const k_devanagari =
    "\xE0\xA4\xAF\xE0\xA4\xB9 \xE0\xA4\xB9\xE0\xA4\xBF\xE0\xA4\x82\xE0\xA4\xA6\xE0\xA5\x80 "
    "\xE0\xA4\xAE\xE0\xA5\x87\xE0\xA4\x82 \xE0\xA4\x8F\xE0\xA4\x95 \xE0\xA4\x9B\xE0\xA5\x8B\xE0\xA4\x9F\xE0\xA4\xBE "
    "\xE0\xA4\xB5\xE0\xA4\xBE\xE0\xA4\x95\xE0\xA5\x8D\xE0\xA4\xAF \xE0\xA4\xB9\xE0\xA5\x88 "
    "\xE0\xA4\x9C\xE0\xA5\x8B \xE0\xA4\xB6\xE0\xA4\xAC\xE0\xA5\x8D\xE0\xA4\xA6\xE0\xA5\x8B\xE0\xA4\x82 "
    "\xE0\xA4\x95\xE0\xA5\x80 \xE0\xA4\x97\xE0\xA4\xA4\xE0\xA4\xBF \xE0\xA4\x9C\xE0\xA4\xBE\xE0\xA4\x81\xE0\xA4\x9A"
    "\xE0\xA4\xA4\xE0\xA4\xBE \xE0\xA4\xB9\xE0\xA5\x88";

void BM_page(benchmark::State &state, const char *font_file, const char *sentence, int layout) {
    const page_setup page(font_file, sentence);
    draw_page(state, page, layout);
}

}  // namespace

BENCHMARK_CAPTURE(BM_page, latin_simple, "NotoSans-Regular.ttf", k_latin, IMGTEXT_LAYOUT_SIMPLE)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_page, latin_shaped, "NotoSans-Regular.ttf", k_latin, IMGTEXT_LAYOUT_SHAPED)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_page, arabic, "NotoSansArabic-Regular.ttf", k_arabic, IMGTEXT_LAYOUT_AUTO)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_page, devanagari, "NotoSansDevanagari-Regular.ttf", k_devanagari, IMGTEXT_LAYOUT_AUTO)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
