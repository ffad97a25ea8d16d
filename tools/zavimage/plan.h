// Working out every output before any work: folders expanded, one output name per input, and the
// refusals that keep a run from losing a file (two inputs writing one output, an output that is
// an input, an output without a format).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/zavimage/pipeline.h"

namespace zavtool {

struct PlanRequest {
    std::vector<std::string> inputs;    // files and folders as given
    std::vector<std::string> alsoRead;  // further inputs that no output is made from (copy's)
    std::string output;                 // the output of the one input, or empty
    std::string outDir;                 // the folder outputs go to, or empty
    std::string format;                 // the extension of outputs in outDir or on standard
                                        // output (-); empty: the input's
    bool folders = true;                // folders may be given (their pictures are taken)
    bool recursive = false;             // subfolders are walked (outputs keep their places)
    bool inPlace = false;               // an output may replace its input
    bool noClobber = false;             // outputs that exist are skipped
};

// An input that cannot be worked on, found before any work.
struct PlanFailure {
    std::string name;  // printable
    std::string reason;
};

struct Plan {
    std::vector<Job> jobs;
    std::vector<PlanFailure> failures;
    std::vector<Job> skipped;          // --no-clobber: the output exists
    std::size_t subfolders = 0;        // subfolders passed over (no --recursive)
    std::size_t otherFiles = 0;        // files in the folders that are not pictures by name
    std::vector<std::string> folders;  // output folders to make before the work
};

// Expands and checks. Throws UsageError (nothing done) when two inputs would write one output,
// when an output is one of the inputs (same device and inode) without --in-place, or when an
// output's name picks no format.
Plan MakePlan(const PlanRequest &request);

// Whether a name's extension is one of a picture the tool takes from a folder.
bool IsPictureName(const std::string &name);

// Makes the output folders; the reason when one cannot be made.
std::optional<std::string> MakeOutputFolders(const Plan &plan);

}  // namespace zavtool
