// Running a plan: the jobs spread over worker threads, each with its own component object, a stop
// between files when a signal asks for it, the progress display and the summary.
#pragma once

#include <string_view>

#include "tools/zavimage/plan.h"
#include "tools/zavimage/progress.h"

namespace zavtool {

struct BatchSettings {
    std::string_view command;  // for the summary: "annotate"
    unsigned jobs = 1;         // worker threads
    Verbosity verbosity = Verbosity::kNormal;
    bool summary = true;  // false for the one-picture commands: a line only when not all went well
};

// Returns the exit status: 0 when every file was written or skipped, 1 when one failed (before
// the work or during it), 128 + the signal when a signal stopped the run.
int RunBatch(const Plan &plan, const Steps &steps, const BatchSettings &settings);

}  // namespace zavtool
