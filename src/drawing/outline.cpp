// The outline's shape: the text's coverage widened by the outline's width.
//
// Each pixel p of the outline takes the most that any pixel q of the text's
// coverage m gives it, r + m(q) - |p - q|, clamped to 0..1: the source whose
// s(q) = |p - q| - m(q) is least. Asking every source about its whole reach
// (as this once did) costs the square of the width for each edge pixel.
// Instead two distance transforms pick a source for every pixel at once, in
// time linear in the area whatever the width, and the pixel's coverage is
// then computed from the sources picked, and those round them, exactly as
// the scan computed it.
//
// A transform is the lower envelope of parabolas (Felzenszwalb and
// Huttenlocher), down each column and then along each row, of
//     |p - q|^2 - (c + m(q))^2 + c^2  =  |p - q|^2 - (2c + m(q)) m(q),
// the power of p with respect to the circle of radius c + m(q) round q. The
// least s itself, a distance with additive weights, is not separable; the
// power is, and it is below c^2 exactly where s(q) < c, so the source it
// picks has s < c whenever any source has. Hence two transforms: at c = r - 1
// one finds a source that makes the pixel solid wherever one exists, and at
// c = r the other one that reaches it wherever one exists, so the outline is
// solid, and ends, where the scan made it so. Between, where the coverage is
// partial, the power may rank two sources apart from s, but the first only
// in favour of the fainter one and the second only in favour of the
// stronger: when both pick the same source, it is as good as any. When they
// differ, the best of the two, of the pixels round them and of those round
// p is taken. On real text that is the scan's answer but for rare pixels a
// level apart (tests/outline_test.cpp).
//
// All arithmetic is integers, or single precision in a fixed order with no
// function beyond sqrt, so the pixels are the same everywhere.
#include "drawing/outline.h"

#include <cstring>

namespace imgtext {

namespace {

// The transforms' heights are in 1/4096 of a pixel squared, fine enough to
// rank sources a thousandth of a pixel apart.
constexpr int64_t k_unit = 4096;
// A column's source is kept as its row offset plus k_offset (the reach is at
// most 257), so that 0, as the planes start, means none within reach.
constexpr int16_t k_offset = 512;

int64_t floor_div(int64_t a, int64_t b) {  // b > 0
    const int64_t q = a / b;
    return q * b > a ? q - 1 : q;
}

// Scratch memory for n values, freed when it goes.
template <typename T>
struct scratch {
    T *v = nullptr;
    scratch() = default;
    scratch(const scratch &) = delete;
    scratch &operator=(const scratch &) = delete;
    ~scratch() { std::free(v); }
    bool allocate(uint64_t n) {
        if (n == 0) return true;
        if (n > SIZE_MAX / sizeof(T)) return false;
        v = static_cast<T *>(std::malloc(static_cast<size_t>(n) * sizeof(T)));
        return v != nullptr;
    }
};

// The lower envelope of parabolas k_unit (x - at)^2 + height over integer
// x: parabolas are added by increasing `at`, then asked for the lowest at
// increasing x. It has room for `capacity` parabolas.
class envelope {
public:
    bool allocate(uint64_t capacity) {
        if (capacity > UINT64_MAX / 3 || !store_.allocate(3 * capacity)) return false;
        at_ = store_.v, height_ = store_.v + capacity, from_ = store_.v + 2 * capacity;
        return true;
    }
    void clear() { count_ = next_ = 0; }
    bool empty() const { return count_ == 0; }

    void add(int64_t at, int64_t height) {
        while (count_ > 0) {
            const size_t top = count_ - 1;
            const int64_t last = last_not_above(at_[top], height_[top], at, height);
            if (last > from_[top]) return push(at, height, last);
            --count_;  // the new parabola is lower wherever the top one was lowest
        }
        push(at, height, INT64_MIN);
    }

    // Where the lowest parabola at x stands (x never decreasing between
    // calls, the envelope not empty).
    int64_t lowest(int64_t x) {
        while (next_ + 1 < count_ && from_[next_ + 1] < x) ++next_;
        return at_[next_];
    }

private:
    // The last x at which the parabola at a is no higher than the one at
    // b > a: k (x - a)^2 + ha <= k (x - b)^2 + hb comes to
    // x <= (a + b) / 2 + (hb - ha) / (2 k (b - a)), taken apart so that no
    // product can overflow.
    static int64_t last_not_above(int64_t a, int64_t ha, int64_t b, int64_t hb) {
        const int64_t d = b - a, s = a + b;
        return floor_div(s, 2) + floor_div(hb - ha + k_unit * d * (s & 1), 2 * k_unit * d);
    }
    void push(int64_t at, int64_t height, int64_t from) {
        at_[count_] = at, height_[count_] = height, from_[count_] = from;
        ++count_;
    }

    scratch<int64_t> store_;
    int64_t *at_ = nullptr, *height_ = nullptr, *from_ = nullptr;
    size_t count_ = 0, next_ = 0;
};

// One transform: the power with respect to circles of radius c + m(q).
struct transform {
    float twice_c;
    // Over the mask's columns and the outline's rows: the column's source
    // of least power at that row, as its row offset plus k_offset.
    plane<int16_t> offset;
    envelope line;  // the sources of one row

    // -(2c + m) m in 1/k_unit, rounded.
    int64_t weight(float m) const {
        const float w = (twice_c + m) * m * static_cast<float>(k_unit);
        return w >= 0.0f ? -static_cast<int64_t>(w + 0.5f) : static_cast<int64_t>(0.5f - w);
    }

    // Puts each column's source for row y on the line, at the height
    // k_unit dy^2 + w; false if there is none.
    bool start_row(const plane<float> &mask, int64_t y) {
        const int16_t *off = offset.row(y);
        line.clear();
        for (int64_t i = 0; i < mask.at.width(); ++i) {
            if (off[i] == 0) continue;
            const int64_t dy = off[i] - k_offset;
            line.add(i, k_unit * dy * dy + weight(mask.row(y + dy)[i]));
        }
        return !line.empty();
    }
    // The source the transform picks for (x, y), row y started.
    void pick(const area &m, int64_t x, int64_t y, int64_t &qx, int64_t &qy) {
        const int64_t i = line.lowest(x - m.x0);
        qx = m.x0 + i, qy = y + offset.row(y)[i] - k_offset;
    }
};

// Down the mask's columns, for both transforms. Columns are taken a block
// at a time through transposed copies, so that the planes are read and
// written by rows.
bool transform_columns(const plane<float> &mask, int reach, transform (&t)[2]) {
    const area &m = mask.at, &o = t[0].offset.at;
    const uint64_t block = static_cast<uint64_t>(std::min<int64_t>(64, m.width()));
    const uint64_t mh = static_cast<uint64_t>(m.height()), oh = static_cast<uint64_t>(o.height());
    envelope line;
    scratch<float> copy;
    scratch<int16_t> found;
    if (!line.allocate(mh) || !copy.allocate(block * mh) || oh > UINT64_MAX / (2 * block) ||
        !found.allocate(2 * block * oh))
        return false;
    for (int64_t x0 = m.x0; x0 < m.x1; x0 += static_cast<int64_t>(block)) {
        const uint64_t n = std::min(block, static_cast<uint64_t>(m.x1 - x0));
        for (uint64_t i = 0; i < mh; ++i) {
            const float *row = mask.row(m.y0 + static_cast<int64_t>(i)) + (x0 - m.x0);
            for (uint64_t j = 0; j < n; ++j) copy.v[j * mh + i] = row[j];
        }
        std::memset(found.v, 0, 2 * block * oh * sizeof(int16_t));
        for (uint64_t j = 0; j < n; ++j) {
            const float *column = copy.v + j * mh;
            uint64_t first = mh, last = 0;  // the column's sources
            for (uint64_t i = 0; i < mh; ++i)
                if (column[i] > 0.0f) first = std::min(first, i), last = i;
            if (first == mh) continue;
            // Only rows within reach of them can find one here.
            const int64_t from = std::max(o.y0, m.y0 + static_cast<int64_t>(first) - reach);
            const int64_t to = std::min(o.y1, m.y0 + static_cast<int64_t>(last) + reach + 1);
            for (uint64_t k = 0; k < 2; ++k) {
                int16_t *offsets = found.v + (k * block + j) * oh;
                line.clear();
                for (uint64_t i = first; i <= last; ++i)
                    if (column[i] > 0.0f) line.add(static_cast<int64_t>(i), t[k].weight(column[i]));
                for (int64_t y = from; y < to; ++y) {
                    const int64_t dy = line.lowest(y - m.y0) + m.y0 - y;
                    if (dy >= -reach && dy <= reach) offsets[y - o.y0] = static_cast<int16_t>(dy + k_offset);
                }
            }
        }
        for (uint64_t k = 0; k < 2; ++k)
            for (uint64_t i = 0; i < oh; ++i) {
                int16_t *row = t[k].offset.row(o.y0 + static_cast<int64_t>(i)) + (x0 - m.x0);
                for (uint64_t j = 0; j < n; ++j) row[j] = found.v[(k * block + j) * oh + i];
            }
    }
    return true;
}

// What the mask's pixels give p: r + m - |p - q| as the scan computed it
// (at most 0 beyond reach, where the scan never looked).
struct giving {
    const plane<float> &mask;
    float r;

    float operator()(int64_t px, int64_t py, int64_t qx, int64_t qy) const {
        if (!mask.at.contains(qx, qy)) return 0.0f;
        const float m = mask.row(qy)[qx - mask.at.x0];
        const int64_t dx = px - qx, dy = py - qy;
        return m > 0.0f ? r + m - std::sqrt(static_cast<float>(dx * dx + dy * dy)) : 0.0f;
    }
    // The most that the 3 x 3 pixels round (cx, cy) give p.
    float around(int64_t px, int64_t py, int64_t cx, int64_t cy) const {
        const area &a = mask.at;
        float most = 0.0f;
        const int64_t x0 = std::max(cx - 1, a.x0), x1 = std::min(cx + 2, a.x1);
        for (int64_t y = std::max(cy - 1, a.y0); y < std::min(cy + 2, a.y1); ++y) {
            const float *row = mask.row(y) - a.x0;
            const int64_t dy = py - y;
            for (int64_t x = x0; x < x1; ++x) {
                const int64_t dx = px - x;
                if (row[x] > 0.0f) most = std::max(most, r + row[x] - std::sqrt(static_cast<float>(dx * dx + dy * dy)));
            }
        }
        return most;
    }
};

// While r <= 1, whatever reaches a pixel lies in the 3 x 3 pixels round it
// (a source two pixels away gives at most r + 1 - 2 <= 0), and reading
// them directly costs less than the transforms.
void widen_nearby(const plane<float> &mask, float r, plane<float> &out) {
    const area &m = mask.at, &o = out.at;
    const float distance[3] = {0.0f, 1.0f, std::sqrt(2.0f)};  // by |dx| + |dy|
    const int64_t x_from = std::max(o.x0, m.x0 - 1), x_to = std::min(o.x1, m.x1 + 1);
    for (int64_t y = std::max(o.y0, m.y0 - 1); y < std::min(o.y1, m.y1 + 1); ++y) {
        const float *rows[3];  // the mask's rows y - 1, y, y + 1 (null outside it)
        for (int64_t k = 0; k < 3; ++k) {
            const int64_t at = y - 1 + k;
            rows[k] = at >= m.y0 && at < m.y1 ? mask.row(at) - m.x0 : nullptr;
        }
        float *row = out.row(y) - o.x0;
        for (int64_t x = x_from; x < x_to; ++x) {
            float most = 0.0f;
            for (int64_t k = 0; k < 3; ++k) {
                if (!rows[k]) continue;
                for (int64_t qx = std::max(x - 1, m.x0); qx <= std::min(x + 1, m.x1 - 1); ++qx) {
                    const float v = rows[k][qx];
                    if (v > 0.0f) most = std::max(most, r + v - distance[(k == 1 ? 0 : 1) + (qx == x ? 0 : 1)]);
                }
            }
            row[x] = std::min(most, 1.0f);
        }
    }
}

}  // namespace

bool widen_coverage(const plane<float> &mask, float r, plane<float> &out) {
    const area &m = mask.at, &o = out.at;
    if (m.empty() || o.empty()) return true;
    if (outline_reach(r) >= k_offset) return false;  // wider than the API allows
    if (r <= 1.0f) {
        widen_nearby(mask, r, out);
        return true;
    }
    transform t[2] = {{2.0f * r - 2.0f, {}, {}}, {2.0f * r, {}, {}}};
    transform &solid = t[0], &ends = t[1];
    const area columns{m.x0, o.y0, m.x1, o.y1};
    for (transform &each : t)
        if (!each.offset.allocate(columns) || !each.line.allocate(static_cast<uint64_t>(m.width()))) return false;
    if (!transform_columns(mask, outline_reach(r), t)) return false;

    const giving gives{mask, r};
    for (int64_t y = o.y0; y < o.y1; ++y) {
        if (!ends.start_row(mask, y)) continue;  // nothing reaches this row
        const bool any_solid = solid.start_row(mask, y);
        float *row = out.row(y) - o.x0;
        for (int64_t x = o.x0; x < o.x1; ++x) {
            int64_t ex, ey, sx, sy;
            ends.pick(m, x, y, ex, ey);
            const float reached = gives(x, y, ex, ey);
            if (!(reached > 0.0f)) continue;  // nothing reaches this pixel
            float c = std::max(reached, gives(x, y, x, y));
            if (c >= 1.0f || !any_solid) {
                row[x] = std::min(c, 1.0f);
                continue;
            }
            solid.pick(m, x, y, sx, sy);
            c = std::max(c, gives(x, y, sx, sy));
            if (c < 1.0f && (sx != ex || sy != ey))
                c = std::max({c, gives.around(x, y, sx, sy), gives.around(x, y, ex, ey), gives.around(x, y, x, y)});
            row[x] = std::min(c, 1.0f);
        }
    }
    return true;
}

}  // namespace imgtext
