// Running the tool's jobs.
#include "batch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#if defined(_WIN32)
#  include <io.h>
#  define isatty _isatty
#  define fileno _fileno
#else
#  include <unistd.h>
#endif

#include "drawing.h"
#include "files.h"
#include "interrupt.h"
#include "report.h"

namespace {

std::string base_name(const std::string &path) {
    size_t base = path.size();
    while (base > 0 && !is_separator(path[base - 1])) --base;
    return path.substr(base);
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

// Results in a folder are named after their inputs, so a/x.png and b/x.png
// (or x.png and x.jpg with --format png) claim one file and the later would
// silently replace the earlier; every such job is refused. Results below a
// folder input keep their subfolders, so only the whole path is a claim.
void refuse_collisions(std::vector<job> &jobs) {
    constexpr size_t none = static_cast<size_t>(-1);
    std::vector<size_t> collides_with(jobs.size(), none);
    std::map<std::string, size_t> first_claim;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].refused.empty()) continue;
        const auto claim = first_claim.emplace(same_file_key(jobs[i].output), i);
        if (claim.second) continue;
        const size_t first = claim.first->second;
        collides_with[i] = first;
        if (collides_with[first] == none) collides_with[first] = i;
    }
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (collides_with[i] == none) continue;
        const std::string &other = jobs[collides_with[i]].input;
        jobs[i].refused = other == jobs[i].input ? "not written: input given twice (output " + jobs[i].output + ")"
                                                 : "not written: " + other + " has the same output " + jobs[i].output;
    }
}

// `-o photos/ photos/*.jpg` would replace every photo with its result. A
// result that would land on one of the inputs is refused (unless
// --overwrite), the input known by its identity, so that a symbolic link or
// another spelling of the path does not hide it.
void refuse_replacing_inputs(std::vector<job> &jobs) {
    std::map<std::pair<uint64_t, uint64_t>, std::string> inputs;
    for (const job &j : jobs) {
        if (j.input.empty() || j.input == "-") continue;
        if (const auto identity = file_identity(j.input)) inputs.emplace(*identity, j.input);
    }
    for (job &j : jobs) {
        if (!j.refused.empty() || j.output == "-") continue;
        const auto identity = file_identity(j.output);
        const auto input = identity ? inputs.find(*identity) : inputs.end();
        if (input == inputs.end()) continue;
        j.refused = "not written: " + j.output + " would replace " +
                    (input->second == j.input ? "this input" : "the input " + input->second) +
                    " (--overwrite allows it)";
    }
}

// The format an output file's name asks for, checked against --format.
bool named_format(const options &o, const std::string &name, int &format, std::string &message) {
    format = format_of_name(name);
    if (format < 0) {
        message = "cannot write " + name + ": the name must end in .png, .jpg, .jpeg or .bmp";
        return false;
    }
    if (o.format && format != IMGTEXT_FORMAT_AUTO && format != *o.format) {
        message = std::string("--format ") + format_extension(*o.format) + " does not match the name " + name;
        return false;
    }
    if (format == IMGTEXT_FORMAT_AUTO && o.format) format = *o.format;
    return true;
}

// A one-line bar on a terminal, redrawn in place; nothing when redirected.
class progress {
public:
    progress(size_t total, bool wanted) : total_(total), shown_(wanted && total > 1 && isatty(fileno(stderr))) {}
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

struct outcome {
    bool done = false;
    job_result result;
};

// Collects the workers' outcomes and reports them in the inputs' order, so
// that what a run prints does not depend on which worker finished first;
// the bar counts every finished file.
class reporter {
public:
    reporter(const options &o, const std::vector<job> &jobs)
        : o_(o), jobs_(jobs), outcomes_(jobs.size()), bar_(jobs.size(), o.level != verbosity::quiet) {}

    void finish(size_t index, job_result result) {
        const std::lock_guard<std::mutex> lock(mutex_);
        outcomes_[index] = {true, std::move(result)};
        ++finished_;
        while (next_ < jobs_.size() && outcomes_[next_].done) report(next_++);
        bar_.update(finished_, name_of(jobs_[index]));
    }

    bool failed() const { return failed_ > 0; }

    // The close of a run of several files, or of one that was stopped:
    // every file that failed, with why, then what was written, what failed
    // and what was not done.
    void summarise(const std::optional<std::string> &folder, int stopped_by) {
        bar_.clear();
        if (o_.level == verbosity::quiet || (jobs_.size() < 2 && !stopped_by)) return;
        // Each failure has had its own line; these gather them for the
        // reader who only sees the end.
        for (size_t i = 0; i < next_; ++i)
            if (outcomes_[i].result.what == job_result::failed)
                std::fprintf(stderr, "imgtext: failed: %s: %s\n", name_of(jobs_[i]).c_str(),
                             outcomes_[i].result.message.c_str());
        std::string line = "imgtext: ";
        if (stopped_by) line += stopped_by == SIGTERM ? "stopped by SIGTERM: " : "stopped by SIGINT: ";
        line += std::to_string(written_) + " written";
        if (damaged_) line += " (" + std::to_string(damaged_) + " damaged)";
        line += ", " + std::to_string(failed_) + " failed";
        if (stopped_by) line += ", " + std::to_string(not_done()) + " not done";
        if (folder) line += ", into " + *folder;
        std::fprintf(stderr, "%s\n", line.c_str());
    }

    // --report: a JSON line per file in the inputs' order, then the counts.
    void write_report(std::FILE *file) const {
        for (size_t i = 0; i < jobs_.size(); ++i) {
            const bool reported = i < next_ && outcomes_[i].result.what != job_result::abandoned;
            const job_result &r = outcomes_[i].result;
            const char *status = !reported ? "not done" : r.what == job_result::written ? "written" : "failed";
            std::string line = "{\"input\": " + json_string(jobs_[i].input) +
                               ", \"output\": " + json_string(jobs_[i].output) + ", \"status\": \"" + status + "\"";
            if (reported && r.what == job_result::failed) line += ", \"reason\": " + json_string(r.message);
            if (reported && r.damaged) line += ", \"damaged\": true";
            std::fprintf(file, "%s}\n", line.c_str());
        }
        std::fprintf(file, "{\"written\": %zu, \"damaged\": %zu, \"failed\": %zu, \"not done\": %zu}\n", written_,
                     damaged_, failed_, not_done());
    }

private:
    size_t not_done() const { return jobs_.size() - written_ - failed_; }

    static std::string name_of(const job &j) {
        return j.input.empty() ? j.output : j.input == "-" ? "standard input" : j.input;
    }

    void report(size_t i) {
        const job_result &r = outcomes_[i].result;
        const std::string name = name_of(jobs_[i]);
        if (r.what == job_result::abandoned) return;  // counted as not done
        if (r.what == job_result::failed) {
            ++failed_;
            bar_.clear();
            std::fprintf(stderr, "%s: %s\n", name.c_str(), r.message.c_str());
            return;
        }
        ++written_;
        if (r.damaged) ++damaged_;
        if (o_.level == verbosity::quiet || (!r.damaged && o_.level != verbosity::verbose)) return;
        bar_.clear();
        if (r.damaged)
            std::fprintf(stderr,
                         "%s: warning: damaged: the data ends before the picture does; drawn with the missing "
                         "part as decoded\n",
                         name.c_str());
        const std::string out = jobs_[i].output == "-" ? "standard output" : jobs_[i].output;
        if (o_.level == verbosity::verbose) std::fprintf(stderr, "%s -> %s\n", name.c_str(), out.c_str());
    }

    const options &o_;
    const std::vector<job> &jobs_;
    std::vector<outcome> outcomes_;
    progress bar_;
    std::mutex mutex_;
    size_t next_ = 0, finished_ = 0, written_ = 0, failed_ = 0, damaged_ = 0;
};

job_result run_job(const text_drawing &drawing, const job &j, const std::string *input) {
    job_result result;
    if (!j.refused.empty()) {
        result.message = j.refused;
        return result;
    }
    try {
        if (!j.folder.empty()) {
            // One worker at a time: two creating the same parents could
            // each see the other's folder appear as an error.
            static std::mutex creating;
            const std::lock_guard<std::mutex> lock(creating);
            std::string why;
            if (!make_folders(j.folder, why)) {
                result.message = "cannot create folder " + j.folder + ": " + why;
                return result;
            }
        }
        return drawing.run(j.input, j.output, j.format, input);
    } catch (const std::bad_alloc &) {
        result.message = "out of memory";
    }
    return result;
}

// An input as the batch takes it: a picture, and the name its result has
// in the output folder (a folder input's pictures keep their paths below it).
struct input_picture {
    std::string path, name, refused;
};

std::vector<input_picture> input_pictures(const options &o) {
    std::vector<input_picture> pictures;
    const auto output_folder = file_identity(o.output);  // not walked into
    for (const std::string &input : o.inputs) {
        if (input == "-" || !is_directory(input)) {
            pictures.push_back({input, base_name(input), ""});
            continue;
        }
        std::string why;
        const auto names = list_pictures(input, o.recursive, output_folder, why);
        if (!names || names->empty()) {
            pictures.push_back({input, "", names ? "no pictures in this folder" : "cannot read the folder: " + why});
            continue;
        }
        for (const std::string &name : *names) pictures.push_back({in_folder(input, name), name, ""});
    }
    return pictures;
}

}  // namespace

bool plan_batch(const options &o, batch_plan &plan, std::string &message) {
    plan = batch_plan{};
    const bool to_stdout = o.output == "-";
    const bool named_folder = !to_stdout && is_separator(o.output.back());
    // Results in a folder without --format take their formats from their
    // inputs' names, one by one; the options below are then checked per
    // file, as for a result that keeps its input's format.
    bool formats_per_input = false;
    if (o.cmd == command::create) {
        if (named_folder) return message = "create writes one file, not a folder: " + o.output, false;
        job canvas{"", o.output, o.format.value_or(IMGTEXT_FORMAT_AUTO), "", ""};
        if (!to_stdout && !named_format(o, o.output, canvas.format, message)) return false;
        plan.jobs.push_back(canvas);
    } else {
        if (std::count(o.inputs.begin(), o.inputs.end(), "-") > 1) return message = "- is given twice", false;
        if (to_stdout && o.inputs.size() > 1) return message = "-o - takes one input, not several", false;
        const bool folder_input = std::any_of(o.inputs.begin(), o.inputs.end(),
                                              [](const std::string &in) { return in != "-" && is_directory(in); });
        if (to_stdout && folder_input) return message = "-o - takes one picture, not a folder", false;
        const bool into_folder =
            !to_stdout && (o.inputs.size() > 1 || folder_input || named_folder || is_directory(o.output));
        if (into_folder && !is_directory(o.output) && path_exists(o.output))
            return message = o.output + " is not a folder (needed for several inputs)", false;
        formats_per_input = into_folder && !o.format;
        for (const input_picture &picture : input_pictures(o)) {
            const std::string &input = picture.path;
            job j{input, o.output, o.format.value_or(IMGTEXT_FORMAT_AUTO), picture.refused, ""};
            if (!j.refused.empty()) {
                plan.jobs.push_back(j);
                continue;
            }
            if (into_folder) {
                if (input == "-") return message = "standard input (-) has no name to keep in a folder", false;
                std::string name = picture.name;  // "x.jpg", or "2024/x.jpg" below a folder input
                const size_t base = name.size() - base_name(name).size();
                if (o.format) {
                    const size_t dot = name.rfind('.');
                    name = (dot == std::string::npos || dot <= base ? name : name.substr(0, dot)) + "." +
                           format_extension(*o.format);
                }
                if (base > 0) j.folder = in_folder(o.output, name.substr(0, base - 1));
                j.output = in_folder(o.output, name);
                // x.gif or x.HEIC among the inputs: that one result cannot
                // be written under its name, and the rest still can.
                std::string why;
                if (!named_format(o, j.output, j.format, why)) j.refused = why + " (give --format png, jpg or bmp)";
            } else if (!to_stdout && !named_format(o, o.output, j.format, message)) {
                return false;
            }
            plan.jobs.push_back(j);
        }
        if (into_folder) plan.folder = o.output;
    }
    // JPEG quality and EXIF are for JPEG results only: asking for them where
    // the command names another format cannot be honoured. A result whose
    // format comes from its input is checked when it is drawn (and a
    // non-JPEG input has no EXIF to keep).
    for (const job &j : plan.jobs) {
        if (formats_per_input || j.format == IMGTEXT_FORMAT_AUTO || j.format == IMGTEXT_FORMAT_JPEG) continue;
        if (o.quality) return message = "--quality is for JPEG output, and " + j.output + " is not JPEG", false;
        if (o.keep_exif) return message = "--keep-exif is for JPEG output, and " + j.output + " is not JPEG", false;
    }
    refuse_collisions(plan.jobs);
    if (!o.overwrite) refuse_replacing_inputs(plan.jobs);
    return true;
}

int run_batch(const options &o, const batch_plan &plan) {
    text_drawing drawing(o);
    std::string message;
    if (!drawing.prepare(message)) {
        std::fprintf(stderr, "imgtext: %s\n", message.c_str());
        return 2;
    }
    std::string missing;
    if (!drawing.missing_characters(missing, message)) {
        std::fprintf(stderr, "imgtext: %s\n", message.c_str());
        return 1;
    }
    if (!missing.empty() && o.level != verbosity::quiet)
        std::fprintf(stderr, "imgtext: warning: the font has no glyph for %s\n", missing.c_str());

    std::optional<std::string> standard_input;
    if (std::any_of(plan.jobs.begin(), plan.jobs.end(), [](const job &j) { return j.input == "-"; })) {
        standard_input = read_standard_input(static_cast<size_t>(o.max_input_bytes));
        if (!standard_input) {
            const int error = errno;
            std::fprintf(stderr, "imgtext: cannot read standard input%s%s\n", error ? ": " : "",
                         error ? std::strerror(error) : "");
            return 1;
        }
    }
    if (plan.folder && !make_folders(*plan.folder, message)) {
        std::fprintf(stderr, "imgtext: cannot create folder %s: %s\n", plan.folder->c_str(), message.c_str());
        return 1;
    }
    // Opened before any picture is drawn, so that a report that cannot be
    // written costs no work.
    std::FILE *report_file = nullptr;
    if (!o.report.empty()) {
        errno = 0;
        if (!(report_file = open_file(o.report, "wb"))) {
            const int error = errno;
            std::fprintf(stderr, "imgtext: cannot write report %s: %s\n", o.report.c_str(),
                         error ? std::strerror(error) : "cannot open");
            return 1;
        }
    }

    // From here on files are written: a signal stops the run between files
    // rather than in the middle of one.
    catch_stop_signals();
    reporter report(o, plan.jobs);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; !stop_signal() && (i = next++) < plan.jobs.size();)
            report.finish(i, run_job(drawing, plan.jobs[i], standard_input ? &*standard_input : nullptr));
    };
    const size_t processors = std::max(1u, std::thread::hardware_concurrency());
    const size_t workers = std::min(o.jobs ? o.jobs : processors, plan.jobs.size());
    // Fewer files than processors, and no --jobs limit: each decode may
    // take a second one (the same pixels either way).
    if (!o.jobs && workers < processors) drawing.set_decode_threads(2);
    std::vector<std::thread> threads;
    for (size_t w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (std::thread &t : threads) t.join();

    const int stopped_by = stop_signal();
    report.summarise(plan.folder, stopped_by);
    bool report_written = true;
    if (report_file) {
        report.write_report(report_file);
        errno = 0;
        const bool failed_write = std::ferror(report_file) != 0;
        report_written = std::fclose(report_file) == 0 && !failed_write;
        if (!report_written)
            std::fprintf(stderr, "imgtext: cannot write report %s%s%s\n", o.report.c_str(), errno ? ": " : "",
                         errno ? std::strerror(errno) : "");
    }
    if (stopped_by) return 128 + stopped_by;
    return report.failed() || !report_written ? 1 : 0;
}
