// Fuzz target: arbitrary bytes as a font file. Loads them (font 0, and the
// font the last byte picks when the bytes are a collection), then measures
// and draws text that reaches ASCII, Latin-1, a kerning pair, a composite
// glyph, CJK, Arabic, Hebrew, Devanagari and an emoji sequence, plus a slice
// of the input as text, at two sizes, shaped (the default for a loaded font)
// both ways, through the public API only. Fonts with colour tables (CBDT,
// sbix, COLRv0 layers and COLRv1 paint graphs) load without outlines and
// draw their colour glyphs, plain and under an outline and shadow, upright
// and turned (colour pictures resampled), and again with colour glyphs off.
#include <cstddef>
#include <cstdint>
#include <string>

#include "quendal_imgtext.h"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

// Every failure carries a message, and nothing but memory may fail once the
// arguments are valid.
void require_ok_or_memory(imgtext_status status) {
    require(status == IMGTEXT_OK || status == IMGTEXT_ERROR_MEMORY);
    require(status == IMGTEXT_OK || imgtext_error_message()[0] != '\0');
}

// Latin with kerning pairs and a ligature, a composite, CJK, then Arabic,
// Hebrew in an isolate, Devanagari with a conjunct and a ZWJ sequence, so
// that the font's GSUB and GPOS meet every kind of run the shaper makes.
const char k_text[] =
    "AV To W\xC3\xA9 \xC3\x81\n\xE4\xB8\x80 fi\xC3\xBF "
    "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 \xE2\x81\xA7\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D\xE2\x81\xA9 "
    "\xE0\xA4\x95\xE0\xA5\x8D\xE0\xA4\xB7 \xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB";

void exercise(const imgtext_font *font, imgtext_image *image, const uint8_t *data, size_t size) {
    // Besides the fixed text, up to 48 bytes of the input itself: text the
    // mutations change (malformed UTF-8, controls, any script).
    const size_t own = size < 48 ? size : 48;
    std::string text(k_text);
    text.append(reinterpret_cast<const char *>(data) + (size - own) / 2, own);
    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.font = font;
    for (int pass = 0; pass < 2; ++pass) {
        style.size = pass == 0 ? 13.0f : 31.0f;
        style.size_unit = pass == 0 ? IMGTEXT_SIZE_PIXEL_HEIGHT : IMGTEXT_SIZE_EM;
        style.max_width = pass == 0 ? 0 : 40;  // the second pass wraps, which measures word by word
        // The second pass forces right to left, features and a language.
        style.direction = pass == 0 ? IMGTEXT_DIRECTION_AUTO : IMGTEXT_DIRECTION_RTL;
        style.features = pass == 0 ? nullptr : "-liga,smcp,ss01=1";
        style.language = pass == 0 ? nullptr : "sr";
        imgtext_text_metrics metrics{};
        metrics.struct_size = sizeof metrics;
        int widths[4];
        require_ok_or_memory(imgtext_measure_text(text.data(), text.size(), &style, &metrics, widths, 4));
        require_ok_or_memory(
            imgtext_draw_text(image, text.data(), text.size(), 3, 5, IMGTEXT_TOP_LEFT, &style, nullptr));
        require_ok_or_memory(
            imgtext_draw_text(image, text.data(), text.size(), 40, 40, IMGTEXT_BOTTOM_RIGHT, &style, nullptr));
        // The second pass again with an outline and shadow, whose fill takes
        // the colour glyphs' own colours, and then with colour glyphs off.
        if (pass == 1) {
            style.stroke_width = 1.5f;
            style.shadow = 1;
            require_ok_or_memory(
                imgtext_draw_text(image, text.data(), text.size(), 3, 5, IMGTEXT_TOP_LEFT, &style, nullptr));
            style.rotation = 30.0f;
            require_ok_or_memory(
                imgtext_draw_text(image, text.data(), text.size(), 30, 20, IMGTEXT_CENTER, &style, nullptr));
            style.color_glyphs = 0;
            require_ok_or_memory(
                imgtext_draw_text(image, text.data(), text.size(), 3, 5, IMGTEXT_TOP_LEFT, &style, nullptr));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    imgtext_image *image = nullptr;
    if (imgtext_image_create(64, 40, imgtext_color{20, 40, 60, 255}, &image) != IMGTEXT_OK) return 0;
    const int indexes[2] = {0, size > 0 ? 1 + data[size - 1] % 3 : 1};
    for (int index : indexes) {
        imgtext_font *font = nullptr;
        const imgtext_status status = imgtext_font_load_memory(data, size, index, &font);
        if (status != IMGTEXT_OK) {
            // Bytes that are not a usable font are refused as such, with a message.
            require(size == 0 || status == IMGTEXT_ERROR_DECODE || status == IMGTEXT_ERROR_MEMORY);
            require(imgtext_error_message()[0] != '\0' && font == nullptr);
            continue;
        }
        exercise(font, image, data, size);
        imgtext_font_free(font);
    }
    imgtext_image_free(image);
    return 0;
}
