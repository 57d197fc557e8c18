// The outline and shadow of text. Both start from the text's coverage as one
// shape: every glyph's coverage over the part of the picture that can matter,
// joined into a single mask, so that glyphs which overlap or kern together
// get one outline and one shadow with no seam between them. Only the text's
// neighbourhood is ever allocated or visited: the cost follows the area
// the text and its outline cover, never the picture's, nor the outline's
// width (src/drawing/outline.cpp).
//
// All arithmetic is single precision in a fixed order, or integers; the only
// function beyond + - * / is sqrt, which IEEE rounds exactly, so the pixels
// are the same on every compiler, optimisation level and platform.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "drawing/drawing.h"
#include "drawing/effects.h"
#include "drawing/outline.h"
#include "drawing/planes.h"
#include "font/font.h"
#include "frame/errors.h"
#include "text/glyph_cache.h"
#include "text/layout.h"
#include "text/render.h"

namespace imgtext {

namespace {

// Where each glyph's bitmap lands, and whether it is drawn at all: the same
// rules as drawing it (no outline, or too large for the rasteriser, draws
// nothing).
struct placed_glyph {
    area box;
    glyph_box local;
    bool drawn;
};

placed_glyph place(const glyph_box &box, float pen, int64_t baseline) {
    const int gw = box.x1 - box.x0, gh = box.y1 - box.y0;
    if (gw <= 0 || gh <= 0 || static_cast<uint64_t>(gw) * static_cast<uint64_t>(gh) > INT32_MAX)
        return {{}, box, false};
    const int64_t gx = static_cast<int64_t>(std::floor(pen)) + box.x0, gy = baseline + box.y0;
    return {{gx, gy, gx + gw, gy + gh}, box, true};
}

// The text as placed, and the call's glyphs (every glyph's box is found
// once, and a glyph that recurs is rasterised once, for the outline and
// the shadow alike).
struct text_placement {
    const text_layout &layout;
    int64_t x, y;
    line_align align;
    glyph_cache &glyphs;
    const paint &fill;
    bool colour = false;  // some glyph is drawn in its own colours
};

area ink_bounds(text_placement &t) {
    area ink;
    for_each_placed_glyph(t.layout, t.x, t.y, t.align, [&](const glyph_ref &g, float pen, int64_t baseline) {
        if (t.glyphs.over_budget()) return;
        const glyph_cache::entry &e = t.glyphs.entry_of(g);
        const placed_glyph p = place(e.box, pen, baseline);
        if (p.drawn) ink = bounding(ink, p.box);
        if (p.drawn && e.colour != colour_kind::none) t.colour = true;
    });
    return ink;
}

// The text's coverage (0..1) over mask.at: glyphs joined as coverage is
// composed (a + b - ab), so overlapping glyphs make one shape. Only the
// part of each glyph inside the area is rasterised. With `colour` allocated
// (over the same area), the fill's colour composed the same way: a colour
// glyph's own pixels, the text colour elsewhere. False if memory ran out.
bool build_mask(const text_placement &t, plane<float> &mask, plane<premultiplied> &colour) {
    bool ok = true;
    for_each_placed_glyph(t.layout, t.x, t.y, t.align, [&](const glyph_ref &g, float pen, int64_t baseline) {
        if (!ok || t.glyphs.over_budget()) return;
        glyph_cache::entry &e = t.glyphs.entry_of(g);
        const placed_glyph p = place(e.box, pen, baseline);
        if (!p.drawn) return;
        const area part = intersect(p.box, mask.at);
        if (part.empty()) return;
        const glyph_window window{static_cast<int>(part.x0 - p.box.x0), static_cast<int>(part.y0 - p.box.y0),
                                  static_cast<int>(part.x1 - p.box.x0), static_cast<int>(part.y1 - p.box.y0)};
        glyph_coverage coverage;
        const size_t ww = static_cast<size_t>(part.width()), wh = static_cast<size_t>(part.height());
        if (colour.v) {
            const bool own = e.colour != colour_kind::none;
            if (own) {
                t.glyphs.colour_pixels(e, g, window, coverage);
            } else {
                t.glyphs.coverage(e, g, window, coverage);
            }
            if (!coverage.bytes) {
                ok = false;
                return;
            }
            const size_t step = own ? 4 : 1;
            for (size_t r = 0; r < wh; ++r) {
                float *m = mask.row(part.y0 + static_cast<int64_t>(r)) + (part.x0 - mask.at.x0);
                premultiplied *p = colour.row(part.y0 + static_cast<int64_t>(r)) + (part.x0 - colour.at.x0);
                const unsigned char *c = coverage.bytes + r * coverage.stride;
                for (size_t i = 0; i < ww; ++i, c += step) {
                    const float a = static_cast<float>(own ? c[3] : c[0]) / 255.0f;
                    if (!(a > 0.0f)) continue;
                    const float under = 1.0f - a;
                    m[i] = m[i] + a - m[i] * a;
                    const float red = own ? static_cast<float>(c[0]) : t.fill.red;
                    const float green = own ? static_cast<float>(c[1]) : t.fill.green;
                    const float blue = own ? static_cast<float>(c[2]) : t.fill.blue;
                    p[i] = premultiplied{red * a + p[i].red * under, green * a + p[i].green * under,
                                         blue * a + p[i].blue * under};
                }
            }
            return;
        }
        t.glyphs.coverage(e, g, window, coverage);
        if (!coverage.bytes) {
            ok = false;
            return;
        }
        for (size_t r = 0; r < wh; ++r) {
            float *m = mask.row(part.y0 + static_cast<int64_t>(r)) + (part.x0 - mask.at.x0);
            const unsigned char *c = coverage.bytes + r * coverage.stride;
            for (size_t i = 0; i < ww; ++i) {
                const float a = static_cast<float>(c[i]) / 255.0f;
                m[i] = m[i] + a - m[i] * a;
            }
        }
    });
    return ok;
}

// The text's fill coverage and, with an outline, the widened shape over an
// area; the silhouette (what a shadow falls from) is the outline's shape
// when there is one.
struct text_shape {
    plane<float> fill, outline;
    plane<premultiplied> colour;  // with an outline and colour glyphs: the fill's colour
    bool has_outline = false;
    float silhouette(int64_t x, int64_t y) const { return has_outline ? outline.get(x, y) : fill.get(x, y); }
};

bool make_shape(text_coverage &t, const area &ink, const area &where, float stroke, text_shape &shape) {
    const int reach = outline_reach(stroke);
    shape.has_outline = stroke > 0.0f;
    if (where.empty()) return true;  // nothing of it lands on the picture
    const area fill_area = intersect(expand(where, reach), ink);
    if (!shape.fill.allocate(fill_area)) return false;
    if (shape.has_outline && t.has_colour() && !shape.colour.allocate(fill_area)) return false;
    if (!t.build(shape.fill, shape.colour)) return false;
    if (!shape.has_outline) return true;
    return shape.outline.allocate(where) && widen_coverage(shape.fill, stroke, shape.outline);
}

// ---- shadow blur: three box blurs in a row approach a Gaussian (the widths
// that match a standard deviation, as image tools compute them), each pass a
// running sum over integers.

struct box_cascade {
    int half[3] = {0, 0, 0};
    int reach() const { return half[0] + half[1] + half[2]; }
};

box_cascade boxes_for(float sigma) {
    box_cascade boxes;
    if (!(sigma > 0.0f)) return boxes;
    const double variance = static_cast<double>(sigma) * static_cast<double>(sigma);
    int lower = static_cast<int>(std::floor(std::sqrt(12.0 * variance / 3.0 + 1.0)));
    if (lower % 2 == 0) --lower;
    const double wl = lower;
    const int lower_count =
        static_cast<int>(std::floor((12.0 * variance - 3.0 * wl * wl - 12.0 * wl - 9.0) / (-4.0 * wl - 4.0) + 0.5));
    for (int i = 0; i < 3; ++i) boxes.half[i] = ((i < lower_count ? lower : lower + 2) - 1) / 2;
    return boxes;
}

// One box pass over n values (zero beyond both ends), rounded to nearest.
void box_pass(const uint32_t *in, uint32_t *out, size_t n, int half) {
    const uint64_t width = 2 * static_cast<uint64_t>(half) + 1;
    uint64_t sum = 0;
    for (size_t j = 0; j < n && j <= static_cast<size_t>(half); ++j) sum += in[j];
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint32_t>((sum + width / 2) / width);
        if (i + half + 1 < n) sum += in[i + half + 1];
        if (i >= static_cast<size_t>(half)) sum -= in[i - half];
    }
}

// Blurs a line in place (scratch has room for n values).
void blur_line(uint32_t *line, uint32_t *scratch, size_t n, const box_cascade &boxes) {
    box_pass(line, scratch, n, boxes.half[0]);
    box_pass(scratch, line, n, boxes.half[1]);
    box_pass(line, scratch, n, boxes.half[2]);
    std::memcpy(line, scratch, n * sizeof(uint32_t));
}

// Coverage in 1/256ths of 0..255, so that rounding between passes stays
// well below what the final 8 bits show.
constexpr float k_blur_one = 255.0f * 256.0f;

bool draw_shadow(const rgba_image &image, const text_shape &shape, const area &source, const text_effects &effects,
                 const box_cascade &boxes) {
    plane<uint32_t> blurred;
    if (!blurred.allocate(expand(source, boxes.reach()))) return false;
    const area &b = blurred.at;
    for (int64_t y = source.y0; y < source.y1; ++y) {
        uint32_t *row = blurred.row(y);
        for (int64_t x = source.x0; x < source.x1; ++x)
            row[x - b.x0] = static_cast<uint32_t>(shape.silhouette(x, y) * k_blur_one + 0.5f);
    }
    if (boxes.reach() > 0) {
        const size_t w = static_cast<size_t>(b.width()), h = static_cast<size_t>(b.height());
        auto *scratch = static_cast<uint32_t *>(std::malloc(2 * std::max(w, h) * sizeof(uint32_t)));
        if (!scratch) return false;
        uint32_t *column = scratch + std::max(w, h);
        for (int64_t y = source.y0; y < source.y1; ++y)
            blur_line(blurred.row(y), scratch, w, boxes);  // other rows are 0
        for (size_t x = 0; x < w; ++x) {
            for (size_t y = 0; y < h; ++y) column[y] = blurred.v[y * w + x];
            blur_line(column, scratch, h, boxes);
            for (size_t y = 0; y < h; ++y) blurred.v[y * w + x] = column[y];
        }
        std::free(scratch);
    }
    const imgtext_color c = effects.shadow_colour;
    const paint colour{static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b),
                       effects.opacity * (static_cast<float>(c.a) / 255.0f)};
    const area lands = intersect(shift(b, effects.shadow_dx, effects.shadow_dy), area{0, 0, image.width, image.height});
    for (int64_t y = lands.y0; y < lands.y1; ++y) {
        const uint32_t *from = blurred.row(y - effects.shadow_dy);
        const int64_t from_x = b.x0 + effects.shadow_dx;  // the picture's column of from[0]
        unsigned char *d = image.row(y);
        for (int64_t x = lands.x0; x < lands.x1; ++x) {
            const uint32_t coverage = (from[x - from_x] + 128) >> 8;
            if (coverage) composite_pixel(d + static_cast<size_t>(x) * 4, static_cast<unsigned char>(coverage), colour);
        }
    }
    return true;
}

// The outlined text: the fill over its outline, composed first and then
// blended at the text's opacity, so a translucent fill never shows the
// outline through it.
void draw_outlined(const rgba_image &image, const text_shape &shape, const area &where, const paint &fill,
                   const text_effects &effects) {
    const imgtext_color sc = effects.stroke_colour;
    const float stroke_alpha = static_cast<float>(sc.a) / 255.0f;
    for (int64_t y = where.y0; y < where.y1; ++y) {
        unsigned char *d = image.row(y);
        for (int64_t x = where.x0; x < where.x1; ++x) {
            const float f = shape.fill.get(x, y) * effects.text_alpha;
            const float s = shape.outline.get(x, y) * stroke_alpha;
            const float under = s * (1.0f - f);
            const float alpha = f + under;
            if (!(alpha > 0.0f)) continue;
            const int coverage = static_cast<int>(alpha * 255.0f + 0.5f);
            if (coverage == 0) continue;
            if (shape.colour.v) {  // the fill's colour varies: it is premultiplied by the fill's coverage
                const premultiplied p = shape.colour.get(x, y);
                const float a = effects.text_alpha;
                const paint mixed{(p.red * a + static_cast<float>(sc.r) * under) / alpha,
                                  (p.green * a + static_cast<float>(sc.g) * under) / alpha,
                                  (p.blue * a + static_cast<float>(sc.b) * under) / alpha, effects.opacity};
                composite_pixel(d + static_cast<size_t>(x) * 4, static_cast<unsigned char>(coverage), mixed);
                continue;
            }
            const paint mixed{(fill.red * f + static_cast<float>(sc.r) * under) / alpha,
                              (fill.green * f + static_cast<float>(sc.g) * under) / alpha,
                              (fill.blue * f + static_cast<float>(sc.b) * under) / alpha, effects.opacity};
            composite_pixel(d + static_cast<size_t>(x) * 4, static_cast<unsigned char>(coverage), mixed);
        }
    }
}

// Laid-out text as it always was drawn.
class placed_text final : public text_coverage {
public:
    explicit placed_text(text_placement &t) : t_(t) {}
    area ink() override { return ink_bounds(t_); }
    bool has_colour() const override { return t_.colour; }
    bool build(plane<float> &mask, plane<premultiplied> &colour) override { return build_mask(t_, mask, colour); }
    bool fill(const rgba_image &image, const paint &colour) override {
        render_layout(image, t_.layout, t_.x, t_.y, colour, t_.align, t_.glyphs);
        return true;
    }

private:
    text_placement &t_;
};

}  // namespace

int shadow_blur_reach(float sigma) { return boxes_for(sigma).reach(); }

imgtext_status draw_text_effects(const rgba_image &image, const text_layout &layout, int64_t x, int64_t y,
                                 const paint &colour, line_align align, const text_effects &effects,
                                 glyph_cache &glyphs) {
    text_placement t{layout, x, y, align, glyphs, colour};
    placed_text text(t);
    return draw_coverage_effects(image, text, colour, effects, glyphs);
}

imgtext_status draw_coverage_effects(const rgba_image &image, text_coverage &t, const paint &colour,
                                     const text_effects &effects, glyph_cache &glyphs) {
    const area ink = t.ink();
    if (glyphs.over_budget()) return glyphs.work_exceeded();
    if (ink.empty()) return IMGTEXT_OK;
    const area picture{0, 0, image.width, image.height};
    const float stroke = effects.stroke_width > 0.0f ? effects.stroke_width : 0.0f;
    const int reach = outline_reach(stroke);
    const area shaped = expand(ink, reach);  // where the text and its outline can be

    // The outlined text lands on `layer`; the shadow on `shadow_lands`, from
    // the silhouette over `shadow_source`.
    const area layer = stroke > 0.0f ? intersect(shaped, picture) : area{};
    const box_cascade boxes = effects.shadow ? boxes_for(effects.shadow_blur) : box_cascade{};
    area shadow_source;
    if (effects.shadow) {
        const area lands =
            intersect(shift(expand(shaped, boxes.reach()), effects.shadow_dx, effects.shadow_dy), picture);
        if (!lands.empty()) {
            shadow_source =
                intersect(expand(shift(lands, -effects.shadow_dx, -effects.shadow_dy), boxes.reach()), shaped);
        }
    }

    // One shape serves both when they overlap enough; else one each, so a
    // far shadow never makes the text's whole span between them allocated.
    // A shape whose glyphs went over the call's work budget is not drawn.
    text_shape shared, own;
    const area both = bounding(layer, shadow_source);
    const bool share =
        !layer.empty() && !shadow_source.empty() && both.pixels() <= layer.pixels() + shadow_source.pixels();
    bool ok = true;
    if (!shadow_source.empty()) {
        text_shape &shape = share ? shared : own;
        ok = make_shape(t, ink, share ? both : shadow_source, stroke, shape) && !glyphs.over_budget() &&
             draw_shadow(image, shape, shadow_source, effects, boxes);
    }
    if (ok && stroke > 0.0f) {
        text_shape fresh;
        const text_shape *shape = &shared;
        if (!share) {
            ok = make_shape(t, ink, layer, stroke, fresh) && !glyphs.over_budget();
            shape = &fresh;
        }
        if (ok) draw_outlined(image, *shape, layer, colour, effects);
    } else if (ok) {
        ok = t.fill(image, colour);
    }
    if (glyphs.over_budget()) return glyphs.work_exceeded();
    if (!ok) return set_error(IMGTEXT_ERROR_MEMORY, "out of memory drawing the outline or shadow");
    return IMGTEXT_OK;
}

}  // namespace imgtext
