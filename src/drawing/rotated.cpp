// Rotated text. Each glyph's outline, flattened as the rasteriser flattens
// it, is turned and moved to its pen's place on the picture in double
// precision, then rasterised there by the same rasteriser upright text uses,
// over only the part of the picture its turned box can touch. A colour
// glyph has no outline to turn: its upright picture (the bitmap scaled, or
// the layers composited, as upright text draws them) is sampled instead,
// bilinearly, at each picture pixel's centre taken back through the same
// frame. Upright text never comes here: it keeps its own path and bytes.
#include "drawing/rotated.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "drawing/effects.h"
#include "drawing/outline.h"
#include "drawing/planes.h"
#include "font/font.h"
#include "frame/errors.h"
#include "image/paint.h"
#include "text/glyph_cache.h"
#include "text/layout.h"

namespace imgtext {

namespace {

// Sine and cosine of an angle in degrees from + - * / alone, in a fixed
// order, so that turned text is the same on every platform: the C
// library's sin and cos differ between Linux and Windows in the last bits.
// Exact reduction by symmetry to [0, 45] degrees, then Taylor series to
// well below double precision there.
void sin_cos_degrees(double degrees, double &sine, double &cosine) {
    double d = std::fmod(degrees, 360.0);  // exact
    if (d < 0.0) d += 360.0;
    const int octant = static_cast<int>(d / 45.0);
    double r = d - 45.0 * octant;  // exact: both are multiples of 2^-k well within 53 bits
    const bool mirrored = (octant & 1) != 0;
    if (mirrored) r = 45.0 - r;
    const double x = r * (3.141592653589793 / 180.0), x2 = x * x;
    double s = 0.0, c = 0.0, term_s = x, term_c = 1.0;
    for (int k = 1; k <= 10; ++k) {
        s = s + term_s;
        c = c + term_c;
        term_s = -term_s * x2 / static_cast<double>((2 * k) * (2 * k + 1));
        term_c = -term_c * x2 / static_cast<double>((2 * k - 1) * (2 * k));
    }
    // In [0, 45]: (s, c). Mirrored octants swap them; then the quadrant's signs.
    double sx = mirrored ? c : s, cx = mirrored ? s : c;
    switch (octant / 2) {
        case 0: sine = sx, cosine = cx; break;
        case 1: sine = cx, cosine = -sx; break;
        case 2: sine = -sx, cosine = -cx; break;
        default: sine = -cx, cosine = sx; break;
    }
}

// Pixel coordinates far beyond any picture saturate rather than overflow.
int64_t to_pixel(double v) {
    constexpr double limit = 4611686018427387904.0;  // 2^62
    if (!(v > -limit)) return -(int64_t{1} << 62);
    if (!(v < limit)) return int64_t{1} << 62;
    return static_cast<int64_t>(v);
}
int64_t floor_pixel(double v) { return to_pixel(std::floor(v)); }
int64_t ceil_pixel(double v) { return to_pixel(std::ceil(v)); }

struct extent {
    double x0, y0, x1, y1;
    void add(double x, double y) {
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
};

// The frame's picture of the local rectangle [u0, u1] x [v0, v1].
extent turned_extent(const text_frame &f, double u0, double v0, double u1, double v1) {
    extent e{f.x(u0, v0), f.y(u0, v0), f.x(u0, v0), f.y(u0, v0)};
    e.add(f.x(u1, v0), f.y(u1, v0));
    e.add(f.x(u0, v1), f.y(u0, v1));
    e.add(f.x(u1, v1), f.y(u1, v1));
    return e;
}

// Rasterises polygons given in picture pixels (xy) over an area, in bands
// of rows so that a large area needs little memory, calling
// use(row, first column, coverage, width) for each row.
template <typename Use>
void rasterise_over(const std::vector<double> &xy, const std::vector<int> &lengths, const area &where, Use use) {
    constexpr int64_t band = 256;
    const int w = static_cast<int>(where.width());
    flat_outline local;
    local.lengths = lengths;
    local.xy.resize(xy.size());
    std::vector<unsigned char> coverage;
    for (int64_t top = where.y0; top < where.y1; top += band) {
        const int h = static_cast<int>(std::min(band, where.y1 - top));
        for (size_t i = 0; i < xy.size(); i += 2) {
            local.xy[i] = static_cast<float>(xy[i] - static_cast<double>(where.x0));
            local.xy[i + 1] = static_cast<float>(xy[i + 1] - static_cast<double>(top));
        }
        coverage.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
        rasterise_polygons(local, 0, 0, w, h, coverage.data());
        for (int r = 0; r < h; ++r) use(top + r, where.x0, coverage.data() + static_cast<size_t>(r) * w, w);
    }
}

// The part of a colour glyph's upright picture that the picture's pixels in
// `part` sample, turned back through the frame: the glyph's box (in box
// pixels) of gw x gh, its top-left at (gu, gv) in the text box. Empty when
// no sample of `part` reaches it.
glyph_window sampled_window(const text_frame &f, double gu, double gv, int gw, int gh, const area &part) {
    double u0 = 1e300, v0 = 1e300, u1 = -1e300, v1 = -1e300;
    for (const int64_t x : {part.x0, part.x1}) {
        for (const int64_t y : {part.y0, part.y1}) {
            const double dx = static_cast<double>(x) - f.ox, dy = static_cast<double>(y) - f.oy;
            const double u = (dx * f.t.c - dy * f.t.s) - gu, v = (dx * f.t.s + dy * f.t.c) - gv;
            u0 = std::min(u0, u), u1 = std::max(u1, u), v0 = std::min(v0, v), v1 = std::max(v1, v);
        }
    }
    // A sample at (u, v) reads the pixels whose centres are within one of it.
    const auto clamp = [](double value, int most) {
        return static_cast<int>(std::max(0.0, std::min(static_cast<double>(most), value)));
    };
    const glyph_window w{clamp(std::floor(u0) - 1.0, gw), clamp(std::floor(v0) - 1.0, gh),
                         clamp(std::ceil(u1) + 1.0, gw), clamp(std::ceil(v1) + 1.0, gh)};
    return w.x0 < w.x1 && w.y0 < w.y1 ? w : glyph_window{0, 0, 0, 0};
}

// One row of a turned colour glyph: each pixel of [x0, x0 + w) on row y
// takes the bilinear mean, in premultiplied colour, of the four pixels of
// the upright picture around its centre taken back through the frame
// (pixels beyond the window are clear), written as straight RGBA. (gu, gv)
// is the window's top-left in the text box. Single precision from the
// sample's place on, in a fixed order.
void sample_turned_row(const text_frame &f, double gu, double gv, const glyph_coverage &pixels, int ww, int wh,
                       int64_t y, int64_t x0, int w, unsigned char *out) {
    const double dy = static_cast<double>(y) + 0.5 - f.oy;
    for (int i = 0; i < w; ++i) {
        unsigned char *o = out + static_cast<size_t>(i) * 4;
        o[0] = o[1] = o[2] = o[3] = 0;
        const double dx = static_cast<double>(x0 + i) + 0.5 - f.ox;
        // The centre in window pixels, whose own centres are at k + 0.5.
        const double u = (dx * f.t.c - dy * f.t.s) - gu - 0.5, v = (dx * f.t.s + dy * f.t.c) - gv - 0.5;
        if (!(u > -1.0 && v > -1.0 && u < static_cast<double>(ww) && v < static_cast<double>(wh))) continue;
        const double fu = std::floor(u), fv = std::floor(v);
        const int a = static_cast<int>(fu), b = static_cast<int>(fv);
        const float tx = static_cast<float>(u - fu), ty = static_cast<float>(v - fv);
        const float weights[4] = {(1.0f - tx) * (1.0f - ty), tx * (1.0f - ty), (1.0f - tx) * ty, tx * ty};
        float red = 0.0f, green = 0.0f, blue = 0.0f, alpha = 0.0f;
        for (int k = 0; k < 4; ++k) {
            const int px = a + (k & 1), py = b + (k >> 1);
            if (px < 0 || py < 0 || px >= ww || py >= wh) continue;
            const unsigned char *p =
                pixels.bytes + static_cast<size_t>(py) * pixels.stride + static_cast<size_t>(px) * 4;
            const float wa = weights[k] * static_cast<float>(p[3]);
            red = red + wa * static_cast<float>(p[0]);
            green = green + wa * static_cast<float>(p[1]);
            blue = blue + wa * static_cast<float>(p[2]);
            alpha = alpha + wa;
        }
        const int coverage = static_cast<int>(alpha + 0.5f);
        if (coverage <= 0) continue;
        const float channels[3] = {red, green, blue};
        for (int ch = 0; ch < 3; ++ch) {
            const int value = static_cast<int>(channels[ch] / alpha + 0.5f);
            o[ch] = static_cast<unsigned char>(value < 255 ? value : 255);
        }
        o[3] = static_cast<unsigned char>(coverage < 255 ? coverage : 255);
    }
}

// The laid-out text drawn with a frame.
class turned_text final : public text_coverage {
public:
    turned_text(const text_layout &layout, line_align align, const text_frame &frame, glyph_cache &glyphs,
                const paint &fill)
        : layout_(layout), align_(align), frame_(frame), glyphs_(glyphs), fill_(fill) {}

    area ink() override {
        area ink;
        for_each_placed_glyph(layout_, 0, 0, align_, [&](const glyph_ref &g, float pen, int64_t baseline) {
            if (glyphs_.over_budget()) return;
            const glyph_cache::entry &e = glyphs_.entry_of(g);
            const area a = glyph_area(e.box, pen, baseline);
            ink = bounding(ink, a);
            if (!a.empty() && e.colour != colour_kind::none) colour_ = true;
        });
        return ink;
    }

    bool has_colour() const override { return colour_; }

    // Coverage joined as a + b - ab; with a colour plane, the fill's colour
    // (a colour glyph's own, the text's elsewhere) premultiplied and joined
    // the same way, as upright text builds them.
    bool build(plane<float> &mask, plane<premultiplied> &colour) override {
        auto join = [&](int64_t y, int64_t x0, int w, auto alpha_of, auto colour_of) {
            float *m = mask.row(y) + (x0 - mask.at.x0);
            premultiplied *p = colour.v ? colour.row(y) + (x0 - colour.at.x0) : nullptr;
            for (int i = 0; i < w; ++i) {
                const float a = alpha_of(i) / 255.0f;
                if (!(a > 0.0f)) continue;
                m[i] = m[i] + a - m[i] * a;
                if (!p) continue;
                const paint c = colour_of(i);
                const float under = 1.0f - a;
                p[i] = premultiplied{c.red * a + p[i].red * under, c.green * a + p[i].green * under,
                                     c.blue * a + p[i].blue * under};
            }
        };
        return each_part(
            mask.at,
            [&](int64_t y, int64_t x0, const unsigned char *c, int w) {
                join(
                    y, x0, w, [&](int i) { return static_cast<float>(c[i]); }, [&](int) { return fill_; });
            },
            [&](int64_t y, int64_t x0, const unsigned char *rgba, int w) {
                join(
                    y, x0, w, [&](int i) { return static_cast<float>(rgba[i * 4 + 3]); },
                    [&](int i) {
                        const unsigned char *q = rgba + i * 4;
                        return paint{static_cast<float>(q[0]), static_cast<float>(q[1]), static_cast<float>(q[2]),
                                     1.0f};
                    });
            });
    }

    // Glyph by glyph, as upright text is composited: a colour glyph's pixels
    // in their own colours at the text's opacity (which holds the text
    // colour's alpha).
    bool fill(const rgba_image &image, const paint &colour) override {
        return each_part(
            area{0, 0, image.width, image.height},
            [&](int64_t y, int64_t x0, const unsigned char *c, int w) {
                unsigned char *d = image.row(y) + static_cast<size_t>(x0) * 4;
                for (int i = 0; i < w; ++i)
                    if (c[i]) composite_pixel(d + static_cast<size_t>(i) * 4, c[i], colour);
            },
            [&](int64_t y, int64_t x0, const unsigned char *rgba, int w) {
                unsigned char *d = image.row(y) + static_cast<size_t>(x0) * 4;
                for (int i = 0; i < w; ++i) {
                    const unsigned char *q = rgba + static_cast<size_t>(i) * 4;
                    if (!q[3]) continue;
                    const paint own{static_cast<float>(q[0]), static_cast<float>(q[1]), static_cast<float>(q[2]),
                                    colour.opacity};
                    composite_pixel(d + static_cast<size_t>(i) * 4, q[3], own);
                }
            });
    }

private:
    // Where the glyph's bitmap box, turned about its pen, can touch: drawn
    // by the same rules as upright glyphs (none for an empty box or one too
    // large for the rasteriser).
    area glyph_area(const glyph_box &b, float pen, int64_t baseline) const {
        const int gw = b.x1 - b.x0, gh = b.y1 - b.y0;
        if (gw <= 0 || gh <= 0 || static_cast<uint64_t>(gw) * static_cast<uint64_t>(gh) > INT32_MAX) return {};
        const double u = pen, v = static_cast<double>(baseline);
        const extent e = turned_extent(frame_, u + b.x0, v + b.y0, u + b.x1, v + b.y1);
        return {floor_pixel(e.x0) - 1, floor_pixel(e.y0) - 1, ceil_pixel(e.x1) + 1, ceil_pixel(e.y1) + 1};
    }

    const flat_outline &outline_of(const glyph_ref &g) {
        const auto key = std::make_pair(g.font, g.glyph);
        auto found = outlines_.find(key);
        if (found != outlines_.end()) return found->second;
        flat_outline &o = outlines_[key];
        glyph_flat_outline(*g.font, g.glyph, g.scale, o);
        return o;
    }

    // Samples the colour glyph's upright picture over `part`, row by row.
    template <typename UseColour>
    bool turn_colour(glyph_cache::entry &e, const glyph_ref &g, float pen, int64_t baseline, const area &part,
                     UseColour use_colour) {
        const glyph_box b = e.box;
        const double gu = static_cast<double>(pen) + b.x0, gv = static_cast<double>(baseline) + b.y0;
        const glyph_window window = sampled_window(frame_, gu, gv, b.x1 - b.x0, b.y1 - b.y0, part);
        if (window.x0 >= window.x1) return true;
        glyph_coverage pixels;
        glyphs_.colour_pixels(e, g, window, pixels);
        if (!pixels.bytes) return false;
        const size_t w = static_cast<size_t>(part.width());
        if (w > SIZE_MAX / 4) return false;
        row_.resize(w * 4);
        for (int64_t y = part.y0; y < part.y1; ++y) {
            sample_turned_row(frame_, gu + window.x0, gv + window.y0, pixels, window.x1 - window.x0,
                              window.y1 - window.y0, y, part.x0, static_cast<int>(w), row_.data());
            use_colour(y, part.x0, row_.data(), static_cast<int>(w));
        }
        return true;
    }

    // Rasterises each glyph's part inside `within` and passes its rows on:
    // coverage to use, a colour glyph's straight RGBA to use_colour.
    template <typename Use, typename UseColour>
    bool each_part(const area &within, Use use, UseColour use_colour) {
        std::vector<double> xy;
        bool ok = true;
        for_each_placed_glyph(layout_, 0, 0, align_, [&](const glyph_ref &g, float pen, int64_t baseline) {
            if (!ok || glyphs_.over_budget()) return;
            glyph_cache::entry &e = glyphs_.entry_of(g);
            const area part = intersect(glyph_area(e.box, pen, baseline), within);
            if (part.empty()) return;
            if (e.colour != colour_kind::none) {
                ok = turn_colour(e, g, pen, baseline, part, use_colour);
                return;
            }
            const flat_outline &o = outline_of(g);
            if (o.lengths.empty()) return;
            xy.resize(o.xy.size());
            const double gu = pen, gv = static_cast<double>(baseline);
            const double scale = g.scale;
            for (size_t i = 0; i < o.xy.size(); i += 2) {
                const double u = gu + o.xy[i] * scale, v = gv - o.xy[i + 1] * scale;
                xy[i] = frame_.x(u, v), xy[i + 1] = frame_.y(u, v);
            }
            rasterise_over(xy, o.lengths, part, use);
        });
        return ok;
    }

    const text_layout &layout_;
    line_align align_;
    text_frame frame_;
    glyph_cache &glyphs_;
    paint fill_;
    bool colour_ = false;
    std::vector<unsigned char> row_;
    std::map<std::pair<const font_face *, int>, flat_outline> outlines_;
};

// The box (padding beyond the text box, corners rounded to the radius)
// turned with the text, antialiased at its edges.
void draw_turned_box(const rgba_image &image, const text_request &request, const text_layout &layout,
                     const text_frame &frame) {
    const double p = static_cast<double>(request.padding > 0 ? request.padding : 0);
    const double u0 = -p, v0 = -p, u1 = static_cast<double>(layout.box_width) + p,
                 v1 = static_cast<double>(layout.box_height) + p;
    const double radius = std::min(static_cast<double>(request.box_radius), std::min(u1 - u0, v1 - v0) * 0.5);
    std::vector<double> xy;
    auto add = [&](double u, double v) { xy.push_back(frame.x(u, v)), xy.push_back(frame.y(u, v)); };
    if (radius > 0.0) {
        // Segments short enough that an arc strays under a third of a pixel.
        const double step = 2.0 * std::sqrt(2.0 * 0.35 / radius);
        const int n = static_cast<int>(std::min(256.0, std::max(2.0, std::ceil(1.5707963267948966 / step))));
        const double centres[4][2] = {{u0 + radius, v0 + radius},
                                      {u1 - radius, v0 + radius},
                                      {u1 - radius, v1 - radius},
                                      {u0 + radius, v1 - radius}};
        for (int k = 0; k < 4; ++k) {
            for (int i = 0; i <= n; ++i) {
                double sine = 0.0, cosine = 0.0;
                sin_cos_degrees(180.0 * (1.0 + 0.5 * k + 0.5 * i / n), sine, cosine);
                add(centres[k][0] + radius * cosine, centres[k][1] + radius * sine);
            }
        }
    } else {
        add(u0, v0), add(u1, v0), add(u1, v1), add(u0, v1);
    }
    const extent e = turned_extent(frame, u0, v0, u1, v1);
    const area where = intersect(area{floor_pixel(e.x0), floor_pixel(e.y0), ceil_pixel(e.x1), ceil_pixel(e.y1)},
                                 area{0, 0, image.width, image.height});
    if (where.empty() || request.box_colour.a == 0) return;
    const imgtext_color c = request.box_colour;
    const paint colour{static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b),
                       static_cast<float>(c.a) / 255.0f};
    rasterise_over(xy, {static_cast<int>(xy.size() / 2)}, where,
                   [&](int64_t y, int64_t x0, const unsigned char *cov, int w) {
                       unsigned char *d = image.row(y) + static_cast<size_t>(x0) * 4;
                       for (int i = 0; i < w; ++i)
                           if (cov[i]) composite_pixel(d + static_cast<size_t>(i) * 4, cov[i], colour);
                   });
}

}  // namespace

turn turn_of(float degrees) {
    double d = std::fmod(static_cast<double>(degrees), 360.0);
    if (d < 0.0) d += 360.0;
    if (d == 0.0) return {1.0f, 0.0f};
    if (d == 90.0) return {0.0f, 1.0f};
    if (d == 180.0) return {-1.0f, 0.0f};
    if (d == 270.0) return {0.0f, -1.0f};
    double sine = 0.0, cosine = 0.0;
    sin_cos_degrees(d, sine, cosine);
    return {static_cast<float>(cosine), static_cast<float>(sine)};
}

turned_bounds bounds_of(const text_frame &frame, int64_t w, int64_t h) {
    const extent e = turned_extent(frame, 0.0, 0.0, static_cast<double>(w), static_cast<double>(h));
    const int64_t x0 = floor_pixel(e.x0), y0 = floor_pixel(e.y0);
    return {x0, y0, ceil_pixel(e.x1) - x0, ceil_pixel(e.y1) - y0};
}

text_frame frame_for(const placement &where, int64_t image_width, int64_t image_height, int64_t w, int64_t h, turn t) {
    text_frame f;
    f.t = t;
    if (where.by_gravity) {
        const turned_bounds b = bounds_of(f, w, h);
        const box_origin at = place_box(where, image_width, image_height, b.width, b.height);
        f.ox = static_cast<double>(at.x - b.x), f.oy = static_cast<double>(at.y - b.y);
        return f;
    }
    // The anchor point in the box, as place_box finds it for upright text.
    const int column = static_cast<int>(where.position) % 3, row = static_cast<int>(where.position) / 3;
    const double au = static_cast<double>(column == 0 ? 0 : column == 1 ? w / 2 : w);
    const double av = static_cast<double>(row == 0 ? 0 : row == 1 ? h / 2 : h);
    f.ox = static_cast<double>(where.x) - (au * t.c + av * t.s);
    f.oy = static_cast<double>(where.y) - (av * t.c - au * t.s);
    return f;
}

area turned_drawn_area(const text_request &request, const text_layout &layout, const text_frame &frame) {
    glyph_cache glyphs(request.max_steps);
    glyphs.set_colour_glyphs(!request.layout.face.outlines_only, request.colour);
    turned_text text(layout, request.align, frame, glyphs, request.colour);
    area drawn = text.ink();
    const text_effects &e = request.effects;
    if (e.any() && !drawn.empty()) {
        drawn = expand(drawn, outline_reach(e.stroke_width > 0.0f ? e.stroke_width : 0.0f));
        if (e.shadow)
            drawn = bounding(drawn, expand(shift(drawn, e.shadow_dx, e.shadow_dy), shadow_blur_reach(e.shadow_blur)));
    }
    if (request.box) {
        const double p = static_cast<double>(request.padding > 0 ? request.padding : 0);
        const extent b = turned_extent(frame, -p, -p, static_cast<double>(layout.box_width) + p,
                                       static_cast<double>(layout.box_height) + p);
        drawn = bounding(drawn, area{floor_pixel(b.x0), floor_pixel(b.y0), ceil_pixel(b.x1), ceil_pixel(b.y1)});
    }
    return drawn;
}

imgtext_status draw_turned(const rgba_image &image, const text_request &request, const text_layout &layout,
                           const text_frame &frame) {
    if (request.box) draw_turned_box(image, request, layout, frame);
    glyph_cache glyphs(request.max_steps);
    glyphs.set_colour_glyphs(!request.layout.face.outlines_only, request.colour);
    turned_text text(layout, request.align, frame, glyphs, request.colour);
    if (request.effects.any()) return draw_coverage_effects(image, text, request.colour, request.effects, glyphs);
    const bool ok = text.fill(image, request.colour);
    if (glyphs.over_budget()) return glyphs.work_exceeded();
    if (!ok) return set_error(IMGTEXT_ERROR_MEMORY, "out of memory drawing rotated text");
    return IMGTEXT_OK;
}

imgtext_status draw_rotated_text(const rgba_image &image, const text_request &request, const placement &where,
                                 turned_bounds *bounds, text_layout *result, float *size) {
    owned_layout laid_out;
    // Auto-size fits the text box on the text's own axes, before it turns.
    float size_used = 0.0f;
    imgtext_status status = lay_out_request(request, &laid_out.layout, &size_used);
    if (status != IMGTEXT_OK) return status;
    const text_layout &layout = laid_out.layout;
    const text_frame frame =
        frame_for(where, image.width, image.height, layout.box_width, layout.box_height, turn_of(request.rotation));
    status = draw_turned(image, request, layout, frame);
    if (status != IMGTEXT_OK) return status;
    if (bounds) *bounds = bounds_of(frame, layout.box_width, layout.box_height);
    if (size) *size = size_used;
    if (result) {
        *result = layout;
        laid_out.layout = text_layout{};
    }
    return IMGTEXT_OK;
}

}  // namespace imgtext
