// The drawing API's exports: image handles, option structs, measuring and
// drawing. Each checks its arguments, turns options into the engine's
// requests and reports failures per thread; the work is the engine's, the
// same the seven calls run.
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "drawing/drawing.h"
#include "files/file_input.h"
#include "font/font.h"
#include "image/image.h"
#include "image/metadata.h"
#include "frame/errors.h"
#include "quendal_imgtext.h"
#include "text/layout.h"

using namespace imgtext;

namespace {

imgtext_status bad_argument(const char *what) { return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: %s", what); }

// Options structs begin with their size: read the fields the caller's
// version of the header knew and keep the defaults for the rest.
template <typename Options>
bool read_options(const Options *given, void (*init)(Options *), Options *out) {
    init(out);
    if (!given) return true;
    if (given->struct_size < sizeof(size_t)) return false;
    std::memcpy(out, given, given->struct_size < sizeof(Options) ? given->struct_size : sizeof(Options));
    out->struct_size = sizeof(Options);
    return true;
}

// Results likewise: write only what the caller has room for.
template <typename Result>
void write_result(const Result &value, Result *out) {
    if (!out || out->struct_size < sizeof(size_t)) return;
    const size_t room = out->struct_size;
    std::memcpy(out, &value, room < sizeof(Result) ? room : sizeof(Result));
    out->struct_size = room;
}

imgtext_image *new_handle(const rgba_image &view, bool owns, int format) {
    auto *image = static_cast<imgtext_image *>(std::malloc(sizeof(imgtext_image)));
    if (image) *image = imgtext_image{view, owns, format, nullptr};
    return image;
}

imgtext_status hand_over(const rgba_image &pixels, int format, imgtext_image **image,
                         image_metadata *metadata = nullptr) {
    *image = new_handle(pixels, true, format);
    if (*image) {
        (*image)->metadata = metadata;
        return IMGTEXT_OK;
    }
    std::free(pixels.pixels);
    free_metadata(metadata);
    return set_error(IMGTEXT_ERROR_MEMORY, "out of memory");
}

bool valid_size(int width, int height) { return width > 0 && height > 0; }

unsigned char *allocate_pixels(int width, int height, bool zeroed) {
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
    if (bytes > SIZE_MAX) return nullptr;
    return static_cast<unsigned char *>(zeroed ? std::calloc(static_cast<size_t>(bytes), 1)
                                               : std::malloc(static_cast<size_t>(bytes)));
}

// The first version of the load options ended after auto_orient, and a
// caller's padding after it was never initialised: an option added since
// must lie past it, or an old program's garbage would be read as the option.
struct load_options_first_version {
    size_t struct_size;
    uint64_t max_pixels;
    int auto_orient;
};
static_assert(offsetof(imgtext_load_options, threads) >= sizeof(load_options_first_version));

imgtext_status load_settings_from(const imgtext_load_options *options, load_settings *settings) {
    imgtext_load_options o;
    if (!read_options(options, imgtext_load_options_init, &o)) return bad_argument("load options size");
    if (o.threads < 0) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: threads must be 0 or more (%d)", o.threads);
    }
    settings->max_pixels = o.max_pixels;
    settings->auto_orient = o.auto_orient != 0;
    settings->threads = o.threads;
    return IMGTEXT_OK;
}

imgtext_status encode_settings_from(const imgtext_image *image, const imgtext_save_options *options,
                                    const char *path, encode_settings *settings) {
    imgtext_save_options o;
    if (!read_options(options, imgtext_save_options_init, &o)) return bad_argument("save options size");
    if (o.format < IMGTEXT_FORMAT_AUTO || o.format > IMGTEXT_FORMAT_BMP) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: unknown format %d", o.format);
    }
    if (o.jpeg_quality < 1 || o.jpeg_quality > 100) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: JPEG quality must be 1..100 (%d)", o.jpeg_quality);
    }
    const int input = image->format ? image->format : FMT_PNG;
    settings->format = o.format ? o.format : path ? format_from_path(path, input) : input;
    settings->jpeg_quality = o.jpeg_quality;
    settings->png_rgb_if_opaque = o.png_rgb_if_opaque != 0;
    settings->metadata = o.drop_metadata ? nullptr : image->metadata;
    settings->keep_exif = o.keep_exif != 0;
    return IMGTEXT_OK;
}

// ---- text styles

// The fonts and numbers of a style's size; an argument error for sizes and
// factors out of range.
imgtext_status face_from(const imgtext_text_style &style, text_face *face) {
    const font_face *font = style.font ? style.font : builtin_font();
    if (!font) return error_status();
    const bool em = style.size_unit == IMGTEXT_SIZE_EM;
    if (style.size_unit != IMGTEXT_SIZE_PIXEL_HEIGHT && !em) return bad_argument("unknown size unit");
    if (!(style.size > 0.0f && style.size <= static_cast<float>(QUENDAL_IMGTEXT_MAX_SIZE))) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid size: must be more than 0 and at most %d (%g)",
                         QUENDAL_IMGTEXT_MAX_SIZE, static_cast<double>(style.size));
    }
    if (!(style.line_spacing > 0.0f && style.line_spacing <= 100.0f)) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid line spacing: must be more than 0 and at most 100 (%g)",
                         static_cast<double>(style.line_spacing));
    }
    const float scale = font_scale(*font, style.size, em);
    const vertical_metrics m = font_vertical_metrics(*font);
    *face = text_face{font, style.fallback, scale, style.fallback ? font_scale(*style.fallback, style.size, em) : 0.0f,
                      0, 0, 0};
    int line_height = ceil_to_int(static_cast<float>(m.ascent - m.descent + m.line_gap) * scale);
    if (line_height <= 0) line_height = ceil_to_int(style.size);
    face->line_height = style.line_spacing == 1.0f ? line_height
                                                   : std::max(1, ceil_to_int(static_cast<float>(line_height) *
                                                                             style.line_spacing));
    face->ascent = ceil_to_int(static_cast<float>(m.ascent) * scale);
    face->descent = ceil_to_int(static_cast<float>(-m.descent) * scale);
    return IMGTEXT_OK;
}

imgtext_status request_from(const char *text, size_t length, const imgtext_text_style *given,
                            text_request *request) {
    if (!text && length != 0) return bad_argument("text is NULL");
    imgtext_text_style style;
    if (!read_options(given, imgtext_text_style_init, &style)) return bad_argument("text style size");
    if (style.align < IMGTEXT_ALIGN_LEFT || style.align > IMGTEXT_ALIGN_RIGHT) return bad_argument("unknown alignment");
    if (style.max_width < 0) return bad_argument("max_width is negative");
    text_face face{};
    const imgtext_status status = face_from(style, &face);
    if (status != IMGTEXT_OK) return status;
    if (!text) text = "";
    if (length == IMGTEXT_NUL_TERMINATED) length = std::strlen(text);
    float opacity = style.opacity;
    if (opacity < 0.0f) opacity = 0.0f;  // NaN passes and draws nothing
    if (opacity > 1.0f) opacity = 1.0f;
    const float style_opacity = opacity;
    if (style.color.a != 255) opacity = opacity * (static_cast<float>(style.color.a) / 255.0f);
    request->layout = layout_request{text, length, text_encoding::utf8, face, style.max_width};
    request->colour = paint{static_cast<float>(style.color.r), static_cast<float>(style.color.g),
                            static_cast<float>(style.color.b), opacity};
    request->align = style.align == IMGTEXT_ALIGN_CENTER  ? line_align::centre
                     : style.align == IMGTEXT_ALIGN_RIGHT ? line_align::right
                                                          : line_align::left;
    request->box = style.box != 0;
    request->box_colour = style.box_color;
    request->padding = style.padding;
    if (!(style.box_radius >= 0.0f && style.box_radius <= 1e6f)) return bad_argument("box_radius out of range");
    request->box_radius = style.box_radius;
    if (!(style.stroke_width >= 0.0f && style.stroke_width <= k_max_effect_pixels)) {
        return bad_argument("stroke_width out of range");
    }
    if (style.shadow && !(style.shadow_blur >= 0.0f && style.shadow_blur <= k_max_effect_pixels)) {
        return bad_argument("shadow_blur out of range");
    }
    text_effects &effects = request->effects;
    effects.stroke_width = style.stroke_width;
    effects.stroke_colour = style.stroke_color;
    effects.shadow = style.shadow != 0;
    effects.shadow_dx = style.shadow_dx, effects.shadow_dy = style.shadow_dy;
    effects.shadow_blur = style.shadow_blur;
    effects.shadow_colour = style.shadow_color;
    effects.opacity = style_opacity;
    effects.text_alpha = static_cast<float>(style.color.a) / 255.0f;
    return IMGTEXT_OK;
}

int clamp_to_int(int64_t v) { return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int>(v); }

imgtext_text_metrics metrics_of(const text_layout &layout, int64_t x, int64_t y) {
    imgtext_text_metrics m{};
    m.struct_size = sizeof m;
    m.x = clamp_to_int(x), m.y = clamp_to_int(y);
    m.width = layout.box_width;
    m.height = clamp_to_int(layout.box_height);
    m.line_count = clamp_to_int(static_cast<int64_t>(layout.line_count));
    m.line_height = layout.line_height;
    m.ascent = layout.ascent;
    m.descent = layout.descent;
    m.missing_glyphs = layout.missing_glyphs;
    return m;
}

imgtext_status draw(imgtext_image *image, const char *text, size_t length, const placement &where,
                    const imgtext_text_style *style, imgtext_text_metrics *metrics) {
    clear_error();
    if (!image) return bad_argument("image is NULL");
    if (static_cast<unsigned>(where.position) > IMGTEXT_BOTTOM_RIGHT) return bad_argument("unknown position");
    text_request request;
    imgtext_status status = request_from(text, length, style, &request);
    if (status != IMGTEXT_OK) return status;
    text_layout layout{};
    box_origin at{};
    status = draw_text(image->view, request, where, &at, &layout);
    if (status != IMGTEXT_OK) return status;
    write_result(metrics_of(layout, at.x, at.y), metrics);
    free_text_layout(&layout);
    return IMGTEXT_OK;
}

// Loads with the options, then hands the pixels and the metadata kept with
// them to a new handle. decode(settings, &pixels, &format) does the reading.
template <typename Decode>
imgtext_status load_handle(const imgtext_load_options *options, imgtext_image **image, Decode decode) {
    load_settings settings;
    imgtext_status status = load_settings_from(options, &settings);
    if (status != IMGTEXT_OK) return status;
    rgba_image pixels{0, 0, nullptr};
    int format = FMT_AUTO;
    image_metadata *metadata = nullptr;
    settings.metadata = &metadata;
    status = decode(settings, &pixels, &format);
    if (status != IMGTEXT_OK) return status;
    return hand_over(pixels, format, image, metadata);
}

// The arguments of wrap and copy: a caller's buffer and where the handle goes.
imgtext_status check_caller_pixels(const void *pixels, int width, int height, size_t stride, imgtext_image **image) {
    clear_error();
    if (!image) return bad_argument("image is NULL");
    *image = nullptr;
    if (!pixels) return bad_argument("pixels is NULL");
    if (!valid_size(width, height) || stride / 4 < static_cast<size_t>(width)) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid dimensions: %dx%d with a stride of %.0f bytes", width, height,
                         static_cast<double>(stride));
    }
    return IMGTEXT_OK;
}

}  // namespace

extern "C" {

void imgtext_load_options_init(imgtext_load_options *options) {
    if (!options) return;
    *options = imgtext_load_options{};
    options->struct_size = sizeof *options;
    options->max_pixels = IMGTEXT_DEFAULT_MAX_PIXELS;
    options->auto_orient = 1;
    options->threads = 1;
}

void imgtext_save_options_init(imgtext_save_options *options) {
    if (!options) return;
    *options = imgtext_save_options{};
    options->struct_size = sizeof *options;
    options->format = IMGTEXT_FORMAT_AUTO;
    options->jpeg_quality = 92;
}

void imgtext_text_style_init(imgtext_text_style *style) {
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
}

imgtext_status imgtext_image_create(int width, int height, imgtext_color color, imgtext_image **image) {
    clear_error();
    if (!image) return bad_argument("image is NULL");
    *image = nullptr;
    if (!valid_size(width, height)) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid dimensions: width and height must be > 0 (%dx%d)", width,
                         height);
    }
    rgba_image canvas{width, height, allocate_pixels(width, height, color.r == 0 && color.g == 0 && color.b == 0 &&
                                                                        color.a == 0)};
    if (!canvas.pixels) return set_error(IMGTEXT_ERROR_MEMORY, "failed to allocate image buffer (%dx%d)", width, height);
    if (color.r || color.g || color.b || color.a) {
        const unsigned char pixel[4] = {color.r, color.g, color.b, color.a};
        const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
        for (size_t i = 0; i < count; ++i) std::memcpy(canvas.pixels + i * 4, pixel, 4);
    }
    return hand_over(canvas, FMT_AUTO, image);
}

imgtext_status imgtext_image_load(const char *path, const imgtext_load_options *options, imgtext_image **image) {
    clear_error();
    if (!image) return bad_argument("image is NULL");
    *image = nullptr;
    if (!path) return bad_argument("path is NULL");
    return load_handle(options, image, [&](const load_settings &settings, rgba_image *pixels, int *format) {
        return load_image_file(path, path_encoding::utf8, settings, FMT_AUTO, pixels, format);
    });
}

imgtext_status imgtext_image_load_memory(const void *data, size_t size, const imgtext_load_options *options,
                                         imgtext_image **image) {
    clear_error();
    if (!image) return bad_argument("image is NULL");
    *image = nullptr;
    if (!data || size == 0) return bad_argument("no data");
    return load_handle(options, image, [&](const load_settings &settings, rgba_image *pixels, int *format) {
        return decode_image(static_cast<const unsigned char *>(data), size, nullptr, settings, FMT_AUTO, pixels, format);
    });
}

imgtext_status imgtext_image_wrap(void *pixels, int width, int height, size_t stride, imgtext_image **image) {
    const imgtext_status checked = check_caller_pixels(pixels, width, height, stride, image);
    if (checked != IMGTEXT_OK) return checked;
    *image = new_handle(rgba_image{width, height, static_cast<unsigned char *>(pixels), stride}, false, FMT_AUTO);
    return *image ? IMGTEXT_OK : set_error(IMGTEXT_ERROR_MEMORY, "out of memory");
}

imgtext_status imgtext_image_copy(const void *pixels, int width, int height, size_t stride, imgtext_image **image) {
    const imgtext_status checked = check_caller_pixels(pixels, width, height, stride, image);
    if (checked != IMGTEXT_OK) return checked;
    rgba_image copy{width, height, allocate_pixels(width, height, false)};
    if (!copy.pixels) return set_error(IMGTEXT_ERROR_MEMORY, "failed to allocate image buffer (%dx%d)", width, height);
    const auto *from = static_cast<const unsigned char *>(pixels);
    for (int y = 0; y < height; ++y) {
        std::memcpy(copy.row(y), from + stride * static_cast<size_t>(y), copy.row_bytes());
    }
    return hand_over(copy, FMT_AUTO, image);
}

void imgtext_image_free(imgtext_image *image) {
    if (!image) return;
    if (image->owns_pixels) std::free(image->view.pixels);
    free_metadata(image->metadata);
    std::free(image);
}

int imgtext_image_width(const imgtext_image *image) { return image ? image->view.width : 0; }
int imgtext_image_height(const imgtext_image *image) { return image ? image->view.height : 0; }
size_t imgtext_image_stride(const imgtext_image *image) { return image ? image->view.row_bytes() : 0; }
uint8_t *imgtext_image_pixels(imgtext_image *image) { return image ? image->view.pixels : nullptr; }
int imgtext_image_format(const imgtext_image *image) { return image ? image->format : IMGTEXT_FORMAT_AUTO; }

imgtext_status imgtext_image_save(const imgtext_image *image, const char *path,
                                  const imgtext_save_options *options) {
    clear_error();
    if (!image) return bad_argument("image is NULL");
    if (!path) return bad_argument("path is NULL");
    encode_settings settings;
    const imgtext_status status = encode_settings_from(image, options, path, &settings);
    if (status != IMGTEXT_OK) return status;
    return save_image_file(path, path_encoding::utf8, image->view, settings);
}

imgtext_status imgtext_image_encode(const imgtext_image *image, const imgtext_save_options *options, void **data,
                                    size_t *size) {
    clear_error();
    if (!image) return bad_argument("image is NULL");
    if (!data || !size) return bad_argument("data or size is NULL");
    *data = nullptr;
    *size = 0;
    encode_settings settings;
    const imgtext_status status = encode_settings_from(image, options, nullptr, &settings);
    if (status != IMGTEXT_OK) return status;
    return encode_image_to_memory(image->view, settings, data, size);
}

void imgtext_free(void *data) { std::free(data); }

imgtext_status imgtext_measure_text(const char *text, size_t length, const imgtext_text_style *style,
                                    imgtext_text_metrics *metrics, int *line_widths, size_t max_lines) {
    clear_error();
    text_request request;
    imgtext_status status = request_from(text, length, style, &request);
    if (status != IMGTEXT_OK) return status;
    text_layout layout{};
    status = layout_text(request.layout, &layout);
    if (status != IMGTEXT_OK) return status;
    write_result(metrics_of(layout, 0, 0), metrics);
    if (line_widths) {
        for (size_t i = 0; i < layout.line_count && i < max_lines; ++i) line_widths[i] = layout.lines[i].width;
    }
    free_text_layout(&layout);
    return IMGTEXT_OK;
}

imgtext_status imgtext_draw_text(imgtext_image *image, const char *text, size_t length, int x, int y,
                                 imgtext_position anchor, const imgtext_text_style *style,
                                 imgtext_text_metrics *metrics) {
    placement where;
    where.position = anchor;
    where.x = x, where.y = y;
    return draw(image, text, length, where, style, metrics);
}

imgtext_status imgtext_draw_text_gravity(imgtext_image *image, const char *text, size_t length,
                                         imgtext_position gravity, int margin, const imgtext_text_style *style,
                                         imgtext_text_metrics *metrics) {
    placement where;
    where.by_gravity = true;
    where.position = gravity;
    where.margin = margin;
    return draw(image, text, length, where, style, metrics);
}

}  // extern "C"
