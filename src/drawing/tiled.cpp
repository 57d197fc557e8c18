// Tiled text (see tiled.h). The grid's points are offsets a u + b v from the
// placed tile, with u the direction of the lines on the picture and v the
// direction across them; the tiles that can touch the picture are found
// from the picture's corners in those coordinates, row by row.
#include "drawing/tiled.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "drawing/planes.h"
#include "frame/errors.h"
#include "image/paint.h"

namespace imgtext {

namespace {

struct owned_pixels {
    unsigned char *p = nullptr;
    ~owned_pixels() { std::free(p); }
};

// The part of each tile row that is not transparent.
struct row_span {
    int first, end;  // end == first: the row is empty
};

// Composites the tile (straight alpha) with its top-left at (x, y).
void composite_tile(const rgba_image &image, const rgba_image &tile, const std::vector<row_span> &spans, int64_t x,
                    int64_t y) {
    const int64_t top = std::max<int64_t>(0, -y), bottom = std::min<int64_t>(tile.height, image.height - y);
    for (int64_t r = top; r < bottom; ++r) {
        const row_span s = spans[static_cast<size_t>(r)];
        const int64_t first = std::max<int64_t>(s.first, -x), end = std::min<int64_t>(s.end, image.width - x);
        if (first >= end) continue;
        const unsigned char *from = tile.row(r) + static_cast<size_t>(first) * 4;
        unsigned char *to = image.row(y + r) + static_cast<size_t>(x + first) * 4;
        for (int64_t i = first; i < end; ++i, from += 4, to += 4) {
            if (from[3] == 0) continue;
            const paint colour{static_cast<float>(from[0]), static_cast<float>(from[1]), static_cast<float>(from[2]),
                               1.0f};
            composite_pixel(to, from[3], colour);
        }
    }
}

}  // namespace

imgtext_status draw_tiled_text(const rgba_image &image, const text_request &request, const placement &where,
                               turned_bounds *bounds, text_layout *result, float *size) {
    owned_layout laid_out;
    float size_used = 0.0f;
    imgtext_status status = lay_out_request(request, &laid_out.layout, &size_used);
    if (status != IMGTEXT_OK) return status;
    const text_layout &layout = laid_out.layout;
    const int64_t w = layout.box_width, h = layout.box_height;
    const text_frame placed = frame_for(where, image.width, image.height, w, h, turn_of(request.rotation));
    const int64_t step_x = request.tile.step_x ? request.tile.step_x : 2 * w;
    const int64_t step_y = request.tile.step_y ? request.tile.step_y : 2 * h;

    // The tile: all the placed text may touch, drawn once.
    const area drawn = turned_drawn_area(request, layout, placed);
    const uint64_t tile_pixels = drawn.pixels();
    if (tile_pixels > QUENDAL_IMGTEXT_MAX_TILE_PIXELS) {
        return set_error(IMGTEXT_ERROR_LIMIT, "tile too large: %.0f pixels is more than %.0f",
                         static_cast<double>(tile_pixels), static_cast<double>(QUENDAL_IMGTEXT_MAX_TILE_PIXELS));
    }
    const double cell = static_cast<double>(step_x) * static_cast<double>(step_y);
    if (static_cast<double>(tile_pixels) > QUENDAL_IMGTEXT_MAX_TILE_OVERLAP * cell) {
        return set_error(IMGTEXT_ERROR_LIMIT,
                         "tiles overlap too much: a tile of %.0f pixels covers more than %d cells of %.0f x %.0f",
                         static_cast<double>(tile_pixels), QUENDAL_IMGTEXT_MAX_TILE_OVERLAP,
                         static_cast<double>(step_x), static_cast<double>(step_y));
    }
    if (!drawn.empty()) {
        owned_pixels pixels;
        pixels.p = static_cast<unsigned char *>(std::calloc(static_cast<size_t>(tile_pixels), 4));
        if (!pixels.p) return set_error(IMGTEXT_ERROR_MEMORY, "out of memory drawing a tile");
        const rgba_image tile{static_cast<int>(drawn.width()), static_cast<int>(drawn.height()), pixels.p, 0};
        text_frame in_tile = placed;
        in_tile.ox -= static_cast<double>(drawn.x0), in_tile.oy -= static_cast<double>(drawn.y0);
        status = draw_turned(tile, request, layout, in_tile);
        if (status != IMGTEXT_OK) return status;

        std::vector<row_span> spans(static_cast<size_t>(tile.height));
        for (int r = 0; r < tile.height; ++r) {
            const unsigned char *row = tile.row(r);
            int first = 0, end = tile.width;
            while (first < end && row[static_cast<size_t>(first) * 4 + 3] == 0) ++first;
            while (end > first && row[static_cast<size_t>(end - 1) * 4 + 3] == 0) --end;
            spans[static_cast<size_t>(r)] = row_span{first, end};
        }

        // Offsets d = a u + b v put the tile at drawn + d; those that can
        // touch the picture lie in this rectangle of d.
        const double dx0 = static_cast<double>(-drawn.x1), dx1 = static_cast<double>(image.width - drawn.x0);
        const double dy0 = static_cast<double>(-drawn.y1), dy1 = static_cast<double>(image.height - drawn.y0);
        const double ux = placed.t.c, uy = -placed.t.s, vx = placed.t.s, vy = placed.t.c;
        double a0 = 1e300, a1 = -1e300, b0 = 1e300, b1 = -1e300;
        for (const double dx : {dx0, dx1}) {
            for (const double dy : {dy0, dy1}) {
                const double a = dx * ux + dy * uy, b = dx * vx + dy * vy;
                a0 = std::min(a0, a), a1 = std::max(a1, a), b0 = std::min(b0, b), b1 = std::max(b1, b);
            }
        }
        const double sx = static_cast<double>(step_x), sy = static_cast<double>(step_y);
        const double offset = static_cast<double>(request.tile.row_offset);
        for (int64_t j = static_cast<int64_t>(std::floor(b0 / sy)); j <= static_cast<int64_t>(std::ceil(b1 / sy));
             ++j) {
            const double b = static_cast<double>(j) * sy, shift = static_cast<double>(j) * offset;
            const int64_t i0 = static_cast<int64_t>(std::floor((a0 - shift) / sx));
            const int64_t i1 = static_cast<int64_t>(std::ceil((a1 - shift) / sx));
            for (int64_t i = i0; i <= i1; ++i) {
                const double a = static_cast<double>(i) * sx + shift;
                const int64_t x = drawn.x0 + static_cast<int64_t>(std::floor(a * ux + b * vx + 0.5));
                const int64_t y = drawn.y0 + static_cast<int64_t>(std::floor(a * uy + b * vy + 0.5));
                if (x >= image.width || y >= image.height || x + tile.width <= 0 || y + tile.height <= 0) continue;
                composite_tile(image, tile, spans, x, y);
            }
        }
    }
    if (bounds) *bounds = bounds_of(placed, w, h);
    if (size) *size = size_used;
    if (result) {
        *result = layout;
        laid_out.layout = text_layout{};
    }
    return IMGTEXT_OK;
}

}  // namespace imgtext
