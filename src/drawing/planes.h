// Rectangles of pixels and planes of values over them: the working memory of
// the outline and shadow, which only ever covers the text's neighbourhood.
#ifndef IMGTEXT_DRAWING_PLANES_H
#define IMGTEXT_DRAWING_PLANES_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace imgtext {

// A half-open rectangle of pixels in picture coordinates.
struct area {
    int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
    int64_t width() const { return x1 - x0; }
    int64_t height() const { return y1 - y0; }
    uint64_t pixels() const { return empty() ? 0 : static_cast<uint64_t>(width()) * static_cast<uint64_t>(height()); }
    bool contains(int64_t x, int64_t y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

inline area intersect(const area &a, const area &b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}
inline area expand(const area &a, int64_t by) { return {a.x0 - by, a.y0 - by, a.x1 + by, a.y1 + by}; }
inline area shift(const area &a, int64_t dx, int64_t dy) { return {a.x0 + dx, a.y0 + dy, a.x1 + dx, a.y1 + dy}; }
inline area bounding(const area &a, const area &b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

// One value per pixel of an area, zero-initialised; 0 outside it.
template <typename T>
struct plane {
    area at;
    T *v = nullptr;
    plane() = default;
    plane(const plane &) = delete;
    plane &operator=(const plane &) = delete;
    ~plane() { std::free(v); }
    bool allocate(const area &a) {
        std::free(v);
        v = nullptr;
        at = a;
        if (a.empty()) return true;
        // Areas are the text's neighbourhood clipped to the picture, but a
        // picture may be large: refuse what cannot be indexed or allocated.
        if (a.width() > INT32_MAX || a.height() > INT32_MAX || a.pixels() > SIZE_MAX / sizeof(T)) return false;
        v = static_cast<T *>(std::calloc(static_cast<size_t>(a.pixels()), sizeof(T)));
        return v != nullptr;
    }
    T *row(int64_t y) const { return v + static_cast<size_t>(y - at.y0) * static_cast<size_t>(at.width()); }
    T get(int64_t x, int64_t y) const { return at.contains(x, y) ? row(y)[x - at.x0] : T{}; }
};

}  // namespace imgtext

#endif
