// One picture's work for the imgtext tool, through the library's drawing API.
#include "drawing.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "files.h"
#include "interrupt.h"

namespace {

struct image_deleter {
    void operator()(imgtext_image *image) const { imgtext_image_free(image); }
};
using image_ptr = std::unique_ptr<imgtext_image, image_deleter>;

// The library's load messages name the file ("cannot decode image a.jpg
// (...)"); the tool's line already starts with it. Without the name, a file
// too large reads as standard input too large does: "input too large: more
// than N bytes".
std::string without_path(std::string message, const std::string &path) {
    if (path.empty()) return message;
    const std::string tail = ": " + path;  // "cannot read file: a.jpg"
    if (message.size() > tail.size() && message.compare(message.size() - tail.size(), tail.size(), tail) == 0)
        return message.erase(message.size() - tail.size());
    const size_t is = message.find(tail + " is ");  // "input too large: a.jpg is more than N bytes"
    if (is != std::string::npos) return message.erase(is + 2, path.size() + 4);
    const size_t at = message.find(" " + path + " (");  // "cannot decode image a.jpg (...)"
    if (at != std::string::npos) message.erase(at, path.size() + 1);
    return message;
}

// The code points of UTF-8 text, a malformed byte read as U+FFFD.
std::set<char32_t> code_points(const std::string &text) {
    std::set<char32_t> points;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
        char32_t cp = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        bool valid = extra >= 0 && i + static_cast<size_t>(extra) < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3F);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (!valid || cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            points.insert(0xFFFD);
            ++i;
            continue;
        }
        points.insert(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return points;
}

std::string utf8_of(char32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

int clamp_int(int64_t v) { return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v); }

const char *format_name(int format) {
    return format == IMGTEXT_FORMAT_JPEG ? "JPEG" : format == IMGTEXT_FORMAT_BMP ? "BMP" : "PNG";
}

}  // namespace

bool text_drawing::prepare(std::string &message) {
    for (const options::font_choice &choice : o_.fonts) {
        imgtext_font *font = nullptr;
        if (imgtext_font_load(choice.path.c_str(), choice.index, &font) != IMGTEXT_OK) {
            message = "cannot use font " + choice.path + ": " + imgtext_error_message();
            return false;
        }
        fonts_.push_back(font);
    }
    imgtext_text_style_init(&style_);
    // The built-in font (NULL) heads the chain unless a --font was given.
    const bool builtin_first = o_.builtin_first || fonts_.empty();
    style_.font = builtin_first ? nullptr : fonts_[0];
    fallbacks_.assign(fonts_.begin() + (builtin_first ? 0 : 1), fonts_.end());
    style_.fallbacks = fallbacks_.empty() ? nullptr : fallbacks_.data();
    style_.fallback_count = fallbacks_.size();
    style_.layout = o_.layout;
    style_.direction = o_.direction;
    style_.features = o_.features.empty() ? nullptr : o_.features.c_str();
    style_.language = o_.language.empty() ? nullptr : o_.language.c_str();
    style_.color_glyphs = o_.color_glyphs ? 1 : 0;
    style_.variations = o_.variations.empty() ? nullptr : o_.variations.c_str();
    style_.rotation = o_.rotate;
    style_.tile = o_.tile ? 1 : 0;
    style_.tile_step_x = o_.tile_step_x, style_.tile_step_y = o_.tile_step_y;
    style_.tile_row_offset = o_.tile_row_offset;
    style_.size = o_.size;
    style_.size_unit = o_.em_size ? IMGTEXT_SIZE_EM : IMGTEXT_SIZE_PIXEL_HEIGHT;
    style_.align = o_.align;
    style_.max_width = o_.wrap;
    style_.color = o_.color;
    style_.opacity = o_.opacity;
    if (o_.cmd == command::boxed) {
        style_.box = 1;
        style_.box_color = o_.box_color;
        style_.padding = o_.padding;
        style_.box_radius = o_.box_radius;
    }
    style_.stroke_width = o_.stroke_width;
    style_.stroke_color = o_.stroke_color;
    style_.shadow = o_.shadow ? 1 : 0;
    style_.shadow_dx = o_.shadow_dx, style_.shadow_dy = o_.shadow_dy;
    style_.shadow_blur = o_.shadow_blur;
    style_.shadow_color = o_.shadow_color;
    style_.wrap = o_.wrap_mode;
    style_.letter_spacing = o_.letter_spacing;
    style_.letter_spacing_unit = o_.letter_spacing_em ? IMGTEXT_LETTER_SPACING_EM_1000 : IMGTEXT_LETTER_SPACING_PIXELS;
    style_.line_height = o_.line_height;
    style_.line_spacing = o_.line_spacing;
    style_.max_lines = o_.max_lines;
    if (o_.fit) {
        style_.auto_size = 1;
        style_.fit_width = o_.fit_width, style_.fit_height = o_.fit_height;
        style_.min_size = o_.min_size, style_.max_size = o_.max_size;
    }
    // A malformed feature or language, or too long a chain, is refused
    // here, once, rather than by every picture.
    imgtext_text_metrics metrics{};
    metrics.struct_size = sizeof metrics;
    if (imgtext_measure_text("", 0, &style_, &metrics, nullptr, 0) != IMGTEXT_OK) {
        message = imgtext_error_message();
        return false;
    }
    return true;
}

bool text_drawing::missing_characters(std::string &names, std::string &message) const {
    imgtext_text_metrics metrics{};
    metrics.struct_size = sizeof metrics;
    if (imgtext_measure_text(o_.text.data(), o_.text.size(), &style_, &metrics, nullptr, 0) != IMGTEXT_OK) {
        message = imgtext_error_message();
        return false;
    }
    names.clear();
    if (metrics.missing_glyphs == 0) return true;
    // The count says that some are missing; measuring each distinct
    // character alone says which.
    for (const char32_t cp : code_points(o_.text)) {
        if (cp == '\n' || cp == '\r') continue;
        const std::string one = utf8_of(cp);
        if (imgtext_measure_text(one.data(), one.size(), &style_, &metrics, nullptr, 0) != IMGTEXT_OK ||
            metrics.missing_glyphs == 0)
            continue;
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
        const bool printable = cp >= 0x20 && !(cp >= 0x7F && cp <= 0x9F);
        names += (names.empty() ? "" : ", ") + (printable ? one + " (" + code + ")" : std::string(code));
    }
    return true;
}

imgtext_text_job text_drawing::job(const imgtext_text_style &style) const {
    imgtext_text_job job;
    imgtext_text_job_init(&job);
    job.text = o_.text.data(), job.length = o_.text.size(), job.style = &style;
    // A boxed text's placement is that of its padded box.
    const int64_t pad = o_.cmd == command::boxed ? o_.padding : 0;
    if (o_.cmd == command::centered || o_.cmd == command::create || o_.gravity) {
        job.gravity = 1;
        job.position = o_.gravity.value_or(IMGTEXT_CENTER);
        job.margin = clamp_int(o_.margin + pad);
        return job;
    }
    const int column = static_cast<int>(o_.anchor) % 3, row = static_cast<int>(o_.anchor) / 3;
    job.position = o_.anchor;
    job.x = clamp_int(o_.x + (column == 0 ? pad : column == 2 ? -pad : 0));
    job.y = clamp_int(o_.y + (row == 0 ? pad : row == 2 ? -pad : 0));
    return job;
}

bool text_drawing::draw(imgtext_image *image, const imgtext_text_style &style) const {
    const imgtext_text_job j = job(style);
    const imgtext_status status =
        j.gravity ? imgtext_draw_text_gravity(image, j.text, j.length, j.position, j.margin, &style, nullptr)
                  : imgtext_draw_text(image, j.text, j.length, j.x, j.y, j.position, &style, nullptr);
    return status == IMGTEXT_OK;
}

// A JPEG file to a JPEG file, in one library call that streams the picture
// through in bands of rows (a few megabytes for any photo). Taken only where
// the whole path below would make the same decisions without seeing the
// picture, and only to succeed: on failure, nothing is written and the
// whole path runs, which gives its own messages.
bool text_drawing::run_streamed(const std::string &input, const std::string &output, int format,
                                const imgtext_load_options &load, job_result &result) const {
    if (input.empty() || input == "-" || output == "-" || o_.allow_damaged) return false;
    if (format != IMGTEXT_FORMAT_AUTO && format != IMGTEXT_FORMAT_JPEG) return false;
    if (!starts_as_jpeg(input)) return false;
    imgtext_save_options save;
    imgtext_save_options_init(&save);
    save.format = IMGTEXT_FORMAT_JPEG;
    if (o_.quality) save.jpeg_quality = *o_.quality;
    save.keep_exif = o_.keep_exif ? 1 : 0;
    if (stop_signal()) return false;  // the whole path says it was abandoned
    imgtext_text_job j = job(style_);
    j.size_percent = o_.size_percent;  // the share of the height, as the whole path below computes it
    if (imgtext_draw_file(input.c_str(), output.c_str(), &j, 1, &load, &save) != IMGTEXT_OK) return false;
    result.what = job_result::written;
    return true;
}

job_result text_drawing::run(const std::string &input, const std::string &output, int format,
                             const std::string *standard_input) const {
    job_result result;
    auto fail = [&result](std::string message) {
        result.message = std::move(message);
        return result;
    };
    imgtext_image *raw = nullptr;
    imgtext_load_options load;
    imgtext_load_options_init(&load);
    load.max_pixels = 0;  // as large as the decoders take, as the seven calls do
    load.auto_orient = o_.auto_orient ? 1 : 0;
    load.threads = decode_threads_;
    load.max_input_bytes = static_cast<uint64_t>(o_.max_input_bytes);
    load.allow_damaged = o_.allow_damaged ? 1 : 0;
    if (run_streamed(input, output, format, load, result)) return result;
    imgtext_status status;
    if (input.empty()) {
        status = imgtext_image_create(o_.width, o_.height, o_.background, &raw);
    } else if (input == "-") {
        if (!standard_input || standard_input->empty()) return fail("standard input is empty");
        // Read only up to one byte past the limit: the library then refuses
        // it as it refuses a file that is too large.
        status = imgtext_image_load_memory(standard_input->data(), standard_input->size(), &load, &raw);
    } else {
        status = imgtext_image_load(input.c_str(), &load, &raw);
    }
    const image_ptr image(raw);
    if (status != IMGTEXT_OK) {
        std::string message = without_path(imgtext_error_message(), input);
        if (status == IMGTEXT_ERROR_READ && input != "-") {
            const std::string why = why_unreadable(input);
            if (!why.empty()) message += ": " + why;
        }
        return fail(message);
    }
    result.damaged = imgtext_image_damage(image.get()) != IMGTEXT_DAMAGE_NONE;
    imgtext_text_style style = style_;
    if (o_.size_percent > 0.0f) {
        // A share of this picture's height, as it stands upright.
        const float size = static_cast<float>(imgtext_image_height(image.get())) * o_.size_percent / 100.0f;
        style.size = std::min(size, static_cast<float>(QUENDAL_IMGTEXT_MAX_SIZE));
    }
    if (!draw(image.get(), style)) return fail(imgtext_error_message());

    imgtext_save_options save;
    imgtext_save_options_init(&save);
    const int input_format = imgtext_image_format(image.get());
    save.format = format != IMGTEXT_FORMAT_AUTO ? format : input_format != 0 ? input_format : IMGTEXT_FORMAT_PNG;
    if (o_.quality) {
        if (save.format != IMGTEXT_FORMAT_JPEG)
            return fail(std::string("--quality is for JPEG, and this result is ") + format_name(save.format));
        save.jpeg_quality = *o_.quality;
    }
    // Only a JPEG input has EXIF, and only JPEG output takes it: a JPEG
    // whose result is named otherwise (x.png in a folder) would lose it.
    if (o_.keep_exif && input_format == IMGTEXT_FORMAT_JPEG && save.format != IMGTEXT_FORMAT_JPEG)
        return fail(std::string("--keep-exif is for JPEG output, and this JPEG's result is ") +
                    format_name(save.format));
    save.keep_exif = o_.keep_exif ? 1 : 0;
    // The last point at which nothing has been written. A save already
    // under way is let finish: the library writes a temporary file and
    // renames it into place, so a save stopped half-way would leave one.
    if (stop_signal()) {
        result.what = job_result::abandoned;
        return result;
    }
    if (output != "-") {
        if (imgtext_image_save(image.get(), output.c_str(), &save) != IMGTEXT_OK) return fail(imgtext_error_message());
        result.what = job_result::written;
        return result;
    }
    void *data = nullptr;
    size_t size = 0;
    if (imgtext_image_encode(image.get(), &save, &data, &size) != IMGTEXT_OK) return fail(imgtext_error_message());
    binary_standard_output();
    errno = 0;
    const bool written = std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
    const int error = errno;
    imgtext_free(data);
    if (!written)
        return fail(std::string("cannot write standard output") + (error ? ": " : "") +
                    (error ? std::strerror(error) : ""));
    result.what = job_result::written;
    return result;
}
