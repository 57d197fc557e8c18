// The seven file-to-file calls. Each drawing call is a pipeline over the
// same engine the drawing API uses: get pixels (decode a file or make a
// canvas), lay out and draw the text in the built-in font, save, and free
// everything the call allocated. They keep their own conventions (1 or 0,
// one process-wide error text, text as bytes), which export_guard.h's
// seven_call() gives them.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "api/export_guard.h"
#include "drawing/drawing.h"
#include "drawing/streamed.h"
#include "files/file_output.h"
#include "font/font.h"
#include "frame/errors.h"
#include "image/image_io.h"
#include "image/paint.h"
#include "quendal_imgtext.h"
#include "text/layout.h"

using namespace imgtext;

namespace {

// Set by the first call that needs the built-in font, cleared by
// imgtext_cleanup. The font itself is parsed once, whatever the flag says.
std::atomic<int> s_font_ready{0};

imgtext_status prepare_builtin_font() {
    if (s_font_ready) return IMGTEXT_OK;
    if (!builtin_font()) return error_status();
    s_font_ready = 1;
    return IMGTEXT_OK;
}

int effective_pixel_size(int size) { return size >= 1 ? size : 24; }

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
imgtext_status seven_call_text(const char *text, int size, int red, int green, int blue, float opacity,
                               line_align align, text_request *request) {
    if (size > QUENDAL_IMGTEXT_MAX_SIZE) {
        // Far beyond any real use, glyph boxes overflow the rasteriser's int
        // arithmetic; refusing keeps every size that can be drawn exact.
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid size: pixel size must be <= %d (%d)",
                         QUENDAL_IMGTEXT_MAX_SIZE, size);
    }
    const float px = static_cast<float>(effective_pixel_size(size));
    const font_face *builtin = builtin_font();
    request->layout =
        layout_request{text, std::strlen(text), text_encoding::bytes, make_text_face(&builtin, 1, px, false, 1.0f), 0};
    request->colour = paint{static_cast<float>(clamp_channel(red)), static_cast<float>(clamp_channel(green)),
                            static_cast<float>(clamp_channel(blue)), clamp_opacity(opacity)};
    request->align = align;
    return IMGTEXT_OK;
}

// A streamed input is a JPEG: the output is one too unless its extension
// names another format, as for the whole-picture save below.
bool jpeg_by_extension(void *output_path, const image_metadata *, encode_settings *settings) {
    settings->format = format_from_path(static_cast<const char *>(output_path), FMT_JPG);
    return true;
}

imgtext_status save(const char *path, const rgba_image &image, int fallback_format) {
    encode_settings settings;
    settings.format = format_from_path(path, fallback_format);
    return save_image_file(path, path_encoding::native, image, settings);
}

// The shared pipeline of the three calls that draw on an existing picture.
imgtext_status draw_on_file(const char *input_path, const char *output_path, const char *text, text_request request,
                            int size, int red, int green, int blue, float opacity, line_align align,
                            const placement &where) {
    if (!input_path || !output_path) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: input or output path is NULL");
    }
    if (!text) return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: text is NULL");
    imgtext_status status = prepare_builtin_font();
    if (status != IMGTEXT_OK) return status;

    pixel_buffer pixels;
    int input_format = FMT_PNG;
    const load_check refuse_unwritable{refuse_what_cannot_be_written, const_cast<char *>(output_path)};
    load_settings settings;
    settings.check = &refuse_unwritable;
    settings.allow_damaged = true;  // as these calls always have: a cut file draws as its decoder reads it
    // The text is made ready first so that a JPEG to JPEG call can stream;
    // a text that cannot be drawn is still reported after the load's errors.
    const imgtext_status text_ready = seven_call_text(text, size, red, green, blue, opacity, align, &request);
    file_output file(output_path);
    if (text_ready == IMGTEXT_OK && file.can_take_back()) {
        const streamed_text texts[] = {{&request, where}};
        const encoding_choice encoding{jpeg_by_extension, const_cast<char *>(output_path)};
        bool streamed = false;
        status =
            load_file_draw_and_encode(input_path, path_encoding::native, settings, texts, 1, encoding,
                                      file_output::write_to, &file, FMT_PNG, &pixels.image, &input_format, &streamed);
        if (status != IMGTEXT_OK) return status;
        if (streamed) return commit_output(output_path, file, false);
        file.abandon();
    } else {
        status = load_image_file(input_path, path_encoding::native, settings, FMT_PNG, &pixels.image, &input_format);
        if (status != IMGTEXT_OK) return status;
        if (text_ready != IMGTEXT_OK) return seven_call_text(text, size, red, green, blue, opacity, align, &request);
    }
    status = draw_text(pixels.image, request, where, nullptr, nullptr);
    if (status != IMGTEXT_OK) return status;
    return save(output_path, pixels.image, input_format);
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

imgtext_status create_canvas(const char *output_path, const char *text, int width, int height, int size, int red,
                             int green, int blue, int bg_red, int bg_green, int bg_blue) {
    if (!output_path) return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: output path is NULL");
    if (width <= 0 || height <= 0) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid dimensions: width and height must be > 0 (%dx%d)", width,
                         height);
    }
    imgtext_status status = prepare_builtin_font();
    if (status != IMGTEXT_OK) return status;

    pixel_buffer canvas;
    const uint64_t bytes = uint64_t{static_cast<unsigned>(width)} * static_cast<unsigned>(height) * 4;
    canvas.image = rgba_image{width, height, nullptr};
    // No allocator hands out more than PTRDIFF_MAX bytes: beyond it the
    // request fails as a failed allocation would, without being made.
    if (bytes <= static_cast<uint64_t>(PTRDIFF_MAX))
        canvas.image.pixels = static_cast<unsigned char *>(std::calloc(static_cast<size_t>(bytes), 1));
    if (!canvas.image.pixels) {
        return set_error(IMGTEXT_ERROR_MEMORY, "failed to allocate image buffer (%dx%d)", width, height);
    }
    // A large zeroed block is mapped, not touched, so allocating costs
    // nothing; filling gigabytes that the encoder would then refuse does.
    if (!writer_can_encode(format_from_path(output_path, FMT_PNG), width, height)) {
        return set_error(IMGTEXT_ERROR_LIMIT, "failed to write image to %s", output_path);
    }
    fill_rect(canvas.image, 0, 0, width, height, bg_red, bg_green, bg_blue);

    if (text && text[0]) {
        text_request request;
        status = seven_call_text(text, size, red, green, blue, 1.0f, line_align::centre, &request);
        if (status != IMGTEXT_OK) return status;
        status = draw_text(canvas.image, request, centred(), nullptr, nullptr);
        if (status != IMGTEXT_OK) return status;
    }
    return save(output_path, canvas.image, FMT_PNG);
}

}  // namespace

extern "C" int imgtext_init(void) {
    return seven_call([] { return prepare_builtin_font(); });
}

extern "C" void imgtext_cleanup(void) {
    api_void([] {
        s_err[0] = '\0';
        // The parsed built-in font is shared, read-only and lives as long as
        // the library, so there is nothing to free: dropping the flag only
        // makes the next call check it again, as it always did.
        s_font_ready = 0;
    });
}

extern "C" const char *imgtext_last_error(void) {
    return api_value<const char *>(s_err, [] { return s_err; });
}

extern "C" int imgtext_add(const char *input_path, const char *output_path, const char *text, int x, int y, int size,
                           int red, int green, int blue, float opacity) {
    return seven_call([&] {
        return draw_on_file(input_path, output_path, text, text_request{}, size, red, green, blue, opacity,
                            line_align::left, top_left_at(x, y));
    });
}

extern "C" int imgtext_add_boxed(const char *input_path, const char *output_path, const char *text, int x, int y,
                                 int size, int red, int green, int blue, int box_red, int box_green, int box_blue,
                                 int padding) {
    return seven_call([&] {
        // (x, y) is the box's corner; the text sits padding inside it.
        const int64_t p = padding > 0 ? padding : 0;
        text_request boxed;
        boxed.box = true;
        boxed.box_colour =
            imgtext_color{static_cast<uint8_t>(clamp_channel(box_red)), static_cast<uint8_t>(clamp_channel(box_green)),
                          static_cast<uint8_t>(clamp_channel(box_blue)), 255};
        boxed.padding = p;
        return draw_on_file(input_path, output_path, text, boxed, size, red, green, blue, 1.0f, line_align::left,
                            top_left_at(x + p, y + p));
    });
}

extern "C" int imgtext_centered(const char *input_path, const char *output_path, const char *text, int size, int red,
                                int green, int blue) {
    return seven_call([&] {
        return draw_on_file(input_path, output_path, text, text_request{}, size, red, green, blue, 1.0f,
                            line_align::centre, centred());
    });
}

extern "C" int imgtext_create(const char *output_path, const char *text, int width, int height, int size, int red,
                              int green, int blue, int bg_red, int bg_green, int bg_blue) {
    return seven_call([&] {
        return create_canvas(output_path, text, width, height, size, red, green, blue, bg_red, bg_green, bg_blue);
    });
}
