// Command-line parsing for the imgtext tool.
#include "options.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

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
    if (*end != '\0') return std::nullopt;
    return value;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The whole of a file, or of standard input for "-"; on failure, why not.
// Read through stdio, whose errors come back as values: libstdc++'s file
// streams throw from inside istreambuf_iterator when a read fails, as reading
// a folder does.
std::optional<std::string> read_text_file(const std::string &path, std::string &why) {
    struct stat st {};
    if (path != "-" && stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR) {
        why = "is a folder";
        return std::nullopt;
    }
    std::FILE *in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!in) {
        why = std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char chunk[16384];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, n);
    const bool failed = std::ferror(in) != 0;
    const int error = errno;
    if (in != stdin) std::fclose(in);
    if (failed) {
        why = error == EISDIR ? "is a folder" : error ? std::strerror(error) : "read error";
        return std::nullopt;
    }
    // Text files end with a newline that nobody means as an empty last line.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

std::optional<command> parse_command(const std::string &name) {
    if (name == "create") return command::create;
    if (name == "add") return command::add;
    if (name == "boxed") return command::boxed;
    if (name == "centered" || name == "centred") return command::centered;
    return std::nullopt;
}

}  // namespace

std::optional<colour> parse_colour(const std::string &text) {
    if (!text.empty() && text[0] == '#') {
        const std::string hex = text.substr(1);
        int v[6];
        for (size_t i = 0; i < hex.size() && i < 6; ++i)
            if ((v[i] = hex_digit(hex[i])) < 0) return std::nullopt;
        if (hex.size() == 6) return colour{v[0] * 16 + v[1], v[2] * 16 + v[3], v[4] * 16 + v[5]};
        if (hex.size() == 3) return colour{v[0] * 17, v[1] * 17, v[2] * 17};
        return std::nullopt;
    }
    int channel[3];
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t comma = text.find(',', start);
        if ((i < 2) != (comma != std::string::npos)) return std::nullopt;
        const auto value = parse_int(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!value || *value < 0 || *value > 255) return std::nullopt;
        channel[i] = *value;
        start = comma + 1;
    }
    return colour{channel[0], channel[1], channel[2]};
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
  imgtext add      --text TEXT [options] -o OUT IN
  imgtext boxed    --text TEXT [options] -o OUT IN
  imgtext centered --text TEXT [options] -o OUT IN
  With several inputs (or when OUT is a folder) -o names a folder, and each
  result keeps its input's name; inputs whose results would share a name
  (a/x.png and b/x.png) fail, and nothing is written for them.

Text (one is required):
  --text TEXT         the text; a real newline starts a new line
  --text-file FILE    read the text from FILE, or from standard input for -
  --escapes           turn \n, \t and \\ in --text into newline, tab, backslash

Options (defaults in brackets):
  --size N            pixel size, ascender to descender [24]
  --color C           text colour [#FFFFFF]
  --x N, --y N        top-left of the text (add, boxed) [0]
  --opacity F         0 to 1 (add) [1]
  --box-color C       box colour (boxed) [#000000]
  --padding N         box padding (boxed) [0]
  --background C      canvas colour (create) [#000000]
  --width N, --height N  canvas size (create)
  --format F          png, jpg or bmp, for outputs written into a folder
  -o, --output PATH   output file, or folder for several inputs
  -h, --help          this help;  --version  the version

Colours are #RRGGBB, #RGB or R,G,B. The output format follows OUT's extension
(.png, .jpg, .jpeg, .bmp), otherwise the input's format.

Examples:
  imgtext create --text 'Hello' --width 640 --height 240 --size 48 -o card.png
  imgtext add --text '(c) 2026 Quendal' --x 10 --y 10 --opacity 0.6 -o out.jpg photo.jpg
  imgtext boxed --text $'Trail\nclosed' --box-color '#a01e1e' --padding 8 -o sign.png trail.png
  imgtext centered --text-file caption.txt --size 40 --format png -o captioned/ *.jpg

Exit status: 0 all written, 1 some file failed (each reported as
"path: message") or imgtext's own output (this help, messages, the summary)
could not be written, 2 usage error.
)";
}

parse_result parse_arguments(int argc, char **argv) {
    parse_result result;
    options &o = result.opts;
    auto fail = [&](const std::string &message) {
        result.what = parse_result::error;
        result.message = message;
        return result;
    };
    if (argc < 2) return fail("missing command");
    const std::string first = argv[1];
    if (first == "-h" || first == "--help") return result.what = parse_result::help, result;
    if (first == "--version") return result.what = parse_result::version, result;
    const auto cmd = parse_command(first);
    if (!cmd) return fail("unknown command '" + first + "'");
    o.cmd = *cmd;

    bool escapes = false, have_width = false, have_height = false;
    std::optional<std::string> text_file;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i], value;
        if (arg == "-h" || arg == "--help") return result.what = parse_result::help, result;
        if (arg == "--escapes") {
            escapes = true;
            continue;
        }
        if (arg.empty() || arg[0] != '-' || arg == "-") {
            o.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            for (++i; i < argc; ++i) o.inputs.push_back(argv[i]);
            break;
        }
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        } else {
            if (i + 1 >= argc) return fail(arg + " needs a value");
            value = argv[++i];
        }
        auto number = [&](int &target) {
            const auto v = parse_int(value);
            if (v) target = *v;
            return v.has_value();
        };
        auto colour_of = [&](colour &target) {
            const auto c = parse_colour(value);
            if (c) target = *c;
            return c.has_value();
        };
        bool ok = true;
        if (arg == "--text") o.text = value, o.have_text = true;
        else if (arg == "--text-file") text_file = value;
        else if (arg == "-o" || arg == "--output") o.output = value;
        else if (arg == "--size") ok = number(o.size);
        else if (arg == "--x") ok = number(o.x);
        else if (arg == "--y") ok = number(o.y);
        else if (arg == "--padding") ok = number(o.padding);
        else if (arg == "--width") ok = have_width = number(o.width);
        else if (arg == "--height") ok = have_height = number(o.height);
        else if (arg == "--color" || arg == "--colour") ok = colour_of(o.color);
        else if (arg == "--box-color" || arg == "--box-colour") ok = colour_of(o.box_color);
        else if (arg == "--background") ok = colour_of(o.background);
        else if (arg == "--opacity") {
            const auto f = parse_float(value);
            ok = f.has_value();
            if (ok) o.opacity = *f;
        } else if (arg == "--format") {
            ok = value == "png" || value == "jpg" || value == "bmp";
            if (ok) o.format = value;
        } else {
            return fail("unknown option " + arg);
        }
        if (!ok) return fail("invalid value for " + arg + ": '" + value + "'");
    }

    if (o.have_text && text_file) return fail("give --text or --text-file, not both");
    if (text_file) {
        std::string why;
        const auto text = read_text_file(*text_file, why);
        if (!text) return fail("cannot read text file " + *text_file + ": " + why);
        o.text = *text;
        o.have_text = true;
    } else if (escapes) {
        o.text = expand_escapes(o.text);
    }
    if (!o.have_text) return fail("missing --text or --text-file");
    if (o.output.empty()) return fail("missing -o OUTPUT");
    if (o.cmd == command::create) {
        if (!o.inputs.empty()) return fail("create takes no input files");
        if (!have_width || !have_height) return fail("create needs --width and --height");
    } else if (o.inputs.empty()) {
        return fail("missing input file");
    }
    return result;
}
