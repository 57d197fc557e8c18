// Drawing operations: placing and drawing a text box, and the four drawing
// exports of the seven calls, each a file-to-file pipeline over the same
// engine the drawing API uses: get pixels (decode a file or make a canvas),
// lay out and draw the text, save, and free everything the call allocated.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "drawing/drawing.h"
#include "font/font.h"
#include "image/image.h"
#include "frame/errors.h"
#include "quendal_imgtext.h"
#include "text/layout.h"

namespace imgtext {

namespace {

// Integer halving that truncates toward zero, as C division does, so a box
// larger than the image gets a negative origin.
int64_t centred_origin(int64_t outer, int64_t inner) { return (outer - inner) / 2; }

// Column (0 left, 1 middle, 2 right) and row (0 top, 1 middle, 2 bottom).
int column_of(imgtext_position p) { return static_cast<int>(p) % 3; }
int row_of(imgtext_position p) { return static_cast<int>(p) / 3; }

int64_t along_axis(int index, bool by_gravity, int64_t anchor, int64_t margin, int64_t outer, int64_t inner) {
    if (by_gravity) return index == 0 ? margin : index == 1 ? centred_origin(outer, inner) : outer - margin - inner;
    return index == 0 ? anchor : index == 1 ? anchor - inner / 2 : anchor - inner;
}

struct owned_layout {
    text_layout layout{};
    ~owned_layout() { free_text_layout(&layout); }
};

}  // namespace

box_origin place_box(const placement &where, int64_t image_width, int64_t image_height, int64_t w, int64_t h) {
    return {along_axis(column_of(where.position), where.by_gravity, where.x, where.margin, image_width, w),
            along_axis(row_of(where.position), where.by_gravity, where.y, where.margin, image_height, h)};
}

imgtext_status draw_text(const rgba_image &image, const text_request &request, const placement &where,
                         box_origin *origin, text_layout *result) {
    owned_layout laid_out;
    const imgtext_status status = layout_text(request.layout, &laid_out.layout);
    if (status != IMGTEXT_OK) return status;
    const text_layout &layout = laid_out.layout;
    const box_origin at = place_box(where, image.width, image.height, layout.box_width, layout.box_height);
    if (request.box) {
        // The box's corner is padding outside the text box's.
        const int64_t p = request.padding > 0 ? request.padding : 0;
        if (request.box_radius > 0.0f) {
            blend_rounded_rect(image, at.x - p, at.y - p, layout.box_width + 2 * p, layout.box_height + 2 * p,
                               request.box_radius, request.box_colour);
        } else {
            blend_rect(image, at.x - p, at.y - p, layout.box_width + 2 * p, layout.box_height + 2 * p,
                       request.box_colour);
        }
    }
    if (request.effects.any()) {
        const imgtext_status drawn =
            draw_text_effects(image, layout, at.x, at.y, request.colour, request.align, request.effects);
        if (drawn != IMGTEXT_OK) return drawn;
    } else {
        render_layout(image, layout, at.x, at.y, request.colour, request.align);
    }
    if (origin) *origin = at;
    if (result) {
        *result = layout;
        laid_out.layout = text_layout{};
    }
    return IMGTEXT_OK;
}

}  // namespace imgtext

using namespace imgtext;

namespace {

// Owns a decoded or allocated pixel block for the length of one call.
struct pixel_buffer {
    rgba_image image{0, 0, nullptr};
    pixel_buffer() = default;
    pixel_buffer(const pixel_buffer &) = delete;
    pixel_buffer &operator=(const pixel_buffer &) = delete;
    ~pixel_buffer() { std::free(image.pixels); }
};

// The save would refuse a picture too large for its format's encoder: refuse
// it from the input's header instead, with the same message, before
// gigabytes are decoded only to be thrown away.
int refuse_what_cannot_be_written(void *output_path, int input_format, int width, int height) {
    const char *path = static_cast<const char *>(output_path);
    if (writer_can_encode(format_from_path(path, input_format), width, height)) return 1;
    set_error(IMGTEXT_ERROR_LIMIT, "failed to write image to %s", path);
    return 0;
}

// The seven calls' text: bytes in the built-in font at a pixel size, their
// colour clamped and their opacity clamped to 0..1 (NaN draws nothing).
// Returns false with a message for a size beyond the maximum.
bool legacy_text(const char *text, int size, int red, int green, int blue, float opacity, line_align align,
                 text_request *request) {
    if (size > QUENDAL_IMGTEXT_MAX_SIZE) {
        // Far beyond any real use, glyph boxes overflow the rasteriser's int
        // arithmetic; refusing keeps every size that can be drawn exact.
        set_error(IMGTEXT_ERROR_ARGUMENT, "invalid size: pixel size must be <= %d (%d)", QUENDAL_IMGTEXT_MAX_SIZE,
                  size);
        return false;
    }
    if (opacity < 0.0f) opacity = 0.0f;
    if (opacity > 1.0f) opacity = 1.0f;
    request->layout = layout_request{text, std::strlen(text), text_encoding::bytes,
                                     pixel_size_face(effective_pixel_size(size)), 0};
    request->colour = paint{static_cast<float>(clamp_channel(red)), static_cast<float>(clamp_channel(green)),
                            static_cast<float>(clamp_channel(blue)), opacity};
    request->align = align;
    return true;
}

int save_legacy(const char *path, const rgba_image &image, int fallback_format) {
    encode_settings settings;
    settings.format = format_from_path(path, fallback_format);
    return save_image_file(path, path_encoding::native, image, settings) == IMGTEXT_OK ? 1 : fail_legacy();
}

// The shared pipeline of the three exports that draw on an existing picture.
int draw_on_file(const char *input_path, const char *output_path, const char *text, text_request request,
                 int size, int red, int green, int blue, float opacity, line_align align, const placement &where) {
    clear_err();
    if (!input_path || !output_path) {
        set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: input or output path is NULL");
        return fail_legacy();
    }
    if (!text) {
        set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: text is NULL");
        return fail_legacy();
    }
    if (!s_font_ready && !ensure_font_ready()) return fail_legacy();

    pixel_buffer pixels;
    int input_format = FMT_PNG;
    const load_check refuse_unwritable{refuse_what_cannot_be_written, const_cast<char *>(output_path)};
    load_settings settings;
    settings.check = &refuse_unwritable;
    if (load_image_file(input_path, path_encoding::native, settings, FMT_PNG, &pixels.image, &input_format) !=
        IMGTEXT_OK) {
        return fail_legacy();
    }
    if (!legacy_text(text, size, red, green, blue, opacity, align, &request)) return fail_legacy();
    if (draw_text(pixels.image, request, where, nullptr, nullptr) != IMGTEXT_OK) return fail_legacy();
    return save_legacy(output_path, pixels.image, input_format);
}

placement top_left_at(int64_t x, int64_t y) {
    placement where;
    where.x = x, where.y = y;
    return where;
}

placement centred() {
    placement where;
    where.by_gravity = true;
    where.position = IMGTEXT_CENTER;
    return where;
}

}  // namespace

extern "C" int imgtext_add(const char *input_path, const char *output_path, const char *text, int x, int y, int size,
                           int red, int green, int blue, float opacity) {
    return draw_on_file(input_path, output_path, text, text_request{}, size, red, green, blue, opacity,
                        line_align::left, top_left_at(x, y));
}

extern "C" int imgtext_add_boxed(const char *input_path, const char *output_path, const char *text, int x, int y,
                                 int size, int red, int green, int blue, int box_red, int box_green, int box_blue,
                                 int padding) {
    // (x, y) is the box's corner; the text sits padding inside it.
    const int64_t p = padding > 0 ? padding : 0;
    text_request boxed;
    boxed.box = true;
    boxed.box_colour = imgtext_color{static_cast<uint8_t>(clamp_channel(box_red)),
                                     static_cast<uint8_t>(clamp_channel(box_green)),
                                     static_cast<uint8_t>(clamp_channel(box_blue)), 255};
    boxed.padding = p;
    return draw_on_file(input_path, output_path, text, boxed, size, red, green, blue, 1.0f, line_align::left,
                        top_left_at(x + p, y + p));
}

extern "C" int imgtext_centered(const char *input_path, const char *output_path, const char *text, int size, int red,
                                int green, int blue) {
    return draw_on_file(input_path, output_path, text, text_request{}, size, red, green, blue, 1.0f,
                        line_align::centre, centred());
}

extern "C" int imgtext_create(const char *output_path, const char *text, int width, int height, int size, int red,
                              int green, int blue, int bg_red, int bg_green, int bg_blue) {
    clear_err();
    if (!output_path) {
        set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: output path is NULL");
        return fail_legacy();
    }
    if (width <= 0 || height <= 0) {
        set_error(IMGTEXT_ERROR_ARGUMENT, "invalid dimensions: width and height must be > 0 (%dx%d)", width, height);
        return fail_legacy();
    }
    if (!s_font_ready && !ensure_font_ready()) return fail_legacy();

    pixel_buffer canvas;
    const uint64_t bytes = uint64_t{static_cast<unsigned>(width)} * static_cast<unsigned>(height) * 4;
    canvas.image = rgba_image{width, height, nullptr};
    if (bytes <= SIZE_MAX) canvas.image.pixels = static_cast<unsigned char *>(std::calloc(static_cast<size_t>(bytes), 1));
    if (!canvas.image.pixels) {
        set_error(IMGTEXT_ERROR_MEMORY, "failed to allocate image buffer (%dx%d)", width, height);
        return fail_legacy();
    }
    // A large zeroed block is mapped, not touched, so allocating costs
    // nothing; filling gigabytes that the encoder would then refuse does.
    const int format = format_from_path(output_path, FMT_PNG);
    if (!writer_can_encode(format, width, height)) {
        set_error(IMGTEXT_ERROR_LIMIT, "failed to write image to %s", output_path);
        return fail_legacy();
    }
    fill_rect(canvas.image, 0, 0, width, height, bg_red, bg_green, bg_blue);

    if (text && text[0]) {
        text_request request;
        if (!legacy_text(text, size, red, green, blue, 1.0f, line_align::centre, &request)) return fail_legacy();
        if (draw_text(canvas.image, request, centred(), nullptr, nullptr) != IMGTEXT_OK) return fail_legacy();
    }
    return save_legacy(output_path, canvas.image, FMT_PNG);
}
