// Running the tool's jobs: where each result goes, refusing what cannot be
// honoured before anything is written, and drawing with several workers.
#ifndef IMGTEXT_TOOL_BATCH_H
#define IMGTEXT_TOOL_BATCH_H

#include <optional>
#include <string>
#include <vector>

#include "options.h"

struct job {
    std::string input;   // "" for create, "-" for standard input
    std::string output;  // "-" for standard output
    int format;          // IMGTEXT_FORMAT_*; AUTO: the input's own
    size_t collides_with = npos;  // another job with the same output
    static constexpr size_t npos = static_cast<size_t>(-1);
};

struct batch_plan {
    std::vector<job> jobs;
    std::optional<std::string> folder;  // results go into this folder
};

// Works out every output; a usage error (message set) when an output name,
// format or option cannot be honoured.
bool plan_batch(const options &o, batch_plan &plan, std::string &message);

// Draws every job and reports on standard error; returns the exit status.
int run_batch(const options &o, const batch_plan &plan);

#endif
