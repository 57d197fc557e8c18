// imgtext: text onto pictures from the command line, for shell scripts and
// batch jobs, through the library's drawing API. See `imgtext --help`.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
// shellapi.h needs windows.h's types: kept apart, so that sorting leaves the order.
#  include <shellapi.h>
#endif

#include "batch.h"
#include "options.h"
#include "quendal_imgtext.h"

namespace {

// Why a write of the tool's own standard output failed before the final
// flush: the help is longer than stdio's buffer, so part of it is written,
// and can fail, while it is still being put out. 0 if none did.
int early_output_error = 0;

int usage_error(const std::string &message) {
    std::fprintf(stderr, "imgtext: %s\nTry 'imgtext --help'.\n", message.c_str());
    return 2;
}

int dispatch(const std::vector<std::string> &args) {
    const parse_result parsed = parse_arguments(args);
    switch (parsed.what) {
        case parse_result::help:
            if (std::fputs(usage_text(), stdout) == EOF) early_output_error = errno;
            return 0;
        case parse_result::version:
            std::printf("imgtext %s (quendal-imgtext %d.%d.%d)\n", IMGTEXT_TOOL_VERSION, QUENDAL_IMGTEXT_VERSION_MAJOR,
                        QUENDAL_IMGTEXT_VERSION_MINOR, QUENDAL_IMGTEXT_VERSION_PATCH);
            return 0;
        case parse_result::error: return usage_error(parsed.message);
        case parse_result::run: break;
    }
    batch_plan plan;
    std::string message;
    if (!plan_batch(parsed.opts, plan, message)) return usage_error(message);
    return run_batch(parsed.opts, plan);
}

// Output that never arrived is a failure: `imgtext --help > file` on a full
// disk must not pass for success. Standard output is buffered, so its errors
// show at the flush. Standard error is unbuffered and its failures (summary,
// progress, messages) have nowhere left to be reported, so they only set the
// status. A status already non-zero is kept.
int check_own_output(int status) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno ? errno : early_output_error;
        std::fprintf(stderr, "imgtext: cannot write standard output%s%s\n", error ? ": " : "",
                     error ? std::strerror(error) : "");
        return status ? status : 1;
    }
    return std::ferror(stderr) && !status ? 1 : status;
}

// The arguments as UTF-8, which the drawing API takes for text and paths
// alike. Windows hands narrow programs their arguments in the ANSI code
// page, which cannot hold most text, so there they are read as UTF-16.
std::vector<std::string> utf8_arguments(int argc, char **argv) {
#if defined(_WIN32)
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        std::vector<std::string> args;
        for (int i = 0; i < count; ++i) {
            const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
            std::string arg(n > 0 ? static_cast<size_t>(n) : 1, '\0');
            if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
            arg.pop_back();
            args.push_back(arg);
        }
        LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace

// Nothing the tool does is meant to throw, but a string can still run out of
// memory; a message and status 1 beat an abort's core dump.
int main(int argc, char **argv) {
    try {
        return check_own_output(dispatch(utf8_arguments(argc, argv)));
    } catch (const std::bad_alloc &) {
        std::fputs("imgtext: out of memory\n", stderr);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "imgtext: %s\n", error.what());
    } catch (...) {
        std::fputs("imgtext: unexpected error\n", stderr);
    }
    return 1;
}
