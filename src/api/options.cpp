// Reading the drawing API's option structs and styles into the engine's
// settings and requests, and its results back out.
#include "api/options.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "font/font.h"
#include "frame/errors.h"
#include "image/paint.h"
#include "text/shaping.h"

namespace imgtext {

imgtext_status bad_argument(const char *what) {
    return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: %s", what);
}

namespace {

// The first version of the load options ended after auto_orient, and a
// caller's padding after it was never initialised: an option added since
// must lie past it, or an old program's garbage would be read as the option.
struct load_options_first_version {
    size_t struct_size;
    uint64_t max_pixels;
    int auto_orient;
};
static_assert(offsetof(imgtext_load_options, threads) >= sizeof(load_options_first_version));
// ...and the version with threads ended with padding after it.
struct load_options_with_threads {
    size_t struct_size;
    uint64_t max_pixels;
    int auto_orient, reserved, threads;
};
static_assert(offsetof(imgtext_load_options, max_input_bytes) >= sizeof(load_options_with_threads));

// The style as it was before fallback chains and shaping: fields added
// since lie past its end, which a caller's uninitialised padding cannot reach.
struct text_style_with_effects {
    size_t struct_size;
    const imgtext_font *font, *fallback;
    float size;
    int size_unit;
    float line_spacing;
    int align, max_width;
    imgtext_color color;
    float opacity;
    int box;
    imgtext_color box_color;
    int padding;
    float stroke_width;
    imgtext_color stroke_color;
    int shadow, shadow_dx, shadow_dy;
    float shadow_blur;
    imgtext_color shadow_color;
    float box_radius;
};
static_assert(offsetof(imgtext_text_style, fallbacks) >= sizeof(text_style_with_effects));

// The style's font chain: its font (the built-in one by default), its
// fallback, then its fallbacks, in order.
imgtext_status font_chain(const imgtext_text_style &style, const font_face **fonts, int *count) {
    const font_face *font = style.font ? style.font : builtin_font();
    if (!font) return error_status();
    if (style.fallback_count && !style.fallbacks) return bad_argument("fallbacks is NULL");
    const size_t total = 1 + (style.fallback ? 1 : 0) + style.fallback_count;
    if (style.fallback_count > QUENDAL_IMGTEXT_MAX_FONTS || total > QUENDAL_IMGTEXT_MAX_FONTS) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: more than %d fonts in the chain",
                         QUENDAL_IMGTEXT_MAX_FONTS);
    }
    int n = 0;
    fonts[n++] = font;
    if (style.fallback) fonts[n++] = style.fallback;
    for (size_t i = 0; i < style.fallback_count; ++i) {
        if (!style.fallbacks[i]) {
            return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: fallbacks[%d] is NULL", static_cast<int>(i));
        }
        fonts[n++] = style.fallbacks[i];
    }
    *count = n;
    return IMGTEXT_OK;
}

// The fonts and numbers of a style's size; an argument error for sizes and
// factors out of range.
// Each variable font of the chain at the style's variations, made for the
// request and owned by it.
imgtext_status vary_chain(const char *variations, const font_face **fonts, int count,
                          std::shared_ptr<request_fonts> *owned) {
    if (!variations || !*variations) return IMGTEXT_OK;
    imgtext_status status = check_variations(variations);
    if (status != IMGTEXT_OK) return status;
    auto made = std::make_shared<request_fonts>();
    bool any = false;
    for (int i = 0; i < count; ++i) {
        status = vary_font(*fonts[i], variations, &made->fonts[i]);
        if (status != IMGTEXT_OK) return status;
        if (made->fonts[i]) fonts[i] = made->fonts[i], any = true;
    }
    if (!any && !std::strchr(variations, '=')) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: no font of the style has a named instance '%.64s'",
                         variations);
    }
    if (any) *owned = std::move(made);
    return IMGTEXT_OK;
}

imgtext_status face_from(const imgtext_text_style &style, size_settings *sizing, text_face *face,
                         std::shared_ptr<request_fonts> *owned) {
    const font_face **fonts = sizing->fonts;
    int font_count = 0;
    const imgtext_status chained = font_chain(style, fonts, &font_count);
    if (chained != IMGTEXT_OK) return chained;
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
    const imgtext_status varied = vary_chain(style.variations, fonts, font_count, owned);
    if (varied != IMGTEXT_OK) return varied;
    sizing->font_count = font_count;
    sizing->size = style.size;
    sizing->em = em;
    sizing->line_spacing = style.line_spacing;
    *face = face_at(*sizing, style.size);
    return IMGTEXT_OK;
}

// A float field that must lie in [low, high] (NaN never does).
imgtext_status check_range(float value, double low, double high, const char *field) {
    if (value >= low && value <= high) return IMGTEXT_OK;
    return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: %s must be %g..%g (%g)", field, low, high,
                     static_cast<double>(value));
}

// The box fields: wrapping, spacing, line pitch, cutting and auto-size.
imgtext_status box_from(const imgtext_text_style &style, size_settings *sizing, fit_settings *fit) {
    if (style.wrap < IMGTEXT_WRAP_WORD || style.wrap > IMGTEXT_WRAP_NONE) return bad_argument("unknown wrap");
    if (style.letter_spacing_unit != IMGTEXT_LETTER_SPACING_PIXELS &&
        style.letter_spacing_unit != IMGTEXT_LETTER_SPACING_EM_1000) {
        return bad_argument("unknown letter_spacing_unit");
    }
    const bool em = style.letter_spacing_unit == IMGTEXT_LETTER_SPACING_EM_1000;
    const double most = em ? QUENDAL_IMGTEXT_MAX_LETTER_SPACING_EM_1000 : QUENDAL_IMGTEXT_MAX_LETTER_SPACING;
    imgtext_status status = check_range(style.letter_spacing, -most, most, "letter_spacing");
    if (status == IMGTEXT_OK)
        status = check_range(style.line_height, 0, QUENDAL_IMGTEXT_MAX_LINE_HEIGHT, "line_height");
    if (status == IMGTEXT_OK) {
        status =
            check_range(style.leading, -QUENDAL_IMGTEXT_MAX_LINE_HEIGHT, QUENDAL_IMGTEXT_MAX_LINE_HEIGHT, "leading");
    }
    if (status != IMGTEXT_OK) return status;
    if (style.max_lines < 0) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: max_lines must be 0 or more (%d)", style.max_lines);
    }
    sizing->letter_spacing = style.letter_spacing;
    sizing->letter_spacing_em = em;
    sizing->line_height = style.line_height;
    sizing->leading = style.leading;
    if (!style.auto_size) return IMGTEXT_OK;
    if (style.fit_width < 0 || style.fit_height < 0 || (style.fit_width == 0 && style.fit_height == 0)) {
        return set_error(IMGTEXT_ERROR_ARGUMENT,
                         "invalid argument: auto_size needs a box: fit_width and fit_height 0 or more, not both 0 "
                         "(%d x %d)",
                         style.fit_width, style.fit_height);
    }
    status = check_range(style.min_size, 0, QUENDAL_IMGTEXT_MAX_SIZE, "min_size");
    if (status == IMGTEXT_OK) status = check_range(style.max_size, 0, QUENDAL_IMGTEXT_MAX_SIZE, "max_size");
    if (status != IMGTEXT_OK) return status;
    fit->on = true;
    fit->width = style.fit_width, fit->height = style.fit_height;
    fit->min_given = style.min_size > 0.0f;
    if (fit->min_given) fit->min_size = style.min_size;
    if (style.max_size > 0.0f) fit->max_size = style.max_size;
    if (fit->min_size > fit->max_size) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: min_size is more than max_size (%g > %g)",
                         static_cast<double>(fit->min_size), static_cast<double>(fit->max_size));
    }
    return IMGTEXT_OK;
}

imgtext_status shaping_from(const imgtext_text_style &style, shaping_options *shaping) {
    if (style.layout < IMGTEXT_LAYOUT_AUTO || style.layout > IMGTEXT_LAYOUT_SHAPED)
        return bad_argument("unknown layout");
    if (style.direction < IMGTEXT_DIRECTION_AUTO || style.direction > IMGTEXT_DIRECTION_RTL) {
        return bad_argument("unknown direction");
    }
    imgtext_status status = check_features(style.features);
    if (status == IMGTEXT_OK) status = check_language(style.language);
    if (status != IMGTEXT_OK) return status;
    shaping->mode = style.layout == IMGTEXT_LAYOUT_SIMPLE   ? layout_mode::simple
                    : style.layout == IMGTEXT_LAYOUT_SHAPED ? layout_mode::shaped
                                                            : layout_mode::automatic;
    shaping->direction = style.direction == IMGTEXT_DIRECTION_LTR   ? text_direction::ltr
                         : style.direction == IMGTEXT_DIRECTION_RTL ? text_direction::rtl
                                                                    : text_direction::automatic;
    shaping->features = style.features && *style.features ? style.features : nullptr;
    shaping->language = style.language && *style.language ? style.language : nullptr;
    return IMGTEXT_OK;
}

imgtext_status effects_from(const imgtext_text_style &style, float opacity, text_effects *effects) {
    if (!(style.stroke_width >= 0.0f && style.stroke_width <= QUENDAL_IMGTEXT_MAX_STROKE_WIDTH)) {
        return bad_argument("stroke_width out of range");
    }
    if (style.shadow && !(style.shadow_blur >= 0.0f && style.shadow_blur <= QUENDAL_IMGTEXT_MAX_SHADOW_BLUR)) {
        return bad_argument("shadow_blur out of range");
    }
    effects->stroke_width = style.stroke_width;
    effects->stroke_colour = style.stroke_color;
    effects->shadow = style.shadow != 0;
    effects->shadow_dx = style.shadow_dx, effects->shadow_dy = style.shadow_dy;
    effects->shadow_blur = style.shadow_blur;
    effects->shadow_colour = style.shadow_color;
    effects->opacity = opacity;
    effects->text_alpha = static_cast<float>(style.color.a) / 255.0f;
    return IMGTEXT_OK;
}

int clamp_to_int(int64_t v) { return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int>(v); }

}  // namespace

imgtext_status load_settings_from(const imgtext_load_options *options, load_settings *settings) {
    imgtext_load_options o;
    if (!read_options(options, imgtext_load_options_init, &o)) return bad_argument("load options size");
    if (o.threads < 0) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: threads must be 0 or more (%d)", o.threads);
    }
    settings->max_pixels = o.max_pixels;
    settings->auto_orient = o.auto_orient != 0;
    settings->threads = o.threads;
    settings->max_input_bytes = o.max_input_bytes;
    settings->allow_damaged = o.allow_damaged != 0;
    return IMGTEXT_OK;
}

imgtext_status encode_settings_from(const imgtext_image *image, const imgtext_save_options *options, const char *path,
                                    encode_settings *settings) {
    imgtext_save_options o;
    if (!read_options(options, imgtext_save_options_init, &o)) return bad_argument("save options size");
    if (o.format < IMGTEXT_FORMAT_AUTO || o.format > IMGTEXT_FORMAT_BMP) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: unknown format %d", o.format);
    }
    if (o.jpeg_quality < 1 || o.jpeg_quality > 100) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: JPEG quality must be 1..100 (%d)", o.jpeg_quality);
    }
    if (path && o.format == IMGTEXT_FORMAT_AUTO) {
        const char *extension = foreign_extension(path);
        if (extension) {
            return set_error(IMGTEXT_ERROR_ARGUMENT,
                             "invalid argument: cannot write a %s file: use .png, .jpg, .jpeg or .bmp, or set a format",
                             extension);
        }
    }
    const int input = image->format ? image->format : FMT_PNG;
    settings->format = o.format ? o.format : path ? format_from_path(path, input) : input;
    settings->jpeg_quality = o.jpeg_quality;
    settings->png_rgb_if_opaque = o.png_rgb_if_opaque != 0;
    settings->metadata = o.drop_metadata ? nullptr : image->metadata;
    settings->keep_exif = o.keep_exif != 0;
    settings->give_reason = true;
    return IMGTEXT_OK;
}

imgtext_status request_from(const char *text, size_t length, const imgtext_text_style *given, text_request *request) {
    if (!text && length != 0) return bad_argument("text is NULL");
    imgtext_text_style style;
    if (!read_options(given, imgtext_text_style_init, &style)) return bad_argument("text style size");
    if (style.align < IMGTEXT_ALIGN_LEFT || style.align > IMGTEXT_ALIGN_JUSTIFY)
        return bad_argument("unknown alignment");
    if (style.max_width < 0) return bad_argument("max_width is negative");
    text_face face{};
    imgtext_status status = face_from(style, &request->sizing, &face, &request->owned_fonts);
    if (status == IMGTEXT_OK) status = box_from(style, &request->sizing, &request->fit);
    if (status != IMGTEXT_OK) return status;
    if (style.line_height != 0.0f || style.leading != 0.0f) face = face_at(request->sizing, style.size);
    if (!text) text = "";
    if (length == IMGTEXT_NUL_TERMINATED) length = std::strlen(text);
    if (length > QUENDAL_IMGTEXT_MAX_TEXT_BYTES) {
        return set_error(IMGTEXT_ERROR_LIMIT, "text too long: %.0f bytes is more than %d", static_cast<double>(length),
                         QUENDAL_IMGTEXT_MAX_TEXT_BYTES);
    }
    shaping_options shaping;
    status = shaping_from(style, &shaping);
    if (status != IMGTEXT_OK) return status;
    const float style_opacity = clamp_opacity(style.opacity);
    float opacity = style_opacity;
    if (style.color.a != 255) opacity = opacity * (static_cast<float>(style.color.a) / 255.0f);
    // Colour glyphs off: every face the request makes (auto-size's too) draws outlines.
    request->sizing.outlines_only = style.color_glyphs == 0;
    face.outlines_only = request->sizing.outlines_only;
    // Auto-size wraps at the box's width, and measures the ellipsis by it.
    const int width = request->fit.on && request->fit.width > 0 ? request->fit.width : style.max_width;
    request->layout = layout_request{text, length, text_encoding::utf8, face, style.max_width, shaping};
    request->layout.wrap = style.wrap == IMGTEXT_WRAP_CHARACTER ? wrap_mode::character
                           : style.wrap == IMGTEXT_WRAP_NONE    ? wrap_mode::none
                                                                : wrap_mode::word;
    request->layout.max_width = request->layout.wrap == wrap_mode::none ? 0 : width;
    request->layout.ellipsis_width = width;
    request->layout.letter_spacing = letter_spacing_at(request->sizing, style.size);
    request->layout.shaping.spaced = style.letter_spacing != 0.0f;
    request->layout.justify = style.align == IMGTEXT_ALIGN_JUSTIFY;
    request->layout.max_lines = static_cast<size_t>(style.max_lines);
    request->colour = paint{static_cast<float>(style.color.r), static_cast<float>(style.color.g),
                            static_cast<float>(style.color.b), opacity};
    static const line_align aligns[] = {line_align::left,  line_align::centre, line_align::right,
                                        line_align::start, line_align::end,    line_align::justify};
    request->align = aligns[style.align];
    request->box = style.box != 0;
    request->box_colour = style.box_color;
    request->padding = style.padding;
    if (!(style.box_radius >= 0.0f && style.box_radius <= QUENDAL_IMGTEXT_MAX_BOX_RADIUS)) {
        return bad_argument("box_radius out of range");
    }
    request->box_radius = style.box_radius;
    if (!std::isfinite(style.rotation)) return bad_argument("rotation is not a finite number of degrees");
    float turned = std::fmod(style.rotation, 360.0f);  // exact
    if (turned < 0.0f) turned = turned + 360.0f;
    request->rotation = turned < 360.0f ? turned : 0.0f;  // -tiny + 360 rounds to 360
    if (style.tile) {
        auto step_ok = [](int step) {
            return step == 0 || (step >= QUENDAL_IMGTEXT_MIN_TILE_STEP && step <= QUENDAL_IMGTEXT_MAX_TILE_STEP);
        };
        if (!step_ok(style.tile_step_x) || !step_ok(style.tile_step_y)) {
            return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: a tile step must be 0 or %d..%d (%d, %d)",
                             QUENDAL_IMGTEXT_MIN_TILE_STEP, QUENDAL_IMGTEXT_MAX_TILE_STEP, style.tile_step_x,
                             style.tile_step_y);
        }
        if (style.tile_row_offset < -QUENDAL_IMGTEXT_MAX_TILE_STEP ||
            style.tile_row_offset > QUENDAL_IMGTEXT_MAX_TILE_STEP) {
            return bad_argument("tile_row_offset out of range");
        }
        request->tile.on = true;
        request->tile.step_x = style.tile_step_x, request->tile.step_y = style.tile_step_y;
        request->tile.row_offset = style.tile_row_offset;
    }
    return effects_from(style, style_opacity, &request->effects);
}

imgtext_text_metrics turned_metrics_of(const text_layout &layout, int64_t x, int64_t y, float size, int64_t width,
                                       int64_t height) {
    imgtext_text_metrics m = metrics_of(layout, x, y, size);
    m.width = clamp_to_int(width), m.height = clamp_to_int(height);
    return m;
}

imgtext_text_metrics metrics_of(const text_layout &layout, int64_t x, int64_t y, float size) {
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
    m.size = size;
    m.truncated = layout.truncated ? 1 : 0;
    return m;
}

}  // namespace imgtext
