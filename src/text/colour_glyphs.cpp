// Colour glyphs (see colour_glyphs.h). A font's PNGs are hostile data inside
// a hostile file: each is checked against the header's limits from its
// signature and IHDR before the decoder sees it, and then decoded by the
// library's own PNG path under the same limits.
//
// All arithmetic is single precision in a fixed order, so the pixels are the
// same on every compiler and platform.
#include "text/colour_glyphs.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <hb-ot.h>
#include <hb.h>

#include "image/image.h"
#include "image/image_io.h"
#include "text/colour_paint.h"

namespace imgtext {

namespace {

constexpr uint32_t k_max_png_bytes = QUENDAL_IMGTEXT_MAX_COLOR_BITMAP_BYTES;
constexpr uint32_t k_max_png_side = QUENDAL_IMGTEXT_MAX_COLOR_BITMAP_SIDE;
// A COLRv0 glyph's layers beyond this many are not drawn (real fonts use a
// few dozen); each layer is a glyph rasterised over the whole box.
constexpr unsigned k_max_layers = 256;

uint32_t big_endian32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

// A PNG whose signature and IHDR are where they must be, of at most the
// header's bytes and sides.
bool png_within_limits(const unsigned char *data, size_t size, uint32_t *width, uint32_t *height) {
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 33 || size > k_max_png_bytes || std::memcmp(data, signature, 8) != 0) return false;
    if (big_endian32(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0) return false;
    *width = big_endian32(data + 16), *height = big_endian32(data + 20);
    return *width >= 1 && *height >= 1 && *width <= k_max_png_side && *height <= k_max_png_side;
}

struct png_blob {
    hb_blob_t *blob;
    const unsigned char *data = nullptr;
    size_t size = 0;
    uint32_t width = 0, height = 0;
    bool usable = false;
    png_blob(const font_face &font, int glyph)
        : blob(hb_ot_color_glyph_reference_png(harfbuzz_font(font), static_cast<hb_codepoint_t>(glyph))) {
        unsigned length = 0;
        data = reinterpret_cast<const unsigned char *>(hb_blob_get_data(blob, &length));
        size = length;
        usable = data && png_within_limits(data, size, &width, &height);
    }
    ~png_blob() { hb_blob_destroy(blob); }
    png_blob(const png_blob &) = delete;
    png_blob &operator=(const png_blob &) = delete;
};

// Where the bitmap lands, in pixels from the pen (y down): its metrics as
// HarfBuzz scales them to font units, times the scale.
struct bitmap_place {
    float left, top, width, height;
};

bool place_bitmap(const font_face &font, int glyph, float scale, bitmap_place *place) {
    hb_glyph_extents_t e{};
    if (!hb_font_get_glyph_extents(harfbuzz_font(font), static_cast<hb_codepoint_t>(glyph), &e)) return false;
    if (e.width <= 0 || e.height >= 0) return false;
    *place = {static_cast<float>(e.x_bearing) * scale, -static_cast<float>(e.y_bearing) * scale,
              static_cast<float>(e.width) * scale, -static_cast<float>(e.height) * scale};
    return place->width > 0.0f && place->height > 0.0f && std::isfinite(place->left + place->width) &&
           std::isfinite(place->top + place->height);
}

// Pixel edges as int, clamped to a range whose differences fit an int (the
// outline boxes' rule).
int clamped_edge(float value) {
    constexpr float limit = static_cast<float>(1 << 29);
    if (!(value > -limit)) return -(1 << 29);
    if (!(value < limit)) return 1 << 29;
    return static_cast<int>(value);
}

// ---- bitmaps

// The source pixels one output column (or row) covers, with the length of
// each one's overlap: output pixel i spans [(i - origin) * step, (i + 1 -
// origin) * step) of the source, clipped to it.
struct taps {
    std::vector<int> first, count;
    std::vector<float> weight;
    std::vector<size_t> at;  // index of each output pixel's first weight
};

taps taps_for(int from, int to, float origin, float step, int source_size, uint64_t *work) {
    taps t;
    const float end = static_cast<float>(source_size);
    for (int i = from; i < to; ++i) {
        float s0 = (static_cast<float>(i) - origin) * step, s1 = (static_cast<float>(i + 1) - origin) * step;
        s0 = std::max(s0, 0.0f), s1 = std::min(s1, end);
        t.at.push_back(t.weight.size());
        if (!(s1 > s0)) {
            t.first.push_back(0), t.count.push_back(0);
            continue;
        }
        const int a = std::min(static_cast<int>(s0), source_size - 1);
        const int b = std::min(static_cast<int>(std::ceil(s1)), source_size);
        t.first.push_back(a), t.count.push_back(b - a);
        for (int k = a; k < b; ++k) {
            const float lo = std::max(s0, static_cast<float>(k)), hi = std::min(s1, static_cast<float>(k + 1));
            t.weight.push_back(hi > lo ? hi - lo : 0.0f);
        }
        *work += static_cast<uint64_t>(b - a);
    }
    return t;
}

uint64_t draw_bitmap_window(const font_face &font, int glyph, float scale, const glyph_box &box,
                            const glyph_window &window, unsigned char *rgba, size_t stride) {
    const png_blob png(font, glyph);
    bitmap_place place{};
    if (!png.usable || !place_bitmap(font, glyph, scale, &place)) return 0;
    load_settings settings;
    settings.max_pixels = static_cast<uint64_t>(k_max_png_side) * k_max_png_side;
    settings.max_input_bytes = k_max_png_bytes;
    rgba_image decoded{};
    int format = 0;
    if (decode_image(png.data, png.size, nullptr, settings, FMT_PNG, &decoded, &format) != IMGTEXT_OK) return 0;
    uint64_t work = static_cast<uint64_t>(decoded.width) * static_cast<uint64_t>(decoded.height);

    // Output pixels in box coordinates; the bitmap starts at (ox, oy) there.
    const float ox = place.left - static_cast<float>(box.x0), oy = place.top - static_cast<float>(box.y0);
    const float fx = static_cast<float>(decoded.width) / place.width;
    const float fy = static_cast<float>(decoded.height) / place.height;
    const float area = fx * fy;  // of one output pixel, in source pixels
    const taps columns = taps_for(window.x0, window.x1, ox, fx, decoded.width, &work);
    const taps rows = taps_for(window.y0, window.y1, oy, fy, decoded.height, &work);
    const size_t ww = static_cast<size_t>(window.x1 - window.x0);
    std::vector<float> sum(ww * 4);
    for (size_t r = 0; r < rows.first.size(); ++r) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (int j = 0; j < rows.count[r]; ++j) {
            const float wy = rows.weight[rows.at[r] + static_cast<size_t>(j)];
            const unsigned char *src = decoded.row(rows.first[r] + j);
            for (size_t c = 0; c < ww; ++c) {
                float red = 0.0f, green = 0.0f, blue = 0.0f, alpha = 0.0f;
                for (int k = 0; k < columns.count[c]; ++k) {
                    const unsigned char *p = src + static_cast<size_t>(columns.first[c] + k) * 4;
                    const float wa = columns.weight[columns.at[c] + static_cast<size_t>(k)] * static_cast<float>(p[3]);
                    red = red + wa * static_cast<float>(p[0]);
                    green = green + wa * static_cast<float>(p[1]);
                    blue = blue + wa * static_cast<float>(p[2]);
                    alpha = alpha + wa;
                }
                float *s = &sum[c * 4];
                s[0] = s[0] + wy * red, s[1] = s[1] + wy * green, s[2] = s[2] + wy * blue, s[3] = s[3] + wy * alpha;
            }
            work += ww;
        }
        unsigned char *out = rgba + r * stride;
        for (size_t c = 0; c < ww; ++c) {
            const float *s = &sum[c * 4];
            if (!(s[3] > 0.0f)) continue;
            const int a = static_cast<int>(s[3] / area + 0.5f);
            if (a <= 0) continue;
            for (int ch = 0; ch < 3; ++ch) {
                const int v = static_cast<int>(s[ch] / s[3] + 0.5f);
                out[c * 4 + static_cast<size_t>(ch)] = static_cast<unsigned char>(v < 255 ? v : 255);
            }
            out[c * 4 + 3] = static_cast<unsigned char>(a < 255 ? a : 255);
        }
    }
    std::free(decoded.pixels);
    return work;
}

// ---- COLRv0 layers

struct layer {
    int glyph;
    paint colour;  // opacity: the palette entry's alpha
};

// The glyph's layers that name a glyph the font has, in order, with their
// palette 0 colours (0xFFFF, or an entry the palette lacks: the text's).
std::vector<layer> layers_of(const font_face &font, int glyph, const paint &text) {
    hb_face_t *face = hb_font_get_face(harfbuzz_font(font));
    hb_ot_color_layer_t found[k_max_layers];
    unsigned count = k_max_layers;
    hb_ot_color_glyph_get_layers(face, static_cast<hb_codepoint_t>(glyph), 0, &count, found);
    std::vector<layer> layers;
    for (unsigned i = 0; i < count && i < k_max_layers; ++i) {
        if (found[i].glyph >= static_cast<hb_codepoint_t>(font_glyph_count(font))) continue;
        paint colour{text.red, text.green, text.blue, 1.0f};
        hb_color_t c = 0;
        unsigned one = 1;
        if (found[i].color_index != 0xFFFF &&
            hb_ot_color_palette_get_colors(face, 0, found[i].color_index, &one, &c) > found[i].color_index &&
            one == 1) {
            colour =
                paint{static_cast<float>(hb_color_get_red(c)), static_cast<float>(hb_color_get_green(c)),
                      static_cast<float>(hb_color_get_blue(c)), static_cast<float>(hb_color_get_alpha(c)) / 255.0f};
        }
        layers.push_back(layer{static_cast<int>(found[i].glyph), colour});
    }
    return layers;
}

bool drawable(const glyph_box &b) {
    const int w = b.x1 - b.x0, h = b.y1 - b.y0;
    return w > 0 && h > 0 && static_cast<uint64_t>(w) * static_cast<uint64_t>(h) <= INT32_MAX;
}

uint64_t draw_layers_window(const font_face &font, int glyph, float scale, const glyph_box &box,
                            const glyph_window &window, const paint &text, unsigned char *rgba, size_t stride) {
    uint64_t work = 0;
    std::vector<unsigned char> coverage;
    for (const layer &l : layers_of(font, glyph, text)) {
        const glyph_box lb = glyph_bitmap_box(font, l.glyph, scale);
        ++work;
        if (!drawable(lb)) continue;
        // The window in the layer's bitmap: pen coordinates, then the layer's.
        const int x0 = std::max(box.x0 + window.x0, lb.x0), x1 = std::min(box.x0 + window.x1, lb.x1);
        const int y0 = std::max(box.y0 + window.y0, lb.y0), y1 = std::min(box.y0 + window.y1, lb.y1);
        if (x0 >= x1 || y0 >= y1) continue;
        const glyph_window part{x0 - lb.x0, y0 - lb.y0, x1 - lb.x0, y1 - lb.y0};
        const size_t pw = static_cast<size_t>(x1 - x0), ph = static_cast<size_t>(y1 - y0);
        coverage.assign(pw * ph, 0);
        rasterise_glyph_window(font, l.glyph, scale, lb, part, coverage.data());
        work += pw * ph;
        for (size_t r = 0; r < ph; ++r) {
            unsigned char *out = rgba + static_cast<size_t>(y0 - box.y0 - window.y0 + static_cast<int>(r)) * stride +
                                 static_cast<size_t>(x0 - box.x0 - window.x0) * 4;
            const unsigned char *cov = coverage.data() + r * pw;
            for (size_t c = 0; c < pw; ++c) {
                if (cov[c]) composite_pixel(out + c * 4, cov[c], l.colour);
            }
        }
    }
    return work;
}

}  // namespace

colour_kind colour_kind_of(const font_face &font, int glyph) {
    if (glyph < 0 || glyph >= font_glyph_count(font)) return colour_kind::none;
    bitmap_place extents{};
    if (has_colour_paint(font, glyph) && place_bitmap(font, glyph, 1.0f, &extents)) return colour_kind::paint;
    const uint8_t tables = font_colour_tables(font);
    if (!tables) return colour_kind::none;
    if (tables & colour_bitmaps) {
        const png_blob png(font, glyph);
        bitmap_place place{};
        if (png.usable && place_bitmap(font, glyph, 1.0f, &place)) return colour_kind::bitmap;
    }
    if (tables & colour_layers) {
        hb_face_t *face = hb_font_get_face(harfbuzz_font(font));
        if (hb_ot_color_glyph_get_layers(face, static_cast<hb_codepoint_t>(glyph), 0, nullptr, nullptr) > 0)
            return colour_kind::layers;
    }
    return colour_kind::none;
}

glyph_box colour_glyph_box(const font_face &font, int glyph, colour_kind kind, float scale) {
    if (kind == colour_kind::bitmap || kind == colour_kind::paint) {
        bitmap_place p{};
        if (!place_bitmap(font, glyph, scale, &p)) return {};
        return {clamped_edge(std::floor(p.left)), clamped_edge(std::floor(p.top)),
                clamped_edge(std::ceil(p.left + p.width)), clamped_edge(std::ceil(p.top + p.height))};
    }
    glyph_box all{};
    bool any = false;
    for (const layer &l : layers_of(font, glyph, paint{0, 0, 0, 1})) {
        const glyph_box b = glyph_bitmap_box(font, l.glyph, scale);
        if (!drawable(b)) continue;
        all = any ? glyph_box{std::min(all.x0, b.x0), std::min(all.y0, b.y0), std::max(all.x1, b.x1),
                              std::max(all.y1, b.y1)}
                  : b;
        any = true;
    }
    return all;
}

uint64_t draw_colour_window(const font_face &font, int glyph, colour_kind kind, float scale, const glyph_box &box,
                            const glyph_window &window, const paint &text, unsigned char *rgba, size_t stride) {
    if (kind == colour_kind::bitmap) return draw_bitmap_window(font, glyph, scale, box, window, rgba, stride);
    if (kind == colour_kind::layers) return draw_layers_window(font, glyph, scale, box, window, text, rgba, stride);
    if (kind == colour_kind::paint)
        return draw_colour_paint_window(font, glyph, scale, box, window, text, rgba, stride);
    return 0;
}

}  // namespace imgtext
