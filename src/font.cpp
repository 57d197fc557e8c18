// The built-in typeface. This file is the only user of stb_truetype, which is
// compiled here with static linkage so none of its symbols leave the library.
#include "font.h"

#include "font/font_data.h"
#include "library_frame.h"

#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb_truetype.h>

namespace imgtext {

int s_font_ready;

namespace {
// Points into s_font_data; owns no memory, so it is never freed.
stbtt_fontinfo s_font;
}  // namespace

int ensure_font_ready() {
    const int offset = stbtt_GetFontOffsetForIndex(s_font_data, 0);
    if (offset < 0) {
        set_err("invalid embedded font offset");
        return 0;
    }
    if (!stbtt_InitFont(&s_font, s_font_data, offset)) {
        set_err("failed to initialize embedded font");
        return 0;
    }
    s_font_ready = 1;
    return 1;
}

float font_scale(int px) { return stbtt_ScaleForPixelHeight(&s_font, static_cast<float>(px)); }

vertical_metrics font_vertical_metrics() {
    vertical_metrics m{};
    stbtt_GetFontVMetrics(&s_font, &m.ascent, &m.descent, &m.line_gap);
    return m;
}

int glyph_for_byte(char byte) {
    return stbtt_FindGlyphIndex(&s_font, static_cast<int>(static_cast<signed char>(byte)));
}

int glyph_advance(int glyph) {
    int advance = 0, left_side_bearing = 0;
    stbtt_GetGlyphHMetrics(&s_font, glyph, &advance, &left_side_bearing);
    return advance;
}

int glyph_kerning(int left_glyph, int right_glyph) {
    if (!s_font.kern && !s_font.gpos) return 0;
    return stbtt_GetGlyphKernAdvance(&s_font, left_glyph, right_glyph);
}

glyph_box glyph_bitmap_box(int glyph, float scale) {
    glyph_box b{};
    stbtt_GetGlyphBitmapBoxSubpixel(&s_font, glyph, scale, scale, 0.0f, 0.0f, &b.x0, &b.y0, &b.x1, &b.y1);
    return b;
}

void rasterise_glyph(int glyph, float scale, unsigned char *coverage, int width, int height) {
    stbtt_MakeGlyphBitmapSubpixel(&s_font, coverage, width, height, width, scale, scale, 0.0f, 0.0f, glyph);
}

// stbtt_MakeGlyphBitmapSubpixel with the build's window added to the bitmap
// record (the rasteriser stores only the window's bytes, see the stb fixes).
void rasterise_glyph_window(int glyph, float scale, const glyph_window &window, unsigned char *coverage) {
    const glyph_box box = glyph_bitmap_box(glyph, scale);
    stbtt_vertex *vertices = nullptr;
    const int vertex_count = stbtt_GetGlyphShape(&s_font, glyph, &vertices);
    stbtt__bitmap bitmap{};
    bitmap.w = box.x1 - box.x0;
    bitmap.h = box.y1 - box.y0;
    bitmap.stride = window.x1 - window.x0;
    bitmap.pixels = coverage;
    bitmap.x0 = window.x0;
    bitmap.y0 = window.y0;
    bitmap.x1 = window.x1;
    bitmap.y1 = window.y1;
    if (bitmap.w > 0 && bitmap.h > 0) {
        stbtt_Rasterize(&bitmap, 0.35f, vertices, vertex_count, scale, scale, 0.0f, 0.0f, box.x0, box.y0, 1,
                        s_font.userdata);
    }
    STBTT_free(vertices, s_font.userdata);
}

}  // namespace imgtext
