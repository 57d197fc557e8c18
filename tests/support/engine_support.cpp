// The seven calls' view of the engine for tests, fuzz replays and
// benchmarks (see engine_support.h).
#include "engine_support.h"

#include <cstring>

#include "font/font_data.h"
#include "frame/errors.h"
#include "text/glyph_cache.h"
#include "text/render.h"

// The reference rasteriser: the pinned header exactly as Debian ships it,
// compiled here with static linkage beside the library's fixed copy.
#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb_truetype.h>

namespace imgtext {

bool builtin_font_ready() { return builtin_font() != nullptr; }

float font_scale(int px) { return font_scale(*builtin_font(), static_cast<float>(px), false); }
vertical_metrics font_vertical_metrics() { return font_vertical_metrics(*builtin_font()); }
int glyph_for_byte(char byte) { return glyph_for_codepoint(*builtin_font(), static_cast<signed char>(byte)); }
int glyph_advance(int glyph) { return glyph_advance(*builtin_font(), glyph); }
int glyph_kerning(int left_glyph, int right_glyph) { return glyph_kerning(*builtin_font(), left_glyph, right_glyph); }
glyph_box glyph_bitmap_box(int glyph, float scale) { return glyph_bitmap_box(*builtin_font(), glyph, scale); }
void rasterise_glyph_window(int glyph, float scale, const glyph_window &window, unsigned char *coverage) {
    rasterise_glyph_window(*builtin_font(), glyph, scale, glyph_bitmap_box(glyph, scale), window, coverage);
}

void reference_rasterise_glyph(int glyph, float scale, unsigned char *coverage, int width, int height) {
    static const stbtt_fontinfo info = [] {
        stbtt_fontinfo parsed{};
        stbtt_InitFont(&parsed, s_font_data, stbtt_GetFontOffsetForIndex(s_font_data, 0));
        return parsed;
    }();
    stbtt_MakeGlyphBitmapSubpixel(&info, coverage, width, height, width, scale, scale, 0.0f, 0.0f, glyph);
}

text_face pixel_size_face(int px) {
    const font_face *builtin = builtin_font();
    return make_text_face(&builtin, 1, static_cast<float>(px), false, 1.0f);
}

int measure_text_box(const char *text, int size, text_layout *layout) {
    if (!builtin_font_ready()) return 0;
    if (size > QUENDAL_IMGTEXT_MAX_SIZE) {
        set_error(IMGTEXT_ERROR_ARGUMENT, "invalid size: pixel size must be <= %d (%d)", QUENDAL_IMGTEXT_MAX_SIZE,
                  size);
        return 0;
    }
    const layout_request request{text, std::strlen(text), text_encoding::bytes,
                                 pixel_size_face(effective_pixel_size(size)), 0};
    return layout_text(request, layout) == IMGTEXT_OK;
}

void render_text_lines(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y, int red, int green,
                       int blue, float opacity, bool centre) {
    const paint colour{static_cast<float>(clamp_channel(red)), static_cast<float>(clamp_channel(green)),
                       static_cast<float>(clamp_channel(blue)), clamp_opacity(opacity)};
    glyph_cache glyphs;
    render_layout(image, layout, x, y, colour, centre ? line_align::centre : line_align::left, glyphs);
}

int load_image(const char *path, rgba_image *image, int *format, const load_check *check) {
    load_settings settings;
    settings.check = check;
    settings.allow_damaged = true;
    return load_image_file(path, path_encoding::native, settings, FMT_PNG, image, format) == IMGTEXT_OK;
}

int save_image(const char *path, int width, int height, const unsigned char *pixels, int format) {
    encode_settings settings;
    settings.format = format == FMT_JPG || format == FMT_BMP ? format : FMT_PNG;
    const rgba_image image{width, height, const_cast<unsigned char *>(pixels)};
    if (save_image_file(path, path_encoding::native, image, settings) == IMGTEXT_OK) return 1;
    std::memcpy(s_err, error_text(), sizeof s_err);
    return 0;
}

}  // namespace imgtext
