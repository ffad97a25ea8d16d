#include "tools/zavimage/batch.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "tools/zavimage/display.h"
#include "tools/zavimage/image.h"
#include "tools/zavimage/interrupt.h"

namespace zavtool {
namespace {

std::string Plural(std::size_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

struct Tally {
    std::size_t written = 0;
    std::size_t failed = 0;
    std::size_t discarded = 0;
    std::size_t notStarted = 0;
};

void PrintSummary(const Plan &plan, const std::vector<std::optional<Outcome>> &outcomes,
                  const Tally &tally, const BatchSettings &settings) {
    const bool stopped = StopRequested();
    std::string line = std::string(settings.command) + ": ";
    if (stopped) {
        line += std::string("stopped by ") + SignalName(StopSignal()) + ": ";
    }
    line += std::to_string(tally.written) + " succeeded, " +
            std::to_string(tally.failed + plan.failures.size()) + " failed";
    if (!plan.skipped.empty()) {
        line += ", " + std::to_string(plan.skipped.size()) + " skipped (output exists)";
    }
    if (stopped) {
        line += ", " + std::to_string(tally.discarded + tally.notStarted) + " not done";
    }
    std::printf("%s\n", line.c_str());
    if (plan.subfolders != 0 || plan.otherFiles != 0) {
        std::string passed = "  passed over in the folders:";
        if (plan.subfolders != 0) {
            passed += " " + Plural(plan.subfolders, "subfolder", "subfolders") +
                      " (--recursive walks them)";
        }
        if (plan.otherFiles != 0) {
            passed += std::string(plan.subfolders != 0 ? "," : "") + " " +
                      Plural(plan.otherFiles, "file that is not a picture by its name",
                             "files that are not pictures by their names");
        }
        std::printf("%s\n", passed.c_str());
    }
    std::map<std::string, std::size_t> reasons;
    for (const PlanFailure &f : plan.failures) {
        ++reasons[f.reason];
    }
    for (const auto &o : outcomes) {
        if (o && o->kind == Outcome::Kind::kFailed) {
            ++reasons[o->reason];
        }
    }
    for (const auto &[reason, count] : reasons) {
        std::printf("  %zu x %s\n", count, reason.c_str());
    }
    for (const PlanFailure &f : plan.failures) {
        std::printf("  failed: %s: %s\n", f.name.c_str(), f.reason.c_str());
    }
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        if (outcomes[i] && outcomes[i]->kind == Outcome::Kind::kFailed) {
            std::printf("  failed: %s\n", outcomes[i]->Describe(plan.jobs[i]).c_str());
        }
    }
}

}  // namespace

int RunBatch(const Plan &plan, const Steps &steps, const BatchSettings &settings) {
    for (const PlanFailure &f : plan.failures) {
        PrintError(f.name + ": " + f.reason);
    }
    if (!settings.summary) {
        for (const Job &job : plan.skipped) {
            if (settings.verbosity != Verbosity::kQuiet) {
                std::printf("skipped: %s exists (--no-clobber)\n", Printable(job.output).c_str());
            }
        }
    }
    std::vector<std::optional<Outcome>> outcomes(plan.jobs.size());
    Tally tally;
    if (!plan.jobs.empty() && !StopRequested()) {
        if (auto error = MakeOutputFolders(plan)) {
            PrintError(*error);
            return kExitFailed;
        }
        Progress progress(plan.jobs.size(),
                          settings.summary ? settings.verbosity : Verbosity::kQuiet, stderr);
        std::atomic<std::size_t> next{0};
        std::atomic<std::size_t> busy{0};
        SetSignalListener([&](int signal) {
            if (signal == SIGWINCH) {
                progress.Resized();
            } else if (settings.verbosity != Verbosity::kQuiet) {
                progress.Note(std::string("zavimage: ") + SignalName(signal) +
                              ": no new files are started; finishing " +
                              Plural(busy.load(), "file", "files") + " in progress");
            }
        });
        const std::function<bool()> stop = [] { return StopRequested(); };
        auto worker = [&] {
            Object obj;
            SetQuality(obj.get(), steps);
            while (!StopRequested()) {
                ++busy;
                const std::size_t i = next++;
                if (i >= plan.jobs.size()) {
                    --busy;
                    break;
                }
                const Job &job = plan.jobs[i];
                Outcome outcome = ProcessFile(obj.get(), job, steps, stop);
                --busy;
                if (outcome.kind == Outcome::Kind::kFailed) {
                    const std::string line = outcome.Describe(job);
                    progress.Finished(job.input, job.output, &line);
                } else if (outcome.kind == Outcome::Kind::kWritten) {
                    progress.Finished(job.input, job.output, nullptr);
                }
                outcomes[i] = std::move(outcome);
            }
        };
        const std::size_t workers = std::clamp<std::size_t>(settings.jobs, 1, plan.jobs.size());
        std::vector<std::thread> threads;
        for (std::size_t t = 1; t < workers; ++t) {
            threads.emplace_back(worker);
        }
        worker();
        for (std::thread &t : threads) {
            t.join();
        }
        SetSignalListener({});
        progress.End();
    }
    for (const auto &o : outcomes) {
        if (!o) {
            ++tally.notStarted;
        } else if (o->kind == Outcome::Kind::kWritten) {
            ++tally.written;
        } else if (o->kind == Outcome::Kind::kFailed) {
            ++tally.failed;
        } else {
            ++tally.discarded;
        }
    }
    const bool anyFailed = tally.failed + plan.failures.size() != 0;
    if (settings.summary && (settings.verbosity != Verbosity::kQuiet || anyFailed)) {
        PrintSummary(plan, outcomes, tally, settings);
    } else if (!settings.summary && StopRequested()) {
        PrintError(std::string("stopped by ") + SignalName(StopSignal()) +
                   (tally.written != 0 ? "" : "; nothing was written"));
    }
    if (StopRequested()) {
        return StopExitStatus();
    }
    return anyFailed ? kExitFailed : kExitOk;
}

}  // namespace zavtool
