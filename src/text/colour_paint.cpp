// COLRv1 paint graphs (see colour_paint.h). HarfBuzz reads and sanitizes the
// table and walks the graph (bounding its nesting and edges); the callbacks
// here paint what it names into surfaces of premultiplied colour in 0..1,
// one per open group, under a stack of clip masks (coverage in 0..1, each
// already the intersection of those below it) and a stack of transforms.
//
// The window is painted in bands of rows, so that a large glyph needs
// little memory: each band walks the graph again. A hostile font is bounded
// by the nesting depth of its clips and groups and by the number of painting
// operations of one walk (both in the public header); what lies beyond
// either is left out.
//
// All arithmetic is single precision in a fixed order, but for the sweep
// gradient's angle, which is the library's own arctangent in double
// precision from + - * / and sqrt (the C library's atan2 differs between
// platforms in the last bits), so the pixels are the same everywhere.
#include "text/colour_paint.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <hb-ot.h>
#include <hb.h>

namespace imgtext {

namespace {

constexpr int k_max_depth = QUENDAL_IMGTEXT_MAX_COLOR_PAINT_DEPTH;
constexpr unsigned k_max_operations = QUENDAL_IMGTEXT_MAX_COLOR_PAINT_OPERATIONS;
constexpr unsigned k_max_stops = 256;       // a colour line's stops beyond this are left out
constexpr size_t k_band_pixels = 1u << 18;  // the pixels of one band of rows

// x' = xx x + xy y + dx, y' = yx x + yy y + dy, as HarfBuzz gives them.
struct affine {
    float xx = 1, yx = 0, xy = 0, yy = 1, dx = 0, dy = 0;
};

// a after b.
affine after(const affine &a, const affine &b) {
    return {a.xx * b.xx + a.xy * b.yx, a.yx * b.xx + a.yy * b.yx,        a.xx * b.xy + a.xy * b.yy,
            a.yx * b.xy + a.yy * b.yy, a.xx * b.dx + a.xy * b.dy + a.dx, a.yx * b.dx + a.yy * b.dy + a.dy};
}

struct colour {
    float r = 0, g = 0, b = 0, a = 0;  // premultiplied
};

colour premultiplied(hb_color_t c) {
    const float a = static_cast<float>(hb_color_get_alpha(c)) / 255.0f;
    return {static_cast<float>(hb_color_get_red(c)) / 255.0f * a,
            static_cast<float>(hb_color_get_green(c)) / 255.0f * a,
            static_cast<float>(hb_color_get_blue(c)) / 255.0f * a, a};
}

colour mix(const colour &p, const colour &q, float t) {
    return {p.r + (q.r - p.r) * t, p.g + (q.g - p.g) * t, p.b + (q.b - p.b) * t, p.a + (q.a - p.a) * t};
}

// ---- colour lines

struct stop {
    float offset;
    colour c;
};

struct colour_line {
    std::vector<stop> stops;
    hb_paint_extend_t extend = HB_PAINT_EXTEND_PAD;

    explicit colour_line(hb_color_line_t *line) {
        unsigned count = std::min(hb_color_line_get_color_stops(line, 0, nullptr, nullptr), k_max_stops);
        std::vector<hb_color_stop_t> raw(count);
        hb_color_line_get_color_stops(line, 0, &count, raw.data());
        for (unsigned i = 0; i < count && i < raw.size(); ++i) {
            if (std::isfinite(raw[i].offset)) stops.push_back(stop{raw[i].offset, premultiplied(raw[i].color)});
        }
        std::stable_sort(stops.begin(), stops.end(), [](const stop &a, const stop &b) { return a.offset < b.offset; });
        extend = hb_color_line_get_extend(line);
    }

    // The colour at t, the line extended beyond its first and last stops.
    colour at(float t) const {
        if (stops.empty()) return {};
        const float first = stops.front().offset, last = stops.back().offset, length = last - first;
        if (length > 0.0f && extend != HB_PAINT_EXTEND_PAD && std::isfinite(t)) {
            float u = (t - first) / length;
            if (extend == HB_PAINT_EXTEND_REPEAT) {
                u = u - std::floor(u);
            } else {
                u = u - 2.0f * std::floor(u * 0.5f);
                if (u > 1.0f) u = 2.0f - u;
            }
            t = first + u * length;
        }
        if (!(t > first)) return stops.front().c;
        if (!(t < last)) return stops.back().c;
        size_t k = 0;
        while (k + 2 < stops.size() && !(t < stops[k + 1].offset)) ++k;
        const stop &p = stops[k], &q = stops[k + 1];
        const float span = q.offset - p.offset;
        return span > 0.0f ? mix(p.c, q.c, (t - p.offset) / span) : q.c;
    }
};

// The angle of (x, y) counterclockwise from the x axis, in [0, 2 pi): the
// arctangent of the smaller over the larger side, halved twice by
// atan z = 2 atan(z / (1 + sqrt(1 + z^2))) to below tan(pi / 16), then its
// series, then the octant's symmetries.
double angle_of(double x, double y) {
    const double pi = 3.141592653589793;
    const double ax = std::fabs(x), ay = std::fabs(y);
    if (!(ax > 0.0 || ay > 0.0)) return 0.0;
    const bool steep = ay > ax;
    double z = steep ? ax / ay : ay / ax;
    z = z / (1.0 + std::sqrt(1.0 + z * z));
    z = z / (1.0 + std::sqrt(1.0 + z * z));
    const double z2 = z * z;
    double sum = 0.0, power = z;
    for (int k = 0; k < 14; ++k) {
        sum = sum + ((k & 1) ? -power : power) / static_cast<double>(2 * k + 1);
        power = power * z2;
    }
    double a = 4.0 * sum;
    if (steep) a = pi / 2.0 - a;
    if (x < 0.0) a = pi - a;
    if (y < 0.0) a = 2.0 * pi - a;
    return a;
}

// Coordinates far beyond any band saturate, so that a hostile transform
// cannot hand the rasteriser values it cannot index.
float bounded(float v) {
    constexpr float limit = 1048576.0f;
    if (!(v > -limit)) return -limit;
    if (!(v < limit)) return limit;
    return v;
}

// ---- the painter: one walk of the graph over one band

// A clip's coverage over its bounding box (inside the clips below it),
// already multiplied by theirs.
struct clip {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    std::vector<float> mask;
    float at(int x, int y) const {
        return mask[static_cast<size_t>(y - y0) * static_cast<size_t>(x1 - x0) + static_cast<size_t>(x - x0)];
    }
};

struct painter {
    const font_face &font;
    int w, h;
    uint64_t limit;  // the work this walk may do
    std::vector<affine> transforms;
    std::vector<clip> clips;
    std::vector<std::vector<colour>> groups;
    int refused = 0;  // pushes refused (beyond the depth), and everything inside them
    unsigned operations = 0;
    uint64_t work = 0;

    painter(const font_face &f, int width, int height, const affine &base, uint64_t work_limit)
        : font(f), w(width), h(height), limit(work_limit) {
        transforms.push_back(base);
        groups.emplace_back(static_cast<size_t>(w) * static_cast<size_t>(h));
    }

    size_t pixels() const { return static_cast<size_t>(w) * static_cast<size_t>(h); }
    const affine &current() const { return transforms.back(); }
    // Whether a painting operation may run: nothing refused around it, and
    // the walk within its operations and its work.
    bool may_paint() { return refused == 0 && ++operations <= k_max_operations && work < limit; }
    bool may_push() { return may_paint() && static_cast<int>(clips.size() + groups.size()) <= k_max_depth; }
    // Where painting can show: inside the innermost clip's box.
    clip bounds() const {
        if (clips.empty()) return clip{0, 0, w, h, {}};
        const clip &c = clips.back();
        return clip{c.x0, c.y0, c.x1, c.y1, {}};
    }
    // The innermost clip's coverage at a pixel inside bounds().
    float coverage_at(int x, int y) const { return clips.empty() ? 1.0f : clips.back().at(x, y); }

    void push_clip(const flat_outline &outline) {
        if (!may_push()) {
            ++refused;
            return;
        }
        const affine &t = current();
        flat_outline px;
        px.lengths = outline.lengths;
        px.xy.resize(outline.xy.size());
        float x0 = 1e30f, y0 = 1e30f, x1 = -1e30f, y1 = -1e30f;
        for (size_t i = 0; i + 1 < outline.xy.size(); i += 2) {
            const float x = outline.xy[i], y = outline.xy[i + 1];
            px.xy[i] = bounded(t.xx * x + t.xy * y + t.dx);
            px.xy[i + 1] = bounded(t.yx * x + t.yy * y + t.dy);
            x0 = std::min(x0, px.xy[i]), x1 = std::max(x1, px.xy[i]);
            y0 = std::min(y0, px.xy[i + 1]), y1 = std::max(y1, px.xy[i + 1]);
        }
        // The polygons' box, inside the clip below (empty: nothing shows).
        const clip outer = bounds();
        clip c;
        if (px.lengths.empty() || px.xy.empty()) {
            c.x0 = c.x1 = outer.x0, c.y0 = c.y1 = outer.y0;
            clips.push_back(std::move(c));
            return;
        }
        c.x0 = std::max(outer.x0, static_cast<int>(std::max(-1.0f, std::floor(x0))));
        c.y0 = std::max(outer.y0, static_cast<int>(std::max(-1.0f, std::floor(y0))));
        c.x1 = std::min(outer.x1, static_cast<int>(std::min(static_cast<float>(w) + 1.0f, std::ceil(x1))));
        c.y1 = std::min(outer.y1, static_cast<int>(std::min(static_cast<float>(h) + 1.0f, std::ceil(y1))));
        if (c.x1 <= c.x0 || c.y1 <= c.y0) {
            c.x1 = c.x0, c.y1 = c.y0;  // an empty box: nothing inside it paints
            clips.push_back(std::move(c));
            return;
        }
        const int bw = c.x1 - c.x0, bh = c.y1 - c.y0;
        const size_t area = static_cast<size_t>(bw) * static_cast<size_t>(bh);
        std::vector<unsigned char> coverage(area, 0);
        rasterise_polygons(px, c.x0, c.y0, bw, bh, coverage.data());
        c.mask.resize(area);
        for (int y = c.y0; y < c.y1; ++y) {
            for (int x = c.x0; x < c.x1; ++x) {
                const size_t i =
                    static_cast<size_t>(y - c.y0) * static_cast<size_t>(bw) + static_cast<size_t>(x - c.x0);
                const float k = static_cast<float>(coverage[i]) / 255.0f;
                c.mask[i] = clips.empty() ? k : k * clips.back().at(x, y);
            }
        }
        work += area;
        clips.push_back(std::move(c));
    }

    void pop_clip() {
        if (refused > 0) {
            --refused;
        } else if (!clips.empty()) {
            clips.pop_back();
        }
    }

    void push_group() {
        if (!may_push()) {
            ++refused;
            return;
        }
        groups.emplace_back(pixels());
    }

    void pop_group(hb_paint_composite_mode_t mode) {
        if (refused > 0) {
            --refused;
            return;
        }
        if (groups.size() < 2) return;
        const std::vector<colour> source = std::move(groups.back());
        groups.pop_back();
        std::vector<colour> &dest = groups.back();
        const clip b = bounds();
        for (int y = b.y0; y < b.y1; ++y) {
            for (int x = b.x0; x < b.x1; ++x) {
                const float k = coverage_at(x, y);
                if (!(k > 0.0f)) continue;
                const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
                const colour c = composite(mode, source[i], dest[i]);
                dest[i] = k < 1.0f ? mix(dest[i], c, k) : c;
            }
        }
        work += static_cast<uint64_t>(b.x1 - b.x0) * static_cast<uint64_t>(b.y1 - b.y0);
    }

    // Porter and Duff's operators and the simplest separable blends on
    // premultiplied colour; the other blends composite as SRC_OVER.
    static colour composite(hb_paint_composite_mode_t mode, const colour &s, const colour &d) {
        auto sum = [](const colour &p, float a, const colour &q, float b) {
            return colour{p.r * a + q.r * b, p.g * a + q.g * b, p.b * a + q.b * b, p.a * a + q.a * b};
        };
        switch (mode) {
            case HB_PAINT_COMPOSITE_MODE_CLEAR: return {};
            case HB_PAINT_COMPOSITE_MODE_SRC: return s;
            case HB_PAINT_COMPOSITE_MODE_DEST: return d;
            case HB_PAINT_COMPOSITE_MODE_DEST_OVER: return sum(d, 1.0f, s, 1.0f - d.a);
            case HB_PAINT_COMPOSITE_MODE_SRC_IN: return sum(s, d.a, d, 0.0f);
            case HB_PAINT_COMPOSITE_MODE_DEST_IN: return sum(d, s.a, s, 0.0f);
            case HB_PAINT_COMPOSITE_MODE_SRC_OUT: return sum(s, 1.0f - d.a, d, 0.0f);
            case HB_PAINT_COMPOSITE_MODE_DEST_OUT: return sum(d, 1.0f - s.a, s, 0.0f);
            case HB_PAINT_COMPOSITE_MODE_SRC_ATOP: return sum(s, d.a, d, 1.0f - s.a);
            case HB_PAINT_COMPOSITE_MODE_DEST_ATOP: return sum(d, s.a, s, 1.0f - d.a);
            case HB_PAINT_COMPOSITE_MODE_XOR: return sum(s, 1.0f - d.a, d, 1.0f - s.a);
            case HB_PAINT_COMPOSITE_MODE_PLUS:
                return {std::min(1.0f, s.r + d.r), std::min(1.0f, s.g + d.g), std::min(1.0f, s.b + d.b),
                        std::min(1.0f, s.a + d.a)};
            case HB_PAINT_COMPOSITE_MODE_MULTIPLY: {
                const colour over = sum(s, 1.0f - d.a, d, 1.0f - s.a);
                return {over.r + s.r * d.r, over.g + s.g * d.g, over.b + s.b * d.b, s.a + d.a - s.a * d.a};
            }
            case HB_PAINT_COMPOSITE_MODE_SCREEN:
                return {s.r + d.r - s.r * d.r, s.g + d.g - s.g * d.g, s.b + d.b - s.b * d.b, s.a + d.a - s.a * d.a};
            default: return sum(s, 1.0f, d, 1.0f - s.a);
        }
    }

    // Paints colour_at(x, y) (premultiplied; x, y in the paint's own space,
    // the current transform's source) over the current group, inside the
    // clip: source over, at the clip's coverage.
    template <typename At>
    void fill(At colour_at) {
        if (!may_paint()) return;
        const affine &t = current();
        const float det = t.xx * t.yy - t.xy * t.yx;
        if (!(std::fabs(det) > 1e-12f) || !std::isfinite(det)) return;
        // The inverse, taking a pixel's centre back into the paint's space.
        const float ixx = t.yy / det, ixy = -t.xy / det, iyx = -t.yx / det, iyy = t.xx / det;
        std::vector<colour> &dest = groups.back();
        const clip b = bounds();
        for (int row = b.y0; row < b.y1; ++row) {
            const float py = static_cast<float>(row) + 0.5f - t.dy;
            for (int column = b.x0; column < b.x1; ++column) {
                const size_t i = static_cast<size_t>(row) * static_cast<size_t>(w) + static_cast<size_t>(column);
                const float k = coverage_at(column, row);
                if (!(k > 0.0f)) continue;
                const float px = static_cast<float>(column) + 0.5f - t.dx;
                const colour c = colour_at(ixx * px + ixy * py, iyx * px + iyy * py);
                const float keep = 1.0f - c.a * k;
                colour &d = dest[i];
                d = colour{c.r * k + d.r * keep, c.g * k + d.g * keep, c.b * k + d.b * keep, c.a * k + d.a * keep};
            }
        }
        work += static_cast<uint64_t>(b.x1 - b.x0) * static_cast<uint64_t>(b.y1 - b.y0);
    }
};

painter &the(void *data) { return *static_cast<painter *>(data); }

void push_transform(hb_paint_funcs_t *, void *data, float xx, float yx, float xy, float yy, float dx, float dy,
                    void *) {
    painter &p = the(data);
    p.transforms.push_back(after(p.current(), affine{xx, yx, xy, yy, dx, dy}));
}

void pop_transform(hb_paint_funcs_t *, void *data, void *) {
    painter &p = the(data);
    if (p.transforms.size() > 1) p.transforms.pop_back();
}

void push_clip_glyph(hb_paint_funcs_t *, void *data, hb_codepoint_t glyph, hb_font_t *, void *) {
    painter &p = the(data);
    flat_outline outline;
    if (glyph < static_cast<hb_codepoint_t>(font_glyph_count(p.font))) {
        // Flattened as finely as the transform's pixels per font unit need.
        const affine &t = p.current();
        const float per_unit = std::sqrt(std::fabs(t.xx * t.yy - t.xy * t.yx));
        const float scale = per_unit > 1e-6f ? std::min(per_unit, 1e6f) : 1e-6f;
        if (p.refused == 0) glyph_flat_outline(p.font, static_cast<int>(glyph), scale, outline);
    }
    p.push_clip(outline);
}

void push_clip_rectangle(hb_paint_funcs_t *, void *data, float xmin, float ymin, float xmax, float ymax, void *) {
    flat_outline outline;
    outline.xy = {xmin, ymin, xmax, ymin, xmax, ymax, xmin, ymax};
    outline.lengths = {4};
    the(data).push_clip(outline);
}

void pop_clip(hb_paint_funcs_t *, void *data, void *) { the(data).pop_clip(); }

void paint_colour(hb_paint_funcs_t *, void *data, hb_bool_t, hb_color_t c, void *) {
    const colour solid = premultiplied(c);
    the(data).fill([&](float, float) { return solid; });
}

void linear_gradient(hb_paint_funcs_t *, void *data, hb_color_line_t *line, float x0, float y0, float x1, float y1,
                     float x2, float y2, void *) {
    const colour_line colours(line);
    // The line p0 p1 projected perpendicular to p0 p2: colour is constant
    // along p0 p2, and runs from p0 to the projected p1.
    const float q2x = x2 - x0, q2y = y2 - y0, q1x = x1 - x0, q1y = y1 - y0;
    const float s = q2x * q2x + q2y * q2y;
    float ex = q1x, ey = q1y;
    if (s > 1e-6f) {
        const float k = (q2x * q1x + q2y * q1y) / s;
        ex = q1x - k * q2x, ey = q1y - k * q2y;
    }
    const float length = ex * ex + ey * ey;
    if (!(length > 1e-12f)) return;
    the(data).fill([&](float x, float y) { return colours.at(((x - x0) * ex + (y - y0) * ey) / length); });
}

void radial_gradient(hb_paint_funcs_t *, void *data, hb_color_line_t *line, float x0, float y0, float r0, float x1,
                     float y1, float r1, void *) {
    const colour_line colours(line);
    // The largest t whose circle, centre c0 + t (c1 - c0) and radius
    // r0 + t (r1 - r0) >= 0, passes through the point.
    const float cx = x1 - x0, cy = y1 - y0, dr = r1 - r0;
    const float a = cx * cx + cy * cy - dr * dr;
    the(data).fill([&](float x, float y) {
        const float px = x - x0, py = y - y0;
        const float b = px * cx + py * cy + r0 * dr, c = px * px + py * py - r0 * r0;
        if (std::fabs(a) < 1e-6f) {
            if (!(std::fabs(b) > 1e-12f)) return colour{};
            const float t = c / (2.0f * b);
            return r0 + t * dr >= 0.0f ? colours.at(t) : colour{};
        }
        const float discriminant = b * b - a * c;
        if (!(discriminant >= 0.0f)) return colour{};
        const float root = std::sqrt(discriminant);
        const float t_high = (b + root) / a, t_low = (b - root) / a;
        const float first = std::max(t_high, t_low), second = std::min(t_high, t_low);
        if (r0 + first * dr >= 0.0f) return colours.at(first);
        if (r0 + second * dr >= 0.0f) return colours.at(second);
        return colour{};
    });
}

void sweep_gradient(hb_paint_funcs_t *, void *data, hb_color_line_t *line, float cx, float cy, float start, float end,
                    void *) {
    const colour_line colours(line);
    const float span = end - start;
    if (!(std::fabs(span) > 1e-6f)) return;
    the(data).fill([&](float x, float y) {
        const float angle = static_cast<float>(angle_of(static_cast<double>(x - cx), static_cast<double>(y - cy)));
        return colours.at((angle - start) / span);
    });
}

void push_group(hb_paint_funcs_t *, void *data, void *) { the(data).push_group(); }

void pop_group(hb_paint_funcs_t *, void *data, hb_paint_composite_mode_t mode, void *) { the(data).pop_group(mode); }

// The callbacks, made once (thread-safely) and never changed, for the
// process's life.
hb_paint_funcs_t *paint_funcs() {
    static hb_paint_funcs_t *const funcs = [] {
        hb_paint_funcs_t *f = hb_paint_funcs_create();
        hb_paint_funcs_set_push_transform_func(f, push_transform, nullptr, nullptr);
        hb_paint_funcs_set_pop_transform_func(f, pop_transform, nullptr, nullptr);
        hb_paint_funcs_set_push_clip_glyph_func(f, push_clip_glyph, nullptr, nullptr);
        hb_paint_funcs_set_push_clip_rectangle_func(f, push_clip_rectangle, nullptr, nullptr);
        hb_paint_funcs_set_pop_clip_func(f, pop_clip, nullptr, nullptr);
        hb_paint_funcs_set_color_func(f, paint_colour, nullptr, nullptr);
        hb_paint_funcs_set_linear_gradient_func(f, linear_gradient, nullptr, nullptr);
        hb_paint_funcs_set_radial_gradient_func(f, radial_gradient, nullptr, nullptr);
        hb_paint_funcs_set_sweep_gradient_func(f, sweep_gradient, nullptr, nullptr);
        hb_paint_funcs_set_push_group_func(f, push_group, nullptr, nullptr);
        hb_paint_funcs_set_pop_group_func(f, pop_group, nullptr, nullptr);
        hb_paint_funcs_make_immutable(f);
        return f;
    }();
    return funcs;
}

int channel(float v) {
    const int c = static_cast<int>(v * 255.0f + 0.5f);
    return c < 0 ? 0 : c > 255 ? 255 : c;
}

}  // namespace

bool has_colour_paint(const font_face &font, int glyph) {
    hb_face_t *face = hb_font_get_face(harfbuzz_font(font));
    return hb_ot_color_has_paint(face) && hb_ot_color_glyph_has_paint(face, static_cast<hb_codepoint_t>(glyph));
}

uint64_t draw_colour_paint_window(const font_face &font, int glyph, float scale, const glyph_box &box,
                                  const glyph_window &window, const paint &text, unsigned char *rgba, size_t stride) {
    const int w = window.x1 - window.x0, h = window.y1 - window.y0;
    if (w <= 0 || h <= 0) return 0;
    const int band = static_cast<int>(
        std::max<size_t>(1, std::min<size_t>(static_cast<size_t>(h), k_band_pixels / static_cast<size_t>(w))));
    const hb_color_t foreground = HB_COLOR(static_cast<uint8_t>(text.blue), static_cast<uint8_t>(text.green),
                                           static_cast<uint8_t>(text.red), 255);
    uint64_t work = 0;
    for (int top = 0; top < h; top += band) {
        const int rows = std::min(band, h - top);
        // Font units (y up) to the band's pixels (y down).
        const affine base{scale,
                          0.0f,
                          0.0f,
                          -scale,
                          -static_cast<float>(box.x0 + window.x0),
                          -static_cast<float>(box.y0 + window.y0 + top)};
        // The glyph's walks together do at most the drawing call's whole
        // budget of work: beyond it, the call fails once this glyph is done.
        const uint64_t budget = QUENDAL_IMGTEXT_MAX_DRAW_STEPS;
        painter p(font, w, rows, base, work < budget ? budget - work : 0);
        hb_font_paint_glyph(harfbuzz_font(font), static_cast<hb_codepoint_t>(glyph), paint_funcs(), &p, 0, foreground);
        work += p.work + static_cast<uint64_t>(p.operations);
        const std::vector<colour> &picture = p.groups.front();
        for (int r = 0; r < rows; ++r) {
            unsigned char *out = rgba + static_cast<size_t>(top + r) * stride;
            for (int c = 0; c < w; ++c) {
                const colour &v = picture[static_cast<size_t>(r) * static_cast<size_t>(w) + static_cast<size_t>(c)];
                const int a = channel(v.a);
                if (a == 0) continue;
                out[c * 4] = static_cast<unsigned char>(channel(v.r / v.a));
                out[c * 4 + 1] = static_cast<unsigned char>(channel(v.g / v.a));
                out[c * 4 + 2] = static_cast<unsigned char>(channel(v.b / v.a));
                out[c * 4 + 3] = static_cast<unsigned char>(a);
            }
        }
    }
    return work;
}

}  // namespace imgtext
