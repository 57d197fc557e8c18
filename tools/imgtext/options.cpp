// Command-line parsing for the imgtext tool.
//
// Every option is one row of a table: its names, the commands that honour
// it, and how its value is read. An option given to a command that does not
// honour it is a usage error rather than silently dropped, so adding an
// option (a stroke, a shadow) is one row and its field in `options`.
#include "options.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "files.h"

namespace {

enum : unsigned {
    on_create = 1u << static_cast<int>(command::create),
    on_add = 1u << static_cast<int>(command::add),
    on_boxed = 1u << static_cast<int>(command::boxed),
    on_centered = 1u << static_cast<int>(command::centered),
    on_inputs = on_add | on_boxed | on_centered,
    on_all = on_create | on_inputs,
};

const char *command_name(command c) {
    switch (c) {
        case command::create: return "create";
        case command::add: return "add";
        case command::boxed: return "boxed";
        case command::centered: return "centered";
    }
    return "";
}

std::optional<int> parse_int(const std::string &text) {
    if (text.empty()) return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX) return std::nullopt;
    return static_cast<int>(value);
}

std::optional<float> parse_float(const std::string &text) {
    if (text.empty()) return std::nullopt;
    char *end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<command> parse_command(const std::string &name) {
    if (name == "create") return command::create;
    if (name == "add") return command::add;
    if (name == "boxed") return command::boxed;
    if (name == "centered" || name == "centred") return command::centered;
    return std::nullopt;
}

std::optional<imgtext_position> parse_position(const std::string &name) {
    static const char *const names[] = {"top-left", "top",         "top-right", "left",        "center",
                                        "right",    "bottom-left", "bottom",    "bottom-right"};
    for (int i = 0; i < 9; ++i)
        if (name == names[i]) return static_cast<imgtext_position>(i);
    if (name == "centre") return IMGTEXT_CENTER;
    return std::nullopt;
}

// Reads an integer into target when it lies in [low, high].
bool int_in(const std::string &value, int low, int high, int &target) {
    const auto v = parse_int(value);
    if (!v || *v < low || *v > high) return false;
    target = *v;
    return true;
}

bool colour_into(const std::string &value, imgtext_color &target) {
    const auto c = parse_colour(value);
    if (c) target = *c;
    return c.has_value();
}

// A size in pixels, or "4%": that share of each picture's height.
bool size_into(const std::string &value, options &o) {
    const bool percent = !value.empty() && value.back() == '%';
    const auto v = parse_float(percent ? value.substr(0, value.size() - 1) : value);
    const float most = percent ? 100.0f : static_cast<float>(QUENDAL_IMGTEXT_MAX_SIZE);
    if (!v || !(*v > 0.0f) || *v > most) return false;
    (percent ? o.size_percent : o.size) = *v;
    return true;
}

// Reads a number into target when it lies in [low, high].
bool float_in(const std::string &value, float low, float high, float &target) {
    const auto v = parse_float(value);
    if (!v || *v < low || *v > high) return false;
    target = *v;
    return true;
}

// The outline and the shadow's blur may reach this far beyond the glyphs;
// the library refuses more.
constexpr float max_effect = 256.0f;

// DX,DY[,BLUR]: the shadow's offset in whole pixels (any integers) and the
// blur's standard deviation (the library's default when left out).
bool shadow_into(const std::string &value, options &o) {
    const size_t first = value.find(','), second = first == std::string::npos ? first : value.find(',', first + 1);
    if (first == std::string::npos) return false;
    const auto dx = parse_int(value.substr(0, first));
    const auto dy = parse_int(value.substr(first + 1, second == std::string::npos ? second : second - first - 1));
    if (!dx || !dy) return false;
    if (second != std::string::npos && !float_in(value.substr(second + 1), 0.0f, max_effect, o.shadow_blur))
        return false;
    o.shadow = true, o.shadow_dx = *dx, o.shadow_dy = *dy;
    return true;
}

// STEPX,STEPY[,OFFSET]: the tile grid's steps and row offset in pixels (the
// library checks their range).
bool tile_into(const std::string &value, options &o) {
    const size_t first = value.find(','), second = first == std::string::npos ? first : value.find(',', first + 1);
    if (first == std::string::npos) return false;
    const auto sx = parse_int(value.substr(0, first));
    const auto sy = parse_int(value.substr(first + 1, second == std::string::npos ? second : second - first - 1));
    if (!sx || !sy) return false;
    if (second != std::string::npos) {
        const auto offset = parse_int(value.substr(second + 1));
        if (!offset) return false;
        o.tile_row_offset = *offset;
    }
    o.tile = true, o.tile_step_x = *sx, o.tile_step_y = *sy;
    return true;
}

// WxH: the box auto-size fits the text into; 0 leaves that side free, but
// not both.
bool fit_into(const std::string &value, options &o) {
    const size_t x = value.find_first_of("xX");
    if (x == std::string::npos) return false;
    int w = 0, h = 0;
    if (!int_in(value.substr(0, x), 0, INT_MAX, w) || !int_in(value.substr(x + 1), 0, INT_MAX, h)) return false;
    if (w == 0 && h == 0) return false;
    o.fit = true, o.fit_width = w, o.fit_height = h;
    return true;
}

// N pixels, or Nem: that many ems (kept in thousandths, as the library reads them).
bool letter_spacing_into(const std::string &value, options &o) {
    const bool em = value.size() > 2 && value.compare(value.size() - 2, 2, "em") == 0;
    const auto v = parse_float(em ? value.substr(0, value.size() - 2) : value);
    if (!v) return false;
    const float spacing = em ? *v * 1000.0f : *v;
    const float most = em ? QUENDAL_IMGTEXT_MAX_LETTER_SPACING_EM_1000 : QUENDAL_IMGTEXT_MAX_LETTER_SPACING;
    if (!(spacing >= -most && spacing <= most)) return false;
    o.letter_spacing = spacing, o.letter_spacing_em = em;
    return true;
}

// N pixels from baseline to baseline, or Nx: a factor on the font's own.
bool line_height_into(const std::string &value, options &o) {
    if (value.size() > 1 && (value.back() == 'x' || value.back() == 'X'))
        return float_in(value.substr(0, value.size() - 1), 0.01f, 100.0f, o.line_spacing);
    return float_in(value, 1.0f, static_cast<float>(QUENDAL_IMGTEXT_MAX_LINE_HEIGHT), o.line_height);
}

struct option_spec {
    const char *name;
    const char *alias;  // or nullptr
    unsigned commands;  // the commands that honour it
    bool takes_value;
    // Stores the value; false when it is not valid. The message says what is.
    bool (*apply)(options &o, const std::string &value);
    const char *valid;  // what a valid value is, for the message
};

constexpr int max_int = INT_MAX;

const option_spec option_table[] = {
    {"--text", nullptr, on_all, true, [](options &o, const std::string &v) { return o.text = v, o.have_text = true; },
     ""},
    {"--text-file", nullptr, on_all, true, [](options &, const std::string &) { return true; }, ""},
    {"--escapes", nullptr, on_all, false, [](options &, const std::string &) { return true; }, ""},
    {"--output", "-o", on_all, true, [](options &o, const std::string &v) { return !(o.output = v).empty(); },
     "a path, or - for standard output"},
    {"--size", nullptr, on_all, true, [](options &o, const std::string &v) { return size_into(v, o); },
     "a number more than 0 and at most 100000, or a percentage of the picture's height such as 4%"},
    {"--em-size", nullptr, on_all, true,
     [](options &o, const std::string &v) { return o.em_size = true, size_into(v, o); },
     "a number more than 0 and at most 100000, or a percentage of the picture's height such as 4%"},
    {"--color", "--colour", on_all, true, [](options &o, const std::string &v) { return colour_into(v, o.color); },
     "#RRGGBB, #RGB, #RRGGBBAA or R,G,B[,A]"},
    {"--font", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         if (o.builtin_first) return false;  // a --fallback-font already put the built-in font first
         o.fonts.push_back({v, 0});
         return !v.empty();
     },
     "a font file, given before any --fallback-font"},
    {"--fallback-font", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         if (o.fonts.empty()) o.builtin_first = true;
         o.fonts.push_back({v, 0});
         return !v.empty();
     },
     "a font file"},
    {"--font-index", nullptr, on_all, true,
     [](options &o, const std::string &v) { return !o.fonts.empty() && int_in(v, 0, 65535, o.fonts.back().index); },
     "the face in the collection just given with --font or --fallback-font, from 0"},
    {"--layout", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         o.layout = v == "auto" ? IMGTEXT_LAYOUT_AUTO : v == "simple" ? IMGTEXT_LAYOUT_SIMPLE
                  : v == "shaped" ? IMGTEXT_LAYOUT_SHAPED : -1;
         return o.layout >= 0;
     },
     "auto, simple or shaped"},
    {"--direction", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         o.direction = v == "auto" ? IMGTEXT_DIRECTION_AUTO : v == "ltr" ? IMGTEXT_DIRECTION_LTR
                     : v == "rtl" ? IMGTEXT_DIRECTION_RTL : -1;
         return o.direction >= 0;
     },
     "auto, ltr or rtl"},
    {"--features", nullptr, on_all, true, [](options &o, const std::string &v) { return o.features = v, true; },
     "OpenType features such as -liga,smcp,ss01=1"},
    {"--language", nullptr, on_all, true, [](options &o, const std::string &v) { return !(o.language = v).empty(); },
     "a BCP 47 language tag such as sr or tr"},
    {"--no-color-glyphs", "--no-colour-glyphs", on_all, false,
     [](options &o, const std::string &) { return o.color_glyphs = false, true; }, ""},
    {"--rotate", nullptr, on_all, true, [](options &o, const std::string &v) { return float_in(v, -1e9f, 1e9f, o.rotate); },
     "degrees counterclockwise, a number"},
    {"--tile", nullptr, on_all, true, [](options &o, const std::string &v) { return tile_into(v, o); },
     "STEPX,STEPY[,OFFSET]: whole pixels between tiles along and across the lines, and each row's shift"},
    {"--variation", nullptr, on_all, true,
     [](options &o, const std::string &v) { return !(o.variations = v).empty(); },
     "a variable font's axis values such as wght=700,wdth=85, or a named instance such as Bold"},
    {"--align", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         o.align = v == "left" ? IMGTEXT_ALIGN_LEFT : v == "center" || v == "centre" ? IMGTEXT_ALIGN_CENTER
                 : v == "right" ? IMGTEXT_ALIGN_RIGHT : v == "start" ? IMGTEXT_ALIGN_START
                 : v == "end"   ? IMGTEXT_ALIGN_END : v == "justify" ? IMGTEXT_ALIGN_JUSTIFY : -1;
         return o.align >= 0;
     },
     "left, center, right, start, end or justify"},
    {"--wrap", nullptr, on_all, true, [](options &o, const std::string &v) { return int_in(v, 1, max_int, o.wrap); },
     "a width in pixels, at least 1"},
    {"--wrap-mode", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         o.wrap_mode = v == "word" ? IMGTEXT_WRAP_WORD : v == "character" || v == "char" ? IMGTEXT_WRAP_CHARACTER
                     : v == "none" ? IMGTEXT_WRAP_NONE : -1;
         return o.wrap_mode >= 0;
     },
     "word, character or none"},
    {"--fit", nullptr, on_all, true, [](options &o, const std::string &v) { return fit_into(v, o); },
     "WxH in pixels, e.g. 600x200; 0 leaves a side free, but not both"},
    {"--min-size", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         return float_in(v, 1e-6f, static_cast<float>(QUENDAL_IMGTEXT_MAX_SIZE), o.min_size);
     },
     "a number more than 0 and at most 100000"},
    {"--max-size", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         return float_in(v, 1e-6f, static_cast<float>(QUENDAL_IMGTEXT_MAX_SIZE), o.max_size);
     },
     "a number more than 0 and at most 100000"},
    {"--letter-spacing", nullptr, on_all, true,
     [](options &o, const std::string &v) { return letter_spacing_into(v, o); },
     "pixels (negative allowed) from -100000 to 100000, or ems such as 0.05em, from -100em to 100em"},
    {"--line-height", nullptr, on_all, true, [](options &o, const std::string &v) { return line_height_into(v, o); },
     "pixels from 1 to 1000000, or a factor such as 1.5x, from 0.01x to 100x"},
    {"--max-lines", nullptr, on_all, true, [](options &o, const std::string &v) { return int_in(v, 1, max_int, o.max_lines); },
     "an integer, at least 1"},
    {"--opacity", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         const auto f = parse_float(v);
         return f && *f >= 0.0f && *f <= 1.0f && (o.opacity = *f, true);
     },
     "a number from 0 to 1"},
    {"--x", nullptr, on_add | on_boxed, true, [](options &o, const std::string &v) { return int_in(v, INT_MIN, max_int, o.x); },
     "an integer"},
    {"--y", nullptr, on_add | on_boxed, true, [](options &o, const std::string &v) { return int_in(v, INT_MIN, max_int, o.y); },
     "an integer"},
    {"--anchor", nullptr, on_add | on_boxed, true,
     [](options &o, const std::string &v) {
         const auto p = parse_position(v);
         return p && (o.anchor = *p, true);
     },
     "top-left, top, top-right, left, center, right, bottom-left, bottom or bottom-right"},
    {"--gravity", nullptr, on_add | on_boxed | on_create, true,
     [](options &o, const std::string &v) { return (o.gravity = parse_position(v)).has_value(); },
     "top-left, top, top-right, left, center, right, bottom-left, bottom or bottom-right"},
    {"--margin", nullptr, on_add | on_boxed | on_create, true,
     [](options &o, const std::string &v) { return int_in(v, 0, max_int, o.margin); }, "an integer, at least 0"},
    {"--box-color", "--box-colour", on_boxed, true,
     [](options &o, const std::string &v) { return colour_into(v, o.box_color); },
     "#RRGGBB, #RGB, #RRGGBBAA or R,G,B[,A]"},
    {"--padding", nullptr, on_boxed, true, [](options &o, const std::string &v) { return int_in(v, 0, max_int, o.padding); },
     "an integer, at least 0"},
    {"--box-radius", nullptr, on_boxed, true,
     [](options &o, const std::string &v) { return float_in(v, 0.0f, 1e6f, o.box_radius); },
     "a number from 0 to 1000000"},
    {"--stroke-width", nullptr, on_all, true,
     [](options &o, const std::string &v) { return float_in(v, 0.0f, max_effect, o.stroke_width); },
     "a number from 0 to 256"},
    {"--stroke-color", "--stroke-colour", on_all, true,
     [](options &o, const std::string &v) { return colour_into(v, o.stroke_color); },
     "#RRGGBB, #RGB, #RRGGBBAA or R,G,B[,A]"},
    {"--shadow", nullptr, on_all, true, [](options &o, const std::string &v) { return shadow_into(v, o); },
     "DX,DY[,BLUR]: an offset in whole pixels and a blur from 0 to 256"},
    {"--shadow-color", "--shadow-colour", on_all, true,
     [](options &o, const std::string &v) { return colour_into(v, o.shadow_color); },
     "#RRGGBB, #RGB, #RRGGBBAA or R,G,B[,A]"},
    {"--background", nullptr, on_create, true,
     [](options &o, const std::string &v) { return colour_into(v, o.background); },
     "#RRGGBB, #RGB, #RRGGBBAA or R,G,B[,A]"},
    {"--width", nullptr, on_create, true, [](options &o, const std::string &v) { return int_in(v, 1, max_int, o.width); },
     "an integer, at least 1"},
    {"--height", nullptr, on_create, true, [](options &o, const std::string &v) { return int_in(v, 1, max_int, o.height); },
     "an integer, at least 1"},
    {"--format", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         const int f = format_of_name("x." + v);
         return f > 0 && (o.format = f, true);
     },
     "png, jpg or bmp"},
    {"--quality", nullptr, on_all, true,
     [](options &o, const std::string &v) {
         int q = 0;
         return int_in(v, 1, 100, q) && (o.quality = q, true);
     },
     "an integer from 1 to 100"},
    {"--no-auto-orient", nullptr, on_inputs, false,
     [](options &o, const std::string &) { return o.auto_orient = false, true; }, ""},
    {"--keep-exif", nullptr, on_inputs, false, [](options &o, const std::string &) { return o.keep_exif = true, true; },
     ""},
    {"--allow-damaged", nullptr, on_inputs, false,
     [](options &o, const std::string &) { return o.allow_damaged = true, true; }, ""},
    // The decoders take at most INT_MAX bytes, so a larger limit would mean nothing.
    {"--max-input-bytes", nullptr, on_inputs, true,
     [](options &o, const std::string &v) { return int_in(v, 1, max_int, o.max_input_bytes); },
     "an integer from 1 to 2147483647"},
    {"--overwrite", nullptr, on_inputs, false, [](options &o, const std::string &) { return o.overwrite = true, true; },
     ""},
    {"--recursive", "-r", on_inputs, false,
     [](options &o, const std::string &) { return o.recursive = true, true; }, ""},
    {"--report", nullptr, on_inputs, true, [](options &o, const std::string &v) { return !(o.report = v).empty(); },
     "a file to write"},
    {"--jobs", "-j", on_inputs, true,
     [](options &o, const std::string &v) {
         int n = 0;
         return int_in(v, 1, 1024, n) && (o.jobs = static_cast<unsigned>(n), true);
     },
     "an integer from 1 to 1024"},
    {"--quiet", "-q", on_all, false, [](options &o, const std::string &) { return o.level = verbosity::quiet, true; },
     ""},
    {"--verbose", "-v", on_all, false,
     [](options &o, const std::string &) { return o.level = verbosity::verbose, true; }, ""},
};

const option_spec *find_option(const std::string &name) {
    for (const option_spec &spec : option_table)
        if (name == spec.name || (spec.alias && name == spec.alias)) return &spec;
    return nullptr;
}

}  // namespace

bool is_separator(char c) {
#if defined(_WIN32)
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

int format_of_name(const std::string &path) {
    size_t base = path.size();
    while (base > 0 && !is_separator(path[base - 1])) --base;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= base) return IMGTEXT_FORMAT_AUTO;  // ".profile" has no extension
    std::string ext = path.substr(dot + 1);
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == "png") return IMGTEXT_FORMAT_PNG;
    if (ext == "jpg" || ext == "jpeg") return IMGTEXT_FORMAT_JPEG;
    if (ext == "bmp") return IMGTEXT_FORMAT_BMP;
    return -1;
}

const char *format_extension(int format) {
    return format == IMGTEXT_FORMAT_JPEG ? "jpg" : format == IMGTEXT_FORMAT_BMP ? "bmp" : "png";
}

std::optional<imgtext_color> parse_colour(const std::string &text) {
    if (!text.empty() && text[0] == '#') {
        const std::string hex = text.substr(1);
        int v[8] = {};
        for (size_t i = 0; i < hex.size() && i < 8; ++i)
            if ((v[i] = hex_digit(hex[i])) < 0) return std::nullopt;
        auto byte = [](int value) { return static_cast<uint8_t>(value); };
        if (hex.size() == 6 || hex.size() == 8)
            return imgtext_color{byte(v[0] * 16 + v[1]), byte(v[2] * 16 + v[3]), byte(v[4] * 16 + v[5]),
                                 byte(hex.size() == 8 ? v[6] * 16 + v[7] : 255)};
        if (hex.size() == 3) return imgtext_color{byte(v[0] * 17), byte(v[1] * 17), byte(v[2] * 17), 255};
        return std::nullopt;
    }
    uint8_t channel[4] = {0, 0, 0, 255};
    size_t start = 0, count = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const auto value =
            parse_int(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!value || *value < 0 || *value > 255 || count == 4) return std::nullopt;
        channel[count++] = static_cast<uint8_t>(*value);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (count < 3) return std::nullopt;
    return imgtext_color{channel[0], channel[1], channel[2], channel[3]};
}

std::string expand_escapes(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case '\\': out += '\\'; break;
            default: out += '\\', out += text[i];
        }
    }
    return out;
}

const char *usage_text() {
    return R"(Usage:
  imgtext create   --text TEXT --width W --height H [options] -o OUT
  imgtext add      --text TEXT [options] -o OUT IN...
  imgtext boxed    --text TEXT [options] -o OUT IN...
  imgtext centered --text TEXT [options] -o OUT IN...
  With several inputs, a folder among them, or when OUT ends in / or is a
  folder, -o names a folder (created if missing) and each result keeps its
  input's name; inputs whose results would share a name (a/x.png and
  b/x.png), or whose results would replace an input (-o photos/ photos/*.jpg),
  fail, and nothing is written for them. An input that fails does not stop
  the others. - as IN reads standard input, and -o - writes standard output.
  A folder as IN gives its pictures (by extension; hidden files left out),
  each written at the same path under OUT:
  -r, --recursive     take the pictures in its subfolders too

Text (one is required), in UTF-8:
  --text TEXT         the text; a real newline starts a new line
  --text-file FILE    read the text from FILE, or from standard input for -
  --escapes           turn \n, \t and \\ in --text into newline, tab, backslash

Text style (all commands; defaults in brackets):
  --size N            pixel height, ascender to descender [24]; N% is that
                      share of each picture's height (--size 4%), so that one
                      command suits pictures of any resolution
  --em-size N         the size as other tools give it (the em), instead of
                      --size; N% as for --size
  --font FILE         a TrueType or OpenType font [built-in Caladea]; repeat
                      it for a chain: each character cluster is drawn in the
                      first font that has all of it
  --fallback-font FILE  a font for what the fonts before it lack (after the
                      built-in font when no --font is given); repeatable
  --font-index N      the face of the collection (.ttc) just given [0]
  --color C           text colour [#FFFFFF]
  --opacity F         0 to 1 [1]
  --align A           left, center, right, or start or end (which follow each
                      paragraph's direction): each line within the text
                      [left for add and boxed, center otherwise]
  --wrap WIDTH        wrap lines wider than WIDTH pixels where Unicode's line
                      breaking allows (spaces, between CJK ideographs, after
                      hyphens), never inside a character cluster
  --wrap-mode M       word [word], character (at any character cluster) or
                      none (lines end only at newlines)
  --align justify     every line but a paragraph's last fills the width,
                      its word spaces widened (no stretching of Arabic letters)
  --fit WxH           the largest size (to 1/64 px) at which all the text fits
                      a W x H box, wrapping at W (0 leaves a side free); the
                      size given is ignored. An error when nothing fits,
                      unless --min-size is given: then the text is drawn at it
  --min-size N, --max-size N  the sizes --fit chooses from [1, 100000]
  --letter-spacing S  pixels added between characters, after kerning (negative
                      allowed), or ems such as 0.05em; never inside a cluster
                      or a joined Arabic word [0]
  --line-height H     baseline to baseline in pixels, or a factor on the
                      font's own such as 1.5x [1x]
  --max-lines N       keep N lines; the last of them ends in an ellipsis that
                      fits the width (--wrap or --fit) when text is cut
  --layout L          auto, simple or shaped [auto: shaped (HarfBuzz, with
                      bidi) for other fonts and scripts, the built-in font's
                      own layout for its left-to-right text]
  --direction D       auto, ltr or rtl: each paragraph's base direction
                      [auto: from its first strong character]
  --features F        OpenType features for shaped text, e.g. -liga,smcp,ss01=1
  --language L        a BCP 47 tag for shaped text, e.g. sr or tr [none]
  --no-color-glyphs   draw emoji and other colour glyphs from their outlines
                      in the text colour (or not at all, from a font of
                      colour bitmaps alone) [colour glyphs in their colours]
  --rotate DEG        turn the text (its box, outline and shadow) DEG degrees
                      counterclockwise about its anchor [0]
  --tile SX,SY[,OFF]  repeat the text over the whole picture on a grid turned
                      with it, SX pixels apart along the lines and SY across
                      them, each row shifted OFF along the lines; each step 8
                      to 1000000, or 0 for twice the text's width or height
  --variation V       a variable font's axis values, e.g. wght=700,wdth=85, or
                      the name of one of its instances, e.g. Bold [default]
  --stroke-width W    an outline W pixels wide around the glyphs, under the
                      text; fractions allowed, 0 to 256 [0: none]
  --stroke-color C    the outline's colour [#000000]
  --shadow DX,DY[,BLUR]  a shadow DX pixels right and DY down (negative:
                      left, up), blurred by BLUR, 0 to 256 [2]
  --shadow-color C    the shadow's colour [#000000A0]
  Outline and shadow take the text colour's alpha and --opacity, and never
  move the text's box: leave a margin for them.

Placement:
  --x N, --y N        the point the text is placed at (add, boxed) [0]
  --anchor P          which point of the text's box lies there (add, boxed)
                      [top-left]; for boxed, of the padded box
  --gravity P         instead of --x/--y: the box's side or corner of the
                      picture (add, boxed, create) [center for create]
  --margin M          with --gravity: pixels between box and picture edges [0]
  P is top-left, top, top-right, left, center, right, bottom-left, bottom or
  bottom-right.

Command options:
  --box-color C       box colour (boxed) [#000000]
  --padding N         box padding (boxed) [0]
  --box-radius R      radius of the box's corners, 0 to 1000000 (boxed) [0]
  --background C      canvas colour (create) [#000000]
  --width N, --height N  canvas size (create)

Photos (add, boxed, centered):
  --no-auto-orient    keep a JPEG's pixels as stored, rather than turning
                      them upright by its EXIF orientation
  --keep-exif         copy a JPEG's EXIF block into a JPEG result (its
                      orientation set to 1 if the pixels were turned); left
                      out by default, as EXIF may hold where and by whom
                      the photo was taken. A JPEG's colour profile and
                      resolution go into JPEG and PNG results either way.
  --allow-damaged     draw a picture whose data ends early (a file cut
                      short) as far as it goes, with a warning, rather than
                      refuse it
  --max-input-bytes N refuse a picture (file or standard input) of more
                      than N bytes [536870912, 512 MiB]

Output:
  -o, --output PATH   output file, folder, or - for standard output
  --format F          png, jpg or bmp: for results in a folder or on standard
                      output, and it must agree with OUT's extension
  --quality Q         JPEG quality, 1 to 100 [92]
  --overwrite         let a result replace one of the inputs
  -j, --jobs N        files drawn at once [the number of processors; with
                      fewer files, a JPEG is decoded on two threads]
  -q, --quiet         no progress, warnings or summary; -v, --verbose: a line
                      per file written
  --report FILE       write FILE as JSON lines: one per input file (input,
                      output, status written, failed or not done, and why it
                      failed), then one with the counts
  -h, --help          this help;  --version  the version

Colours are #RRGGBB, #RGB, #RRGGBBAA or R,G,B[,A]. The output format follows
OUT's extension (.png, .jpg, .jpeg, .bmp; other extensions are refused), else
--format, else the input's format. An option a command does not use is an
error, not ignored.

Examples:
  imgtext create --text 'Hello' --width 640 --height 240 --size 48 -o card.png
  imgtext add --text '(c) 2026 Quendal' --x 10 --y 10 --opacity 0.6 -o out.jpg photo.jpg
  imgtext add --text '© 2026 Café' --gravity bottom-right --margin 16 -o - photo.jpg > out.jpg
  imgtext boxed --text $'Trail\nclosed' --box-color '#a01e1e' --padding 8 -o sign.png trail.png
  imgtext add --text '© Quendal' --gravity bottom-right --margin 16 --stroke-width 1.5 -o out.jpg photo.jpg
  imgtext boxed --text 'Dawn' --box-color '#00000096' --box-radius 9 --shadow 2,2 -o out.jpg photo.jpg
  imgtext centered --text-file caption.txt --size 40 --format png -o captioned/ *.jpg

Exit status: 0 all written, 1 some file failed (each reported as
"path: message", and again in the summary, which ends with the counts) or
imgtext's own output
(this help, messages, the summary) could not be written, 2 usage error (a
bad option or value, options that conflict, an output name that cannot be
honoured), 130 or 143 stopped by SIGINT (Ctrl-C) or SIGTERM: no new file is
started, files being saved are finished, the summary so far is printed; a
second signal exits at once.
)";
}

parse_result parse_arguments(const std::vector<std::string> &args) {
    parse_result result;
    options &o = result.opts;
    auto fail = [&](const std::string &message) {
        result.what = parse_result::error;
        result.message = message;
        return result;
    };
    if (args.size() < 2) return fail("missing command");
    const std::string &first = args[1];
    if (first == "-h" || first == "--help") return result.what = parse_result::help, result;
    if (first == "--version") return result.what = parse_result::version, result;
    const auto cmd = parse_command(first);
    if (!cmd) return fail("unknown command '" + first + "'");
    o.cmd = *cmd;
    o.align = o.cmd == command::add || o.cmd == command::boxed ? IMGTEXT_ALIGN_LEFT : IMGTEXT_ALIGN_CENTER;

    std::set<std::string> given;  // by canonical name
    std::optional<std::string> text_file;
    for (size_t i = 2; i < args.size(); ++i) {
        std::string arg = args[i], value;
        if (arg == "-h" || arg == "--help") return result.what = parse_result::help, result;
        if (arg.empty() || arg[0] != '-' || arg == "-") {
            o.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            for (++i; i < args.size(); ++i) o.inputs.push_back(args[i]);
            break;
        }
        bool value_attached = false;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            value_attached = true;
        } else if (arg.size() > 2 && arg[1] != '-' && find_option(arg.substr(0, 2))) {  // -j4, -ofile
            value = arg.substr(2);
            arg = arg.substr(0, 2);
            value_attached = true;
        }
        const option_spec *spec = find_option(arg);
        if (!spec) return fail("unknown option " + arg);
        if (!(spec->commands & (1u << static_cast<int>(o.cmd))))
            return fail(std::string(spec->name) + " does not apply to " + command_name(o.cmd));
        // A font chain is built by repeating these, in order.
        const bool repeatable = spec->name == std::string("--font") || spec->name == std::string("--fallback-font") ||
                                spec->name == std::string("--font-index");
        if (!given.insert(spec->name).second && !repeatable) return fail(std::string(spec->name) + " given twice");
        if (spec->takes_value && !value_attached) {
            if (i + 1 >= args.size()) return fail(arg + " needs a value");
            value = args[++i];
        } else if (!spec->takes_value && value_attached) {
            return fail(arg + " takes no value");
        }
        if (spec->name == std::string("--text-file")) text_file = value;
        if (!spec->apply(o, value)) {
            std::string message = "invalid value for " + arg;
            message += ": '" + value + "' (" + spec->valid + ")";
            return fail(message);
        }
    }

    auto both = [&](const char *a, const char *b) { return given.count(a) && given.count(b); };
    if (both("--text", "--text-file")) return fail("give --text or --text-file, not both");
    if (both("--size", "--em-size")) return fail("give --size or --em-size, not both");
    if (both("--quiet", "--verbose")) return fail("give --quiet or --verbose, not both");
    for (const char *point : {"--x", "--y", "--anchor"})
        if (both("--gravity", point)) return fail(std::string("give --gravity or ") + point + ", not both");
    if (given.count("--margin") && !given.count("--gravity")) return fail("--margin needs --gravity");
    if (given.count("--stroke-color") && !given.count("--stroke-width"))
        return fail("--stroke-color needs --stroke-width");
    if (given.count("--shadow-color") && !given.count("--shadow")) return fail("--shadow-color needs --shadow");
    for (const char *range : {"--min-size", "--max-size"})
        if (given.count(range) && !given.count("--fit")) return fail(std::string(range) + " needs --fit");
    if (o.max_size > 0.0f && o.min_size > o.max_size) return fail("--min-size is more than --max-size");
    if (text_file) {
        for (const std::string &input : o.inputs)
            if (*text_file == "-" && input == "-") return fail("standard input cannot be both the text and an image");
        std::string why;
        const auto text = read_text_file(*text_file, why);
        if (!text) return fail("cannot read text file " + *text_file + ": " + why);
        o.text = *text;
        o.have_text = true;
    } else if (given.count("--escapes")) {
        o.text = expand_escapes(o.text);
    }
    if (!o.have_text) return fail("missing --text or --text-file");
    if (o.output.empty()) return fail("missing -o OUTPUT");
    if (o.cmd == command::create) {
        if (!o.inputs.empty()) return fail("create takes no input files");
        if (!given.count("--width") || !given.count("--height")) return fail("create needs --width and --height");
    } else if (o.inputs.empty()) {
        return fail("missing input file");
    }
    return result;
}
