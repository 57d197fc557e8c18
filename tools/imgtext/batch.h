// Running the tool's jobs: where each result goes, refusing what cannot be
// honoured before anything is written, and drawing with several workers.
#ifndef IMGTEXT_TOOL_BATCH_H
#define IMGTEXT_TOOL_BATCH_H

#include <optional>
#include <string>
#include <vector>

#include "options.h"

struct job {
    std::string input;    // "" for create, "-" for standard input
    std::string output;   // "-" for standard output
    int format;           // IMGTEXT_FORMAT_*; AUTO: the input's own
    std::string refused;  // why it fails unrun (a name its result cannot have, a clash), or ""
    std::string folder;   // the output's folder to create first, below the batch's folder, or ""
};

struct batch_plan {
    std::vector<job> jobs;
    std::optional<std::string> folder;  // results go into this folder
};

// Works out every output; a usage error (message set) when the command
// itself cannot be honoured (an output name, format or option). What is
// wrong with one input's result only refuses that job.
bool plan_batch(const options &o, batch_plan &plan, std::string &message);

// Draws every job and reports on standard error; returns the exit status.
int run_batch(const options &o, const batch_plan &plan);

#endif
