// Command-line parsing for the imgtext tool: subcommand, options, inputs.
#ifndef IMGTEXT_TOOL_OPTIONS_H
#define IMGTEXT_TOOL_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

struct colour {
    int red, green, blue;
};

enum class command { create, add, boxed, centered };

struct options {
    command cmd = command::create;
    std::string text;
    bool have_text = false;
    std::string output;
    std::vector<std::string> inputs;
    std::optional<std::string> format;  // png, jpg or bmp: extension for outputs in a folder
    int x = 0, y = 0, size = 24, width = 0, height = 0, padding = 0;
    float opacity = 1.0f;
    colour color{255, 255, 255}, box_color{0, 0, 0}, background{0, 0, 0};
};

// What parsing asked for: run, print help or the version, or a usage error
// (message set).
struct parse_result {
    enum { run, help, version, error } what = run;
    std::string message;
    options opts;
};

parse_result parse_arguments(int argc, char **argv);
const char *usage_text();

// Exposed for tests of the tool's own parsing rules.
std::optional<colour> parse_colour(const std::string &text);
std::string expand_escapes(const std::string &text);

#endif
