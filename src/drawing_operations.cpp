// The four drawing exports. Each is one file-to-file pipeline: get pixels
// (decode a file or make a canvas), measure the text, optionally back it with
// a box, draw it, save, and free everything the call allocated.
#include <cstdint>
#include <cstdlib>

#include "font.h"
#include "image.h"
#include "library_frame.h"
#include "quendal_imgtext.h"
#include "text.h"

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

// Owns a measured layout for the length of one call.
struct measured_text {
    text_layout layout{};
    measured_text() = default;
    measured_text(const measured_text &) = delete;
    measured_text &operator=(const measured_text &) = delete;
    ~measured_text() { free_text_layout(&layout); }
};

// Integer halving that truncates toward zero, as C division does, so a box
// larger than the image gets a negative origin.
int64_t centred_origin(int64_t outer, int64_t inner) { return (outer - inner) / 2; }

// The save would refuse a picture too large for its format's encoder: refuse
// it from the input's header instead, with the same message, before
// gigabytes are decoded only to be thrown away.
int refuse_what_cannot_be_written(void *output_path, int input_format, int width, int height) {
    const char *path = static_cast<const char *>(output_path);
    if (writer_can_encode(format_from_path(path, input_format), width, height)) return 1;
    set_err("failed to write image to %s", path);
    return 0;
}

struct placement {
    int64_t x, y;
    float opacity;
    bool centre;
};

struct box_style {
    int red, green, blue, padding;
};

// The shared pipeline of the three exports that draw on an existing picture.
// place() turns the image size and measured box into the text placement.
template <typename Place>
int draw_on_file(const char *input_path, const char *output_path, const char *text, int size, int red, int green,
                 int blue, const box_style *box, Place place) {
    clear_err();
    if (!input_path || !output_path) {
        set_err("invalid argument: input or output path is NULL");
        return 0;
    }
    if (!text) {
        set_err("invalid argument: text is NULL");
        return 0;
    }
    if (!s_font_ready && !ensure_font_ready()) return 0;

    pixel_buffer pixels;
    int input_format = FMT_PNG;
    const load_check refuse_unwritable{refuse_what_cannot_be_written, const_cast<char *>(output_path)};
    if (!load_image(input_path, &pixels.image, &input_format, &refuse_unwritable)) return 0;

    measured_text measured;
    if (!measure_text_box(text, size, &measured.layout)) return 0;
    const text_layout &layout = measured.layout;

    const placement at = place(pixels.image, layout);
    if (box) {
        // The box's corner is the caller's (x, y); the text sits p inside it.
        const int64_t p = box->padding > 0 ? box->padding : 0;
        fill_rect(pixels.image, at.x - p, at.y - p, layout.box_width + 2 * p, layout.box_height + 2 * p, box->red,
                  box->green, box->blue);
    }
    render_text_lines(pixels.image, layout, at.x, at.y, size, red, green, blue, at.opacity, at.centre);
    free_text_layout(&measured.layout);

    const rgba_image &image = pixels.image;
    return save_image(output_path, image.width, image.height, image.pixels,
                      format_from_path(output_path, input_format));
}

}  // namespace

extern "C" int imgtext_add(const char *input_path, const char *output_path, const char *text, int x, int y, int size,
                           int red, int green, int blue, float opacity) {
    return draw_on_file(input_path, output_path, text, size, red, green, blue, nullptr,
                        [&](const rgba_image &, const text_layout &) { return placement{x, y, opacity, false}; });
}

extern "C" int imgtext_add_boxed(const char *input_path, const char *output_path, const char *text, int x, int y,
                                 int size, int red, int green, int blue, int box_red, int box_green, int box_blue,
                                 int padding) {
    const box_style box{box_red, box_green, box_blue, padding};
    const int64_t p = padding > 0 ? padding : 0;
    return draw_on_file(input_path, output_path, text, size, red, green, blue, &box,
                        [&](const rgba_image &, const text_layout &) {
                            return placement{x + p, y + p, 1.0f, false};
                        });
}

extern "C" int imgtext_centered(const char *input_path, const char *output_path, const char *text, int size, int red,
                                int green, int blue) {
    return draw_on_file(input_path, output_path, text, size, red, green, blue, nullptr,
                        [](const rgba_image &image, const text_layout &layout) {
                            return placement{centred_origin(image.width, layout.box_width),
                                             centred_origin(image.height, layout.box_height), 1.0f, true};
                        });
}

extern "C" int imgtext_create(const char *output_path, const char *text, int width, int height, int size, int red,
                              int green, int blue, int bg_red, int bg_green, int bg_blue) {
    clear_err();
    if (!output_path) {
        set_err("invalid argument: output path is NULL");
        return 0;
    }
    if (width <= 0 || height <= 0) {
        set_err("invalid dimensions: width and height must be > 0 (%dx%d)", width, height);
        return 0;
    }
    if (!s_font_ready && !ensure_font_ready()) return 0;

    pixel_buffer canvas;
    const uint64_t bytes = uint64_t{static_cast<unsigned>(width)} * static_cast<unsigned>(height) * 4;
    canvas.image = rgba_image{width, height, nullptr};
    if (bytes <= SIZE_MAX) canvas.image.pixels = static_cast<unsigned char *>(std::calloc(static_cast<size_t>(bytes), 1));
    if (!canvas.image.pixels) {
        set_err("failed to allocate image buffer (%dx%d)", width, height);
        return 0;
    }
    // A large zeroed block is mapped, not touched, so allocating costs
    // nothing; filling gigabytes that the encoder would then refuse does.
    const int format = format_from_path(output_path, FMT_PNG);
    if (!writer_can_encode(format, width, height)) {
        set_err("failed to write image to %s", output_path);
        return 0;
    }
    fill_rect(canvas.image, 0, 0, width, height, bg_red, bg_green, bg_blue);

    if (text && text[0]) {
        measured_text measured;
        if (!measure_text_box(text, size, &measured.layout)) return 0;
        const text_layout &layout = measured.layout;
        render_text_lines(canvas.image, layout, centred_origin(width, layout.box_width),
                          centred_origin(height, layout.box_height), size, red, green, blue, 1.0f, true);
    }
    return save_image(output_path, width, height, canvas.image.pixels, format);
}
