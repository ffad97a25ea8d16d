// Running a job of the library: its plan's refusals shown as usage errors, the items spread over
// worker threads (each with its own component object), a stop between files when a signal asks
// for it, standard input and output, the progress display and the summary.
#pragma once

#include <string_view>

#include "tools/zavimage/job_options.h"

namespace zavtool {

struct BatchSettings {
    std::string_view command;  // for the summary: "annotate"
    RunOptions run;
    bool summary = true;  // false for the one-picture commands: a line only when not all went well
};

// Returns the exit status: 0 when every file was written or skipped, 1 when one failed (before
// the work or during it), 128 + the signal when a signal stopped the run. Throws UsageError when
// the library refuses the job or its plan (nothing done).
int RunJob(const Json &job, const BatchSettings &settings);
// The same for a job document as text (zavimage run).
int RunJobText(const std::string &text, const BatchSettings &settings);

}  // namespace zavtool
