// Command-line parsing for the imgtext tool: subcommand, options, inputs.
#ifndef IMGTEXT_TOOL_OPTIONS_H
#define IMGTEXT_TOOL_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

#include "quendal_imgtext.h"

enum class command { create, add, boxed, centered };

enum class verbosity { quiet, normal, verbose };

struct options {
    command cmd = command::create;
    std::string text;
    bool have_text = false;
    std::string output;               // "-" for standard output
    std::vector<std::string> inputs;  // "-" for standard input
    std::optional<int> format;        // IMGTEXT_FORMAT_JPEG, _PNG or _BMP
    std::optional<int> quality;       // JPEG quality 1..100

    // Placement: a point and the anchor of the box placed on it, or gravity.
    int x = 0, y = 0;
    imgtext_position anchor = IMGTEXT_TOP_LEFT;
    std::optional<imgtext_position> gravity;
    int margin = 0;

    // Text style.
    float size = 24.0f;
    bool em_size = false;  // size is the em size rather than the pixel height
    int align = IMGTEXT_ALIGN_LEFT;
    int wrap = 0;
    // The font chain: the first, then those tried in order for what it
    // lacks. Empty: the built-in font alone; a chain given only with
    // --fallback-font starts with the built-in font.
    struct font_choice {
        std::string path;
        int index = 0;  // the face in a collection
    };
    std::vector<font_choice> fonts;
    bool builtin_first = false;  // --fallback-font before any --font
    // World text: the library's defaults unless given.
    int layout = IMGTEXT_LAYOUT_AUTO;
    int direction = IMGTEXT_DIRECTION_AUTO;
    std::string features, language;
    bool color_glyphs = true;  // --no-color-glyphs: outlines only
    std::string variations;    // a variable font's axis values or named instance
    float rotate = 0.0f;       // degrees counterclockwise
    bool tile = false;         // repeat the text over the picture
    int tile_step_x = 0, tile_step_y = 0, tile_row_offset = 0;
    float opacity = 1.0f;
    imgtext_color color{255, 255, 255, 255};
    imgtext_color box_color{0, 0, 0, 255};
    int padding = 0;
    float box_radius = 0.0f;

    // Outline and shadow; the defaults are the library's.
    float stroke_width = 0.0f;
    imgtext_color stroke_color{0, 0, 0, 255};
    bool shadow = false;
    int shadow_dx = 2, shadow_dy = 2;
    float shadow_blur = 2.0f;
    imgtext_color shadow_color{0, 0, 0, 160};

    // Photo handling: turn JPEGs upright by their EXIF orientation, and
    // whether their EXIF block goes into JPEG results.
    bool auto_orient = true;
    bool keep_exif = false;

    // Hostile and damaged inputs: the most bytes a picture may have (files
    // and standard input alike), whether a picture whose data ends early is
    // drawn (with a warning) rather than refused, and whether a result may
    // replace one of the inputs.
    int max_input_bytes = static_cast<int>(IMGTEXT_DEFAULT_MAX_INPUT_BYTES);
    bool allow_damaged = false;
    bool overwrite = false;

    // create's canvas.
    int width = 0, height = 0;
    imgtext_color background{0, 0, 0, 255};

    unsigned jobs = 0;  // 0: one worker per core
    verbosity level = verbosity::normal;

    // Folders among the inputs give their pictures, each result at its
    // path relative to the folder under -o's folder; --recursive takes
    // their subfolders' pictures too.
    bool recursive = false;
    // --size or --em-size as a percentage of each picture's height (the
    // upright height, after EXIF orientation), so that one command suits
    // pictures of any resolution; 0: size is in pixels.
    float size_percent = 0.0f;
    std::string report;  // --report FILE: a JSON line per file, then the counts
    // A text box that fits: auto-size into fit_width x fit_height between
    // min_size and max_size (0: the library's), letter spacing (pixels, or
    // thousandths of an em), line height (pixels, or a factor), how lines
    // wrap, and how many are kept. The library's defaults unless given.
    bool fit = false;
    int fit_width = 0, fit_height = 0;
    float min_size = 0.0f, max_size = 0.0f;
    float letter_spacing = 0.0f;
    bool letter_spacing_em = false;
    float line_height = 0.0f, line_spacing = 1.0f;
    int wrap_mode = IMGTEXT_WRAP_WORD;
    int max_lines = 0;
};

// What parsing asked for: run, print help or the version, or a usage error
// (message set).
struct parse_result {
    enum { run, help, version, error } what = run;
    std::string message;
    options opts;
};

parse_result parse_arguments(const std::vector<std::string> &args);
const char *usage_text();

// The format an output name asks for by its extension: IMGTEXT_FORMAT_* for
// .png, .jpg, .jpeg and .bmp (any case), IMGTEXT_FORMAT_AUTO for a name with
// no extension, -1 for any other extension.
int format_of_name(const std::string &path);
const char *format_extension(int format);
bool is_separator(char c);

// Exposed for tests of the tool's own parsing rules.
std::optional<imgtext_color> parse_colour(const std::string &text);
std::string expand_escapes(const std::string &text);

#endif
