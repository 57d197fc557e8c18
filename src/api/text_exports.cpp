// The drawing API's text exports: styles, measuring, and drawing by an
// anchor point or by gravity.
#include <cstddef>

#include "api/export_guard.h"
#include "api/options.h"
#include "drawing/drawing.h"
#include "drawing/rotated.h"
#include "drawing/tiled.h"
#include "frame/errors.h"
#include "quendal_imgtext.h"
#include "text/layout.h"

using namespace imgtext;

namespace {

// The metrics a caller gave room for: none (NULL), or at least the first
// version's fields. A smaller size is uninitialised or wrong, and writing
// nothing there would leave garbage the caller then reads as the result.
struct text_metrics_first_version {
    size_t struct_size;
    int x, y, width, height, line_count, line_height, ascent, descent, missing_glyphs;
};

imgtext_status check_metrics(const imgtext_text_metrics *metrics) {
    if (metrics && metrics->struct_size < sizeof(text_metrics_first_version)) return bad_argument("text metrics size");
    return IMGTEXT_OK;
}

imgtext_status draw(imgtext_image *image, const char *text, size_t length, int position, placement where,
                    const imgtext_text_style *style, imgtext_text_metrics *metrics) {
    if (!image) return bad_argument("image is NULL");
    if (position < IMGTEXT_TOP_LEFT || position > IMGTEXT_BOTTOM_RIGHT) return bad_argument("unknown position");
    const imgtext_status metrics_checked = check_metrics(metrics);
    if (metrics_checked != IMGTEXT_OK) return metrics_checked;
    where.position = static_cast<imgtext_position>(position);
    text_request request;
    imgtext_status status = request_from(text, length, style, &request);
    if (status != IMGTEXT_OK) return status;
    text_layout layout{};
    if (request.rotation != 0.0f || request.tile.on) {
        turned_bounds bounds;
        float size = 0.0f;
        status = request.tile.on ? draw_tiled_text(image->view, request, where, &bounds, &layout, &size)
                                 : draw_rotated_text(image->view, request, where, &bounds, &layout, &size);
        if (status != IMGTEXT_OK) return status;
        write_result(turned_metrics_of(layout, bounds.x, bounds.y, size, bounds.width, bounds.height), metrics);
        free_text_layout(&layout);
        return IMGTEXT_OK;
    }
    box_origin at{};
    float size = 0.0f;
    status = draw_text(image->view, request, where, &at, &layout, &size);
    if (status != IMGTEXT_OK) return status;
    write_result(metrics_of(layout, at.x, at.y, size), metrics);
    free_text_layout(&layout);
    return IMGTEXT_OK;
}

imgtext_status measure(const char *text, size_t length, const imgtext_text_style *style, imgtext_text_metrics *metrics,
                       int *line_widths, size_t max_lines) {
    imgtext_status status = check_metrics(metrics);
    if (status != IMGTEXT_OK) return status;
    text_request request;
    status = request_from(text, length, style, &request);
    if (status != IMGTEXT_OK) return status;
    text_layout layout{};
    float size = 0.0f;
    status = lay_out_request(request, &layout, &size);
    if (status != IMGTEXT_OK) return status;
    if (request.rotation != 0.0f) {
        text_frame frame;
        frame.t = turn_of(request.rotation);
        const turned_bounds b = bounds_of(frame, layout.box_width, layout.box_height);
        write_result(turned_metrics_of(layout, 0, 0, size, b.width, b.height), metrics);
    } else {
        write_result(metrics_of(layout, 0, 0, size), metrics);
    }
    if (line_widths) {
        for (size_t i = 0; i < layout.line_count && i < max_lines; ++i) line_widths[i] = layout.lines[i].width;
    }
    free_text_layout(&layout);
    return IMGTEXT_OK;
}

}  // namespace

extern "C" {

void imgtext_text_style_init(imgtext_text_style *style) {
    api_void([&] {
        if (!style) return;
        *style = imgtext_text_style{};
        style->struct_size = sizeof *style;
        style->size = 24.0f;
        style->line_spacing = 1.0f;
        style->color = imgtext_color{255, 255, 255, 255};
        style->opacity = 1.0f;
        style->box_color = imgtext_color{0, 0, 0, 255};
        style->stroke_color = imgtext_color{0, 0, 0, 255};
        style->shadow_dx = 2, style->shadow_dy = 2;
        style->shadow_blur = 2.0f;
        style->shadow_color = imgtext_color{0, 0, 0, 160};
        style->color_glyphs = 1;
    });
}

void imgtext_text_metrics_init(imgtext_text_metrics *metrics) {
    api_void([&] {
        if (!metrics) return;
        *metrics = imgtext_text_metrics{};
        metrics->struct_size = sizeof *metrics;
    });
}

imgtext_status imgtext_measure_text(const char *text, size_t length, const imgtext_text_style *style,
                                    imgtext_text_metrics *metrics, int *line_widths, size_t max_lines) {
    return api_call([&] { return measure(text, length, style, metrics, line_widths, max_lines); });
}

imgtext_status imgtext_draw_text(imgtext_image *image, const char *text, size_t length, int x, int y,
                                 imgtext_position anchor, const imgtext_text_style *style,
                                 imgtext_text_metrics *metrics) {
    return api_call([&] {
        placement where;
        where.x = x, where.y = y;
        return draw(image, text, length, int_bits(anchor), where, style, metrics);
    });
}

imgtext_status imgtext_draw_text_gravity(imgtext_image *image, const char *text, size_t length,
                                         imgtext_position gravity, int margin, const imgtext_text_style *style,
                                         imgtext_text_metrics *metrics) {
    return api_call([&] {
        placement where;
        where.by_gravity = true;
        where.margin = margin;
        return draw(image, text, length, int_bits(gravity), where, style, metrics);
    });
}

}  // extern "C"
