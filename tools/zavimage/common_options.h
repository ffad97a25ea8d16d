// Options that every command writing files shares: --in-place, --no-clobber, --quiet, --verbose,
// --jobs.
#pragma once

#include <thread>

#include "tools/zavimage/args.h"
#include "tools/zavimage/plan.h"
#include "tools/zavimage/progress.h"

namespace zavtool {

struct RunOptions {
    Verbosity verbosity = Verbosity::kNormal;
    unsigned jobs =
        std::thread::hardware_concurrency() == 0 ? 1 : std::thread::hardware_concurrency();
};

// Reads one of them into the plan request or the run options; false when `option` is none.
inline bool ReadRunOption(std::string_view option, ArgReader &args, PlanRequest &plan,
                          RunOptions &run) {
    if (option == "--in-place") {
        args.Flag(option);
        plan.inPlace = true;
    } else if (option == "--no-clobber" || option == "-n") {
        args.Flag(option);
        plan.noClobber = true;
    } else if (option == "--quiet" || option == "-q") {
        args.Flag(option);
        run.verbosity = Verbosity::kQuiet;
    } else if (option == "--verbose" || option == "-v") {
        args.Flag(option);
        run.verbosity = Verbosity::kVerbose;
    } else if (option == "--jobs" || option == "-j") {
        run.jobs = static_cast<unsigned>(ParseIntIn(option, args.Value(option), 1, 256));
    } else {
        return false;
    }
    return true;
}

}  // namespace zavtool
