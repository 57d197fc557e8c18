// imgtext: the library's four drawing functions from the command line, for
// shell scripts and batch jobs. See `imgtext --help`.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "options.h"
#include "quendal_imgtext.h"

namespace {

bool is_directory(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

bool is_separator(char c) {
#if defined(_WIN32)
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// The name a result takes in the output folder: the input's, with the
// extension replaced when a format is given.
std::string output_name(const std::string &input, const options &o) {
    size_t base = input.size();
    while (base > 0 && !is_separator(input[base - 1])) --base;
    std::string name = input.substr(base);
    if (o.format) {
        const size_t dot = name.rfind('.');
        name = (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + "." + *o.format;
    }
    return name;
}

std::string in_folder(const std::string &folder, const std::string &name) {
    return folder + (folder.empty() || is_separator(folder.back()) ? "" : "/") + name;
}

// Two names that open the same file in one folder. Windows and macOS ignore
// case by default, so there "A.png" is "a.png"; elsewhere they are two files.
std::string same_file_key(std::string name) {
#if defined(_WIN32) || defined(__APPLE__)
    for (char &c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
#endif
    return name;
}

// For each input, another input whose result would land on the same file,
// or npos. Results in a folder are named after their inputs, so a/x.png and
// b/x.png (or x.png and x.jpg with --format png) claim one file and the later
// would silently replace the earlier; all such inputs are refused up front.
std::vector<size_t> colliding_inputs(const options &o) {
    std::vector<size_t> other(o.inputs.size(), std::string::npos);
    std::map<std::string, size_t> first_claim;
    for (size_t i = 0; i < o.inputs.size(); ++i) {
        const auto claim = first_claim.emplace(same_file_key(output_name(o.inputs[i], o)), i);
        if (claim.second) continue;
        const size_t first = claim.first->second;
        other[i] = first;
        if (other[first] == std::string::npos) other[first] = i;
    }
    return other;
}

int draw(const options &o, const std::string &input, const std::string &output) {
    const char *in = input.c_str(), *out = output.c_str(), *text = o.text.c_str();
    const colour &c = o.color;
    switch (o.cmd) {
        case command::add: return imgtext_add(in, out, text, o.x, o.y, o.size, c.red, c.green, c.blue, o.opacity);
        case command::boxed:
            return imgtext_add_boxed(in, out, text, o.x, o.y, o.size, c.red, c.green, c.blue, o.box_color.red,
                                     o.box_color.green, o.box_color.blue, o.padding);
        case command::centered: return imgtext_centered(in, out, text, o.size, c.red, c.green, c.blue);
        case command::create:
            return imgtext_create(out, text, o.width, o.height, o.size, c.red, c.green, c.blue, o.background.red,
                                  o.background.green, o.background.blue);
    }
    return 0;
}

// A one-line bar on a terminal, redrawn in place; nothing when redirected.
class progress {
public:
    explicit progress(size_t total) : total_(total), shown_(total > 1 && isatty(fileno(stderr))) {}
    void update(size_t done, const std::string &name) {
        if (!shown_) return;
        constexpr size_t width = 30;
        const size_t filled = total_ ? done * width / total_ : width;
        std::fprintf(stderr, "\r[%s%s] %zu/%zu %-30.30s", std::string(filled, '#').c_str(),
                     std::string(width - filled, ' ').c_str(), done, total_, name.c_str());
        std::fflush(stderr);
    }
    // Clears the bar so a message can take the line.
    void clear() {
        if (shown_) std::fprintf(stderr, "\r%*s\r", 80, "");
    }

private:
    size_t total_;
    bool shown_;
};

int run(const options &o) {
    if (o.cmd == command::create) {
        if (draw(o, "", o.output)) return 0;
        std::fprintf(stderr, "%s: %s\n", o.output.c_str(), imgtext_last_error());
        return 1;
    }
    const bool into_folder = o.inputs.size() > 1 || is_directory(o.output);
    if (into_folder && !is_directory(o.output)) {
        std::fprintf(stderr, "imgtext: %s is not a folder (needed for several inputs)\n", o.output.c_str());
        return 2;
    }
    const std::vector<size_t> collides = colliding_inputs(o);  // none for a single input
    progress bar(o.inputs.size());
    size_t failed = 0, done = 0;
    for (size_t i = 0; i < o.inputs.size(); ++i) {
        const std::string &input = o.inputs[i];
        bar.update(done, input);
        const std::string output = into_folder ? in_folder(o.output, output_name(input, o)) : o.output;
        if (collides[i] != std::string::npos) {
            bar.clear();
            const std::string &other = o.inputs[collides[i]];
            if (other == input)
                std::fprintf(stderr, "%s: not written: input given twice (output %s)\n", input.c_str(), output.c_str());
            else
                std::fprintf(stderr, "%s: not written: %s has the same output %s\n", input.c_str(), other.c_str(),
                             output.c_str());
            ++failed;
        } else if (!draw(o, input, output)) {
            bar.clear();
            std::fprintf(stderr, "%s: %s\n", input.c_str(), imgtext_last_error());
            ++failed;
        }
        ++done;
    }
    bar.update(done, "");
    bar.clear();
    if (o.inputs.size() > 1) {
        std::fprintf(stderr, "imgtext: %zu written, %zu failed, into %s\n", done - failed, failed, o.output.c_str());
    }
    return failed ? 1 : 0;
}

int dispatch(int argc, char **argv) {
    const parse_result parsed = parse_arguments(argc, argv);
    switch (parsed.what) {
        case parse_result::help: std::fputs(usage_text(), stdout); return 0;
        case parse_result::version:
            std::printf("imgtext %s (quendal-imgtext %d.%d.%d)\n", IMGTEXT_TOOL_VERSION, QUENDAL_IMGTEXT_VERSION_MAJOR,
                        QUENDAL_IMGTEXT_VERSION_MINOR, QUENDAL_IMGTEXT_VERSION_PATCH);
            return 0;
        case parse_result::error:
            std::fprintf(stderr, "imgtext: %s\nTry 'imgtext --help'.\n", parsed.message.c_str());
            return 2;
        case parse_result::run: break;
    }
    return run(parsed.opts);
}

// Output that never arrived is a failure: `imgtext --help > file` on a full
// disk must not pass for success. Standard output is buffered, so its errors
// show at the flush. Standard error is unbuffered and its failures (summary,
// progress, messages) have nowhere left to be reported, so they only set the
// status. A status already non-zero is kept.
int check_own_output(int status) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno;
        std::fprintf(stderr, "imgtext: cannot write standard output%s%s\n", error ? ": " : "",
                     error ? std::strerror(error) : "");
        return status ? status : 1;
    }
    return std::ferror(stderr) && !status ? 1 : status;
}

}  // namespace

// Nothing the tool does is meant to throw, but a string can still run out of
// memory; a message and status 1 beat an abort's core dump.
int main(int argc, char **argv) {
    try {
        return check_own_output(dispatch(argc, argv));
    } catch (const std::bad_alloc &) {
        std::fputs("imgtext: out of memory\n", stderr);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "imgtext: %s\n", error.what());
    } catch (...) {
        std::fputs("imgtext: unexpected error\n", stderr);
    }
    return 1;
}
