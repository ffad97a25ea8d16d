// A job as described: its inputs, its steps and its output, read from a JSON document and checked
// whole before any work.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "job/steps.h"
#include "job/template.h"
#include "job/values.h"

namespace zav::job {

// One input as given: a file or folder name, "-" (standard input) or bytes given by the caller.
struct InputSpec {
    std::string name;
    bool memory = false;
};

struct Description {
    std::vector<InputSpec> inputs;
    bool recursive = false;        // subfolders are walked (outputs keep their places)
    bool folders = true;           // a folder stands for its pictures (else it is refused)
    std::string output;            // the output of the one input ("-": standard output), or empty
    std::string outDir;            // the folder outputs go to, or empty
    std::string format;            // the extension written to outDir or standard output
    float quality = 2.0f;          // JPEG: the standard tables divided by it
    bool color = false;            // save colour even when the input is gray
    bool noClobber = false;        // outputs that exist are skipped
    bool inPlace = false;          // an output may replace its input
    std::optional<Template> name;  // the output's name, from the picture's fields
    std::string detections;        // a file of boxes per picture (CSV or JSON Lines)
    std::optional<double> minScore;
    Steps steps;
};

// Reads and checks a parsed job document (its "plan" member, if any, is left to the caller).
// Throws UsageError naming the field and the value.
Description ReadDescription(const Json &document);

}  // namespace zav::job
