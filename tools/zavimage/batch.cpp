#include "tools/zavimage/batch.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "tools/zavimage/display.h"
#include "tools/zavimage/image.h"
#include "tools/zavimage/interrupt.h"
#include "tools/zavimage/streams.h"
#include "zavimage/job.h"

namespace zavtool {
namespace {

using JobPtr = std::unique_ptr<ZAVJob, void (*)(ZAVJob *)>;

std::string Plural(std::size_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

ZAVJobItem Item(const ZAVJob *job, std::size_t index) {
    ZAVJobItem item{};
    ZAVJobGetItem(job, index, &item);
    return item;
}

}  // namespace

int RunJobText(const std::string &text, const BatchSettings &settings) {
    JobPtr job(ZAVJobCreate(text.c_str()), ZAVJobDestroy);
    if (!job) {
        throw std::bad_alloc();
    }
    if (ZAVJobStatus(job.get()) != ZAV_JOB_OK) {
        throw UsageError(ZAVJobOptionMessage(job.get()));
    }
    if (settings.run.printJob) {
        std::printf("%s\n",
                    Json::parse(text).dump(2, ' ', false, Json::error_handler_t::replace).c_str());
        return kExitOk;
    }
    if (ZAVJobPlan(job.get()) != ZAV_JOB_OK) {
        throw UsageError(ZAVJobOptionMessage(job.get()));
    }
    const Verbosity verbosity = settings.run.verbosity;
    const std::size_t count = ZAVJobItemCount(job.get());
    std::vector<std::size_t> work;
    for (std::size_t i = 0; i < count; ++i) {
        const ZAVJobItem item = Item(job.get(), i);
        if (item.planned == 0) {
            work.push_back(i);
        } else if (item.state == ZAV_ITEM_FAILED) {
            PrintError(item.message);
        } else if (!settings.summary && verbosity != Verbosity::kQuiet) {
            std::printf("skipped: %s exists (--no-clobber)\n", Printable(item.output).c_str());
        }
    }
    if (!work.empty() && !StopRequested()) {
        if (ZAVJobNeedsStandardInput(job.get()) != 0) {
            std::vector<uint8_t> bytes;
            (void)ReadStandardInput(bytes);  // empty when it cannot be read: the item says so
            ZAVJobSetStandardInput(job.get(), bytes.data(), bytes.size());
        }
        if (ZAVJobMakeFolders(job.get()) != ZAV_JOB_OK) {
            PrintError(ZAVJobMessage(job.get()));
            return kExitFailed;
        }
        Progress progress(work.size(), settings.summary ? verbosity : Verbosity::kQuiet, stderr);
        std::atomic<std::size_t> next{0};
        std::atomic<std::size_t> busy{0};
        int32_t stop = StopRequested() ? 1 : 0;
        SetSignalListener([&](int signal) {
            if (signal == SIGWINCH) {
                progress.Resized();
                return;
            }
            __atomic_store_n(&stop, 1, __ATOMIC_RELAXED);
            if (verbosity != Verbosity::kQuiet) {
                progress.Note(std::string("zavimage: ") + SignalName(signal) +
                              ": no new files are started; finishing " +
                              Plural(busy.load(), "file", "files") + " in progress");
            }
        });
        auto worker = [&] {
            Object obj;
            while (!StopRequested()) {
                ++busy;
                const std::size_t k = next++;
                if (k >= work.size()) {
                    --busy;
                    break;
                }
                const std::size_t index = work[k];
                ZAVJobRunItem(job.get(), obj.get(), index, &stop);
                ZAVJobItem item = Item(job.get(), index);
                if (item.state == ZAV_ITEM_WRITTEN && IsStandardStream(item.output)) {
                    if (auto error = WriteStandardOutput(item.bytes, item.size)) {
                        ZAVJobRecordItem(job.get(), index, ZAV_ITEM_FAILED, -1, 1, error->c_str());
                        item = Item(job.get(), index);
                    }
                }
                --busy;
                if (item.state == ZAV_ITEM_FAILED) {
                    const std::string line = item.message;
                    progress.Finished(item.input, item.output, &line);
                } else if (item.state == ZAV_ITEM_WRITTEN) {
                    progress.Finished(item.input, item.output, nullptr);
                } else if (item.state == ZAV_ITEM_SKIPPED) {
                    // The output appeared after the plan (--no-clobber): kept.
                    progress.Finished(item.input, item.output, nullptr, true);
                    if (!settings.summary && verbosity != Verbosity::kQuiet) {
                        std::printf("skipped: %s exists (--no-clobber)\n",
                                    Printable(item.output).c_str());
                    }
                }
            }
        };
        const std::size_t workers = std::clamp<std::size_t>(settings.run.jobs, 1, work.size());
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
    ZAVJobCounts counts{};
    ZAVJobGetCounts(job.get(), &counts);
    const bool stopped = StopRequested();
    if (settings.summary && (verbosity != Verbosity::kQuiet || counts.failed != 0)) {
        const std::string command(settings.command);
        std::fputs(
            ZAVJobSummary(job.get(), command.c_str(), stopped ? SignalName(StopSignal()) : nullptr),
            stdout);
    } else if (!settings.summary && stopped) {
        PrintError(std::string("stopped by ") + SignalName(StopSignal()) +
                   (counts.written != 0 ? "" : "; nothing was written"));
    }
    if (stopped) {
        return StopExitStatus();
    }
    return counts.failed != 0 ? kExitFailed : kExitOk;
}

int RunJob(const Json &job, const BatchSettings &settings) {
    return RunJobText(job.dump(-1, ' ', false, Json::error_handler_t::replace), settings);
}

}  // namespace zavtool
