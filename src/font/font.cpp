// Fonts. This file is the only user of stb_truetype, which is compiled here
// with static linkage so none of its symbols leave the library.
#include "font/font.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "font/font_data.h"
#include "font/font_validation.h"
#include "frame/errors.h"

// stb_truetype asserts on malformed data it then goes on to handle (clamped
// seeks, empty results). Font files may be hostile: a debug build must
// refuse or skip what they get wrong, as a release build does, not abort.
#define STBTT_assert(condition) ((void)0)

namespace {
// Glyph boxes are coordinates times the scale, floored or ceiled to int.
// stb_truetype converts with a plain cast, undefined beyond int range,
// which a font with a tiny ascender-to-descender span reaches at large
// sizes; clamp instead (to a range whose differences still fit an int).
// In range the result is exactly stb_truetype's.
int clamped_int(double value) {
    constexpr double limit = 1 << 29;
    if (!(value > -limit)) return -(1 << 29);
    if (!(value < limit)) return 1 << 29;
    return static_cast<int>(value);
}
}  // namespace
#define STBTT_ifloor(x) clamped_int(std::floor(x))
#define STBTT_iceil(x) clamped_int(std::ceil(x))

// The build's stb_truetype stops loading composite glyphs at this depth,
// the one validation allows.
#define IMGTEXT_STB_MAX_COMPONENT_DEPTH 16
static_assert(IMGTEXT_STB_MAX_COMPONENT_DEPTH == imgtext::max_component_depth);
// ... and gives up on a CFF glyph whose charstring runs more steps than
// this (the public header documents it).
#define IMGTEXT_STB_MAX_CHARSTRING_STEPS (1 << 18)

#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb_truetype.h>

#include <hb-ot.h>
#include <hb.h>

// A parsed font. Immutable once made but for the CFF verdicts; `data` is
// owned unless the font is the built-in one, which points into the
// library's read-only bytes.
struct imgtext_font {
    stbtt_fontinfo info;
    unsigned char *owned_data;
    bool has_kerning;
    int glyph_count;  // every glyph index passed to stb_truetype is below this
    imgtext::vertical_metrics metrics;
    hb_font_t *shaper;                   // reads the same bytes
    std::atomic<uint8_t> *cff_verdicts;  // CFF fonts: one per glyph (see cff_verdict); else null
    bool outlines;                       // false: colour glyphs alone, no outline is ever read
    uint8_t colour;                      // imgtext::colour_table bits HarfBuzz found usable
    bool varied;                         // a copy at some axis values: shaper is its own sub-font, the
                                         // bytes are the parent's (see vary_font)
};

namespace imgtext {

namespace {

imgtext_font s_builtin{};

// HarfBuzz's view of the same bytes, without a copy. Null when HarfBuzz
// could not allocate it (it then hands out its inert empty font).
hb_font_t *make_shaper(const unsigned char *data, size_t size, int index) {
    hb_blob_t *blob = hb_blob_create(reinterpret_cast<const char *>(data), static_cast<unsigned>(size),
                                     HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    hb_face_t *face = hb_face_create(blob, static_cast<unsigned>(index));
    hb_blob_destroy(blob);
    hb_face_make_immutable(face);
    hb_font_t *font = hb_font_create(face);
    hb_face_destroy(face);
    if (font == hb_font_get_empty()) return nullptr;
    hb_font_make_immutable(font);
    return font;
}

// ---- CFF glyphs: charstrings run once per font to judge them, and every
// run charged to the calling thread's count.
//
// A charstring may run up to IMGTEXT_STB_MAX_CHARSTRING_STEPS steps whatever
// its length, and one that fails draws nothing. A glyph's verdict, whether
// its charstring completes, is the same at every run, so the font keeps it
// once found and skips the run for a glyph that draws nothing: text that
// repeats such a glyph pays for it once per font, not per occurrence (a
// drawing call's glyph cache sees to the glyphs that do draw). Judging at
// load instead would run every glyph of a font: 0.2 s for the 65,535 of
// Noto Sans CJK, 30 times what loading it costs, for text that may use a
// few dozen.
//
// Verdicts are written with relaxed atomics: each is one byte that carries
// no other data, and threads that judge a glyph at once find the same.
enum cff_verdict : uint8_t { verdict_unknown = 0, verdict_drawn = 1, verdict_nothing = 2 };

thread_local uint64_t t_charstring_steps = 0;

bool is_cff(const imgtext_font &font) { return font.cff_verdicts != nullptr; }

cff_verdict verdict_of(const imgtext_font &font, int glyph) {
    return static_cast<cff_verdict>(font.cff_verdicts[glyph].load(std::memory_order_relaxed));
}

// Runs the glyph's charstring into the context (bounds or output), charges
// its steps and records the verdict. False if it failed.
bool run_charstring(const imgtext_font &font, int glyph, stbtt__csctx &context) {
    const bool completed = stbtt__run_charstring(&font.info, glyph, &context) != 0;
    t_charstring_steps += static_cast<uint64_t>(context.steps);
    if (verdict_of(font, glyph) == verdict_unknown) {
        font.cff_verdicts[glyph].store(completed ? verdict_drawn : verdict_nothing, std::memory_order_relaxed);
    }
    return completed;
}

// stbtt_GetGlyphBitmapBoxSubpixel for a CFF glyph, whose box is that of
// every point its charstring places (stbtt_GetGlyphBox runs it in bounds
// mode), or empty if it draws nothing.
imgtext::glyph_box cff_bitmap_box(const imgtext_font &font, int glyph, float scale) {
    if (verdict_of(font, glyph) == verdict_nothing) return {};
    stbtt__csctx bounds = STBTT__CSCTX_INIT(1);
    if (!run_charstring(font, glyph, bounds)) return {};
    return {STBTT_ifloor(static_cast<float>(bounds.min_x) * scale + 0.0f),
            STBTT_ifloor(static_cast<float>(-bounds.max_y) * scale + 0.0f),
            STBTT_iceil(static_cast<float>(bounds.max_x) * scale + 0.0f),
            STBTT_iceil(static_cast<float>(-bounds.min_y) * scale + 0.0f)};
}

// stbtt__GetGlyphShapeT2: one run to count the points, one to place them.
int cff_shape(const imgtext_font &font, int glyph, stbtt_vertex **vertices) {
    *vertices = nullptr;
    if (verdict_of(font, glyph) == verdict_nothing) return 0;
    stbtt__csctx count = STBTT__CSCTX_INIT(1);
    if (!run_charstring(font, glyph, count)) return 0;
    auto *placed = static_cast<stbtt_vertex *>(
        STBTT_malloc(static_cast<size_t>(count.num_vertices) * sizeof(stbtt_vertex), font.info.userdata));
    if (!placed) return 0;
    stbtt__csctx output = STBTT__CSCTX_INIT(0);
    output.pvertices = placed;
    if (!run_charstring(font, glyph, output)) {  // cannot happen: the same program ran to its end
        STBTT_free(placed, font.info.userdata);
        return 0;
    }
    *vertices = placed;
    return output.num_vertices;
}

// stbtt_InitFont for a font of colour glyphs alone, which it refuses for
// want of outlines: the same tables for everything but outlines (validation
// checked them as for any font), no 'glyf', 'loca' or CFF, which the
// library then never asks stb_truetype to read.
bool init_without_outlines(stbtt_fontinfo &info, unsigned char *data, int fontstart) {
    info = stbtt_fontinfo{};
    info.data = data;
    info.fontstart = fontstart;
    info.cff = stbtt__new_buf(nullptr, 0);
    const stbtt_uint32 cmap = stbtt__find_table(data, fontstart, "cmap");
    info.head = static_cast<int>(stbtt__find_table(data, fontstart, "head"));
    info.hhea = static_cast<int>(stbtt__find_table(data, fontstart, "hhea"));
    info.hmtx = static_cast<int>(stbtt__find_table(data, fontstart, "hmtx"));
    info.kern = static_cast<int>(stbtt__find_table(data, fontstart, "kern"));
    info.gpos = static_cast<int>(stbtt__find_table(data, fontstart, "GPOS"));
    const stbtt_uint32 maxp = stbtt__find_table(data, fontstart, "maxp");
    if (!cmap || !info.head || !info.hhea || !info.hmtx || !maxp) return false;
    info.numGlyphs = ttUSHORT(data + maxp + 4);
    info.svg = -1;
    // The last Unicode encoding record, as stbtt_InitFont keeps it.
    const int records = ttUSHORT(data + cmap + 2);
    for (int i = 0; i < records; ++i) {
        const stbtt_uint32 record = cmap + 4 + 8 * static_cast<stbtt_uint32>(i);
        const int platform = ttUSHORT(data + record), encoding = ttUSHORT(data + record + 2);
        if (platform == STBTT_PLATFORM_ID_UNICODE ||
            (platform == STBTT_PLATFORM_ID_MICROSOFT &&
             (encoding == STBTT_MS_EID_UNICODE_BMP || encoding == STBTT_MS_EID_UNICODE_FULL))) {
            info.index_map = static_cast<int>(cmap + ttULONG(data + record + 4));
        }
    }
    if (info.index_map == 0) return false;
    info.indexToLocFormat = ttUSHORT(data + info.head + 50);
    return true;
}

// The colour tables HarfBuzz reads from the font (it sanitizes each on its
// first use and treats a damaged one as absent).
uint8_t colour_tables_of(hb_font_t *shaper) {
    hb_face_t *face = hb_font_get_face(shaper);
    uint8_t found = 0;
    if (hb_ot_color_has_png(face)) found |= colour_bitmaps;
    if (hb_ot_color_has_layers(face)) found |= colour_layers;
    return found;
}

void finish_parsed(imgtext_font &font) {
    font.glyph_count = font.info.numGlyphs;  // from 'maxp', which validation requires
    font.has_kerning = font.info.kern || font.info.gpos;
    stbtt_GetFontVMetrics(&font.info, &font.metrics.ascent, &font.metrics.descent, &font.metrics.line_gap);
}

// Returns null on success, else why the embedded bytes could not be parsed.
// The embedded bytes are the pinned Caladea, checked by SHA-256 when the
// library is built (and by the tests through the loading path), so they are
// not validated again here, where a failure would last for the process.
const char *parse_builtin() {
    const int offset = stbtt_GetFontOffsetForIndex(s_font_data, 0);
    if (offset < 0) return "invalid embedded font offset";
    if (!stbtt_InitFont(&s_builtin.info, s_font_data, offset)) return "failed to initialize embedded font";
    s_builtin.outlines = true;
    finish_parsed(s_builtin);
    s_builtin.shaper = make_shaper(s_font_data, k_font_data_size, 0);
    if (!s_builtin.shaper) return "out of memory preparing the embedded font";
    return nullptr;
}

// ---- Outlines as polygons: stb_truetype's vertices flattened as
// stbtt_Rasterize flattens them, or, for a varied font, HarfBuzz's drawing of
// the varied glyph flattened by the same curve subdivision.

// The flatness stbtt_Rasterize asks for, in pixels.
constexpr float k_flatness_in_pixels = 0.35f;

// Collects HarfBuzz's drawing of a glyph. HarfBuzz is C: nothing may throw
// through it, so a failed allocation is only remembered.
struct polygon_builder {
    std::vector<stbtt__point> points;
    std::vector<int> lengths;
    float flatness_squared = 0;  // in font units, as stbtt_FlattenCurves takes it
    float x = 0, y = 0;          // the pen
    size_t start = 0;            // the open contour's first point
    bool open = false, failed = false;

    void end_contour() {
        if (open && points.size() > start) lengths.push_back(static_cast<int>(points.size() - start));
        open = false;
    }
    void begin(float px, float py) {
        end_contour();
        start = points.size();
        open = true;
        add(px, py);
    }
    void add(float px, float py) {
        points.push_back(stbtt__point{px, py});
        x = px, y = py;
    }
    template <typename Flatten>
    void curve(float px, float py, Flatten flatten) {
        if (!open) begin(x, y);
        int count = 0;
        flatten(nullptr, &count);
        const size_t base = points.size();
        points.resize(base + static_cast<size_t>(count));
        int at = static_cast<int>(base);
        flatten(points.data(), &at);
        x = px, y = py;
    }
    template <typename Step>
    static void guarded(void *data, Step step) {
        auto &b = *static_cast<polygon_builder *>(data);
        if (b.failed) return;
        try {
            step(b);
        } catch (...) {
            b.failed = true;
        }
    }
};

hb_draw_funcs_t *make_draw_funcs() {
    hb_draw_funcs_t *f = hb_draw_funcs_create();
    hb_draw_funcs_set_move_to_func(
        f,
        [](hb_draw_funcs_t *, void *data, hb_draw_state_t *, float x, float y, void *) {
            polygon_builder::guarded(data, [&](polygon_builder &b) { b.begin(x, y); });
        },
        nullptr, nullptr);
    hb_draw_funcs_set_line_to_func(
        f,
        [](hb_draw_funcs_t *, void *data, hb_draw_state_t *, float x, float y, void *) {
            polygon_builder::guarded(data, [&](polygon_builder &b) {
                if (!b.open) b.begin(b.x, b.y);
                b.add(x, y);
            });
        },
        nullptr, nullptr);
    hb_draw_funcs_set_quadratic_to_func(
        f,
        [](hb_draw_funcs_t *, void *data, hb_draw_state_t *, float cx, float cy, float x, float y, void *) {
            polygon_builder::guarded(data, [&](polygon_builder &b) {
                const float x0 = b.x, y0 = b.y;
                b.curve(x, y, [&](stbtt__point *points, int *count) {
                    stbtt__tesselate_curve(points, count, x0, y0, cx, cy, x, y, b.flatness_squared, 0);
                });
            });
        },
        nullptr, nullptr);
    hb_draw_funcs_set_cubic_to_func(
        f,
        [](hb_draw_funcs_t *, void *data, hb_draw_state_t *, float c1x, float c1y, float c2x, float c2y, float x,
           float y, void *) {
            polygon_builder::guarded(data, [&](polygon_builder &b) {
                const float x0 = b.x, y0 = b.y;
                b.curve(x, y, [&](stbtt__point *points, int *count) {
                    stbtt__tesselate_cubic(points, count, x0, y0, c1x, c1y, c2x, c2y, x, y, b.flatness_squared, 0);
                });
            });
        },
        nullptr, nullptr);
    hb_draw_funcs_set_close_path_func(
        f,
        [](hb_draw_funcs_t *, void *data, hb_draw_state_t *, void *) {
            polygon_builder::guarded(data, [&](polygon_builder &b) { b.end_contour(); });
        },
        nullptr, nullptr);
    hb_draw_funcs_make_immutable(f);
    return f;
}

// The varied glyph's polygons at the flatness drawing at scale needs.
// False if memory ran out (then nothing is drawn).
bool varied_polygons(const imgtext_font &font, int glyph, float scale, polygon_builder &b) {
    static hb_draw_funcs_t *const funcs = make_draw_funcs();
    const float flatness = k_flatness_in_pixels / scale;
    b.flatness_squared = flatness * flatness;
    hb_font_draw_glyph(font.shaper, static_cast<hb_codepoint_t>(glyph), funcs, &b);
    polygon_builder::guarded(&b, [](polygon_builder &p) { p.end_contour(); });
    return !b.failed;
}

// stbtt_GetGlyphBitmapBoxSubpixel's rounding of the varied glyph's box,
// which is that of its polygons: exactly what the rasteriser covers.
imgtext::glyph_box varied_bitmap_box(const imgtext_font &font, int glyph, float scale) {
    polygon_builder b;
    if (!varied_polygons(font, glyph, scale, b) || b.points.empty()) return {};
    float x0 = b.points[0].x, y0 = b.points[0].y, x1 = x0, y1 = y0;
    for (const stbtt__point &p : b.points) {
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    }
    return {STBTT_ifloor(x0 * scale), STBTT_ifloor(-y1 * scale), STBTT_iceil(x1 * scale), STBTT_iceil(-y0 * scale)};
}

stbtt__bitmap window_bitmap(const imgtext::glyph_box &box, const imgtext::glyph_window &window,
                            unsigned char *coverage) {
    stbtt__bitmap bitmap{};
    bitmap.w = box.x1 - box.x0;
    bitmap.h = box.y1 - box.y0;
    bitmap.stride = window.x1 - window.x0;
    bitmap.pixels = coverage;
    bitmap.x0 = window.x0;
    bitmap.y0 = window.y0;
    bitmap.x1 = window.x1;
    bitmap.y1 = window.y1;
    return bitmap;
}

// As rasterise_glyph_window does for stb_truetype's outlines.
void rasterise_varied_window(const imgtext_font &font, int glyph, float scale, const imgtext::glyph_box &box,
                             const imgtext::glyph_window &window, unsigned char *coverage) {
    polygon_builder b;
    if (!varied_polygons(font, glyph, scale, b) || b.lengths.empty()) return;
    stbtt__bitmap bitmap = window_bitmap(box, window, coverage);
    if (bitmap.w <= 0 || bitmap.h <= 0) return;
    stbtt__rasterize(&bitmap, b.points.data(), b.lengths.data(), static_cast<int>(b.lengths.size()), scale, scale, 0.0f,
                     0.0f, box.x0, box.y0, 1, font.info.userdata);
}

// ---- Variations as the style writes them.

bool is_list_separator(char c) { return c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Calls visit(start, length) for each item of a separated list while it
// returns true; false if one returned false.
template <typename Visit>
bool each_item(const char *list, Visit visit) {
    for (const char *p = list; *p;) {
        while (*p && is_list_separator(*p)) ++p;
        const char *start = p;
        while (*p && !is_list_separator(*p)) ++p;
        if (p > start && !visit(start, static_cast<int>(p - start))) return false;
    }
    return true;
}

bool parse_variation(const char *item, int length, hb_variation_t *out) {
    return std::memchr(item, '=', static_cast<size_t>(length)) && hb_variation_from_string(item, length, out) &&
           std::isfinite(out->value);
}

bool same_name(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b) {
        const char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        const char cb = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (ca != cb) return false;
    }
    return *a == *b;
}

// The named instance of the font whose subfamily name is `name` (ASCII
// case ignored), or -1.
int named_instance(hb_face_t *face, const char *name) {
    const unsigned count = hb_ot_var_get_named_instance_count(face);
    for (unsigned i = 0; i < count; ++i) {
        char text[128];
        unsigned size = sizeof text;
        hb_ot_name_get_utf8(face, hb_ot_var_named_instance_get_subfamily_name_id(face, i), HB_LANGUAGE_INVALID, &size,
                            text);
        if (same_name(text, name)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

const font_face *builtin_font() {
    // Parsed once, by whichever thread comes first; the others wait for it.
    static const char *const failure = parse_builtin();
    if (failure) {
        set_error(IMGTEXT_ERROR_DECODE, "%s", failure);
        return nullptr;
    }
    return &s_builtin;
}

bool is_builtin(const font_face *font) { return font == &s_builtin; }

imgtext_status load_font(const unsigned char *data, size_t size, int index, font_face **font) {
    if (!data || size == 0) return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: font data is empty");
    if (size > INT32_MAX)
        return set_error(IMGTEXT_ERROR_LIMIT, "font file too large (%.0f bytes)", static_cast<double>(size));
    auto *parsed = static_cast<imgtext_font *>(std::calloc(1, sizeof(imgtext_font)));
    auto *copy = static_cast<unsigned char *>(std::malloc(size));
    if (!parsed || !copy) {
        std::free(parsed);
        std::free(copy);
        return set_error(IMGTEXT_ERROR_MEMORY, "out of memory loading font");
    }
    std::memcpy(copy, data, size);
    parsed->owned_data = copy;
    // stb_truetype trusts every offset in the file: check first (on the
    // copy, which nothing else can change) that all it will read is there.
    font_layout layout{};
    const char *problem = nullptr;
    const imgtext_status checked = validate_font(copy, size, index, &layout, &problem);
    if (checked != IMGTEXT_OK) {
        free_font(parsed);
        if (checked == IMGTEXT_ERROR_MEMORY) return set_error(IMGTEXT_ERROR_MEMORY, "out of memory loading font");
        return set_error(IMGTEXT_ERROR_DECODE, "cannot decode font: %s", problem);
    }
    parsed->outlines = layout.outlines;
    const bool initialised = layout.outlines ? stbtt_InitFont(&parsed->info, copy, layout.fontstart) != 0
                                             : init_without_outlines(parsed->info, copy, layout.fontstart);
    if (!initialised) {
        free_font(parsed);
        return set_error(IMGTEXT_ERROR_DECODE,
                         "cannot decode font: not a TrueType or OpenType font stb_truetype reads");
    }
    finish_parsed(*parsed);
    parsed->shaper = make_shaper(copy, size, index);
    if (!parsed->shaper) {
        free_font(parsed);
        return set_error(IMGTEXT_ERROR_MEMORY, "out of memory loading font");
    }
    parsed->colour = colour_tables_of(parsed->shaper);
    if (!parsed->outlines && !parsed->colour) {
        free_font(parsed);
        return set_error(IMGTEXT_ERROR_DECODE,
                         "cannot decode font: the font has no outlines, and its colour glyph tables are damaged");
    }
    if (parsed->info.cff.size > 0) {
        parsed->cff_verdicts = new (std::nothrow) std::atomic<uint8_t>[static_cast<size_t>(parsed->glyph_count)]();
        if (!parsed->cff_verdicts) {
            free_font(parsed);
            return set_error(IMGTEXT_ERROR_MEMORY, "out of memory loading font");
        }
    }
    *font = parsed;
    return IMGTEXT_OK;
}

void free_font(font_face *font) {
    if (!font || is_builtin(font)) return;
    if (font->shaper) hb_font_destroy(font->shaper);
    if (font->varied) {  // the parent owns the bytes
        std::free(font);
        return;
    }
    delete[] font->cff_verdicts;
    std::free(font->owned_data);
    std::free(font);
}

hb_font_t *harfbuzz_font(const font_face &font) { return font.shaper; }
bool font_has_outlines(const font_face &font) { return font.outlines; }
uint8_t font_colour_tables(const font_face &font) { return font.colour; }
int font_glyph_count(const font_face &font) { return font.glyph_count; }

float font_scale(const font_face &font, float size, bool em_size) {
    return em_size ? stbtt_ScaleForMappingEmToPixels(&font.info, size) : stbtt_ScaleForPixelHeight(&font.info, size);
}

vertical_metrics font_vertical_metrics(const font_face &font) { return font.metrics; }

// Character maps may name glyphs the font does not have (format 12 even
// computes them): those, like negative code points (which a format 0 map
// would index before its start), are the missing glyph. Every later query
// is then for a glyph the validation covered.
int glyph_for_codepoint(const font_face &font, int codepoint) {
    if (codepoint < 0) return 0;
    const int glyph = stbtt_FindGlyphIndex(&font.info, codepoint);
    return glyph > 0 && glyph < font.glyph_count ? glyph : 0;
}

// Only the advance: the library never uses side bearings, so a font whose
// metrics table lacks some is no reason to read past it.
int glyph_advance(const font_face &font, int glyph) {
    if (font.varied) return hb_font_get_glyph_h_advance(font.shaper, static_cast<hb_codepoint_t>(glyph));
    int advance = 0;
    stbtt_GetGlyphHMetrics(&font.info, glyph, &advance, nullptr);
    return advance;
}

int glyph_kerning(const font_face &font, int left_glyph, int right_glyph) {
    if (!font.has_kerning) return 0;
    return stbtt_GetGlyphKernAdvance(&font.info, left_glyph, right_glyph);
}

glyph_box glyph_bitmap_box(const font_face &font, int glyph, float scale) {
    if (!font.outlines) return {};
    if (font.varied) return varied_bitmap_box(font, glyph, scale);
    if (is_cff(font)) return cff_bitmap_box(font, glyph, scale);
    glyph_box b{};
    stbtt_GetGlyphBitmapBoxSubpixel(&font.info, glyph, scale, scale, 0.0f, 0.0f, &b.x0, &b.y0, &b.x1, &b.y1);
    return b;
}

// stbtt_MakeGlyphBitmapSubpixel with the build's window added to the bitmap
// record (the rasteriser stores only the window's bytes, see the stb fixes).
void rasterise_glyph_window(const font_face &font, int glyph, float scale, const glyph_box &box,
                            const glyph_window &window, unsigned char *coverage) {
    if (!font.outlines) return;
    if (font.varied) {
        rasterise_varied_window(font, glyph, scale, box, window, coverage);
        return;
    }
    stbtt_vertex *vertices = nullptr;
    const int vertex_count =
        is_cff(font) ? cff_shape(font, glyph, &vertices) : stbtt_GetGlyphShape(&font.info, glyph, &vertices);
    stbtt__bitmap bitmap = window_bitmap(box, window, coverage);
    if (bitmap.w > 0 && bitmap.h > 0) {
        stbtt_Rasterize(&bitmap, 0.35f, vertices, vertex_count, scale, scale, 0.0f, 0.0f, box.x0, box.y0, 1,
                        font.info.userdata);
    }
    STBTT_free(vertices, font.info.userdata);
}

bool font_has_variations(const font_face &font) {
    return font.outlines && !is_cff(font) && font.shaper && hb_ot_var_has_data(hb_font_get_face(font.shaper));
}

imgtext_status check_variations(const char *variations) {
    if (!variations || !std::strchr(variations, '=')) return IMGTEXT_OK;  // none, or a named instance
    const char *bad = nullptr;
    int bad_length = 0;
    each_item(variations, [&](const char *item, int length) {
        hb_variation_t v;
        if (parse_variation(item, length, &v)) return true;
        bad = item, bad_length = length;
        return false;
    });
    if (!bad) return IMGTEXT_OK;
    return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: malformed font variation '%.*s'",
                     bad_length > 64 ? 64 : bad_length, bad);
}

imgtext_status vary_font(const font_face &font, const char *variations, font_face **varied) {
    *varied = nullptr;
    if (!variations || !*variations || !font_has_variations(font)) return IMGTEXT_OK;
    // A sub-font would forward its queries to the parent, at the parent's
    // (default) coordinates: a font of its own reads its own.
    hb_font_t *sub = hb_font_create(hb_font_get_face(font.shaper));
    if (sub == hb_font_get_empty()) return set_error(IMGTEXT_ERROR_MEMORY, "out of memory varying a font");
    if (std::strchr(variations, '=')) {
        std::vector<hb_variation_t> axes;
        each_item(variations, [&](const char *item, int length) {
            hb_variation_t v;
            if (parse_variation(item, length, &v)) axes.push_back(v);
            return true;
        });
        hb_font_set_variations(sub, axes.data(), static_cast<unsigned>(axes.size()));
    } else {
        const int instance = named_instance(hb_font_get_face(sub), variations);
        if (instance < 0) {
            hb_font_destroy(sub);
            return IMGTEXT_OK;
        }
        hb_font_set_var_named_instance(sub, static_cast<unsigned>(instance));
    }
    hb_font_make_immutable(sub);
    void *memory = std::malloc(sizeof(imgtext_font));
    if (!memory) {
        hb_font_destroy(sub);
        return set_error(IMGTEXT_ERROR_MEMORY, "out of memory varying a font");
    }
    auto *copy = new (memory) imgtext_font(font);
    copy->shaper = sub;
    copy->owned_data = nullptr;
    copy->cff_verdicts = nullptr;
    copy->varied = true;
    *varied = copy;
    return IMGTEXT_OK;
}

void glyph_flat_outline(const font_face &font, int glyph, float scale, flat_outline &out) {
    out.xy.clear();
    out.lengths.clear();
    if (!font.outlines) return;  // colour glyphs alone: nothing to turn
    if (font.varied) {
        polygon_builder b;
        if (!varied_polygons(font, glyph, scale, b)) return;
        for (const stbtt__point &p : b.points) out.xy.push_back(p.x), out.xy.push_back(p.y);
        out.lengths = std::move(b.lengths);
        return;
    }
    stbtt_vertex *vertices = nullptr;
    const int vertex_count =
        is_cff(font) ? cff_shape(font, glyph, &vertices) : stbtt_GetGlyphShape(&font.info, glyph, &vertices);
    int contour_count = 0;
    int *lengths = nullptr;
    stbtt__point *points = vertex_count > 0 ? stbtt_FlattenCurves(vertices, vertex_count, k_flatness_in_pixels / scale,
                                                                  &lengths, &contour_count, font.info.userdata)
                                            : nullptr;
    STBTT_free(vertices, font.info.userdata);
    if (!points) return;
    int total = 0;
    for (int i = 0; i < contour_count; ++i) total += lengths[i];
    out.lengths.assign(lengths, lengths + contour_count);
    out.xy.reserve(2 * static_cast<size_t>(total));
    for (int i = 0; i < total; ++i) out.xy.push_back(points[i].x), out.xy.push_back(points[i].y);
    STBTT_free(lengths, font.info.userdata);
    STBTT_free(points, font.info.userdata);
}

void rasterise_polygons(const flat_outline &pixels, int x0, int y0, int w, int h, unsigned char *coverage) {
    if (pixels.lengths.empty() || w <= 0 || h <= 0) return;
    std::vector<stbtt__point> points(pixels.xy.size() / 2);
    for (size_t i = 0; i < points.size(); ++i) points[i] = stbtt__point{pixels.xy[2 * i], pixels.xy[2 * i + 1]};
    std::vector<int> lengths(pixels.lengths);
    stbtt__bitmap bitmap{};
    bitmap.w = w, bitmap.h = h, bitmap.stride = w;
    bitmap.pixels = coverage;
    bitmap.x1 = w, bitmap.y1 = h;
    stbtt__rasterize(&bitmap, points.data(), lengths.data(), static_cast<int>(lengths.size()), 1.0f, 1.0f, 0.0f, 0.0f,
                     x0, y0, 0, nullptr);
}

uint64_t charstring_steps_run() { return t_charstring_steps; }

}  // namespace imgtext
