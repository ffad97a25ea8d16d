// The C interface of jobs: nothing thrown across it, nothing printed.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "imaging/buffer/block_registry.h"
#include "job/file_reasons.h"
#include "job/job.h"
#include "job/option_names.h"
#include "job/output_folder.h"
#include "job/printable.h"
#include "job/summary.h"
#include "job/values.h"
#include "job/work.h"
#include "zavimage/job.h"

namespace {

// Runs `work`, turning an exception into `failed`.
template <typename Work>
int32_t Guard(int32_t failed, Work &&work) {
    try {
        return work();
    } catch (const std::bad_alloc &) {
        return ZAV_JOB_NO_MEMORY;
    } catch (...) {
        return failed;
    }
}

bool Planned(const ZAVJob *job) {
    return job != nullptr && job->status == ZAV_JOB_OK && job->plan.has_value();
}

// Copies text into a caller's buffer of `capacity` bytes, cut to fit, NUL-terminated.
void CopyOut(const std::string &text, char *out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) {
        return;
    }
    const std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

extern "C" {

ZAV_API ZAVJob *ZAVJobCreate(const char *json) {
    try {
        return new ZAVJob(json);
    } catch (...) {
        return nullptr;
    }
}

ZAV_API ZAVJob *ZAVJobImport(const char *json) {
    try {
        return new ZAVJob(json, ZAVJob::Origin::kExport);
    } catch (...) {
        return nullptr;
    }
}

ZAV_API void ZAVJobDestroy(ZAVJob *job) {
    delete job;
}

ZAV_API int32_t ZAVJobStatus(const ZAVJob *job) {
    return job == nullptr ? ZAV_JOB_BAD_CALL : job->status;
}

ZAV_API const char *ZAVJobMessage(const ZAVJob *job) {
    return job == nullptr ? "" : job->message.c_str();
}

ZAV_API const char *ZAVJobOptionMessage(ZAVJob *job) {
    if (job == nullptr) {
        return "";
    }
    try {
        job->optionMessage = zav::job::AsOptions(job->message);
        return job->optionMessage.c_str();
    } catch (...) {
        return job->message.c_str();
    }
}

ZAV_API int32_t ZAVJobRefusal(const ZAVJob *job) {
    return job == nullptr ? ZAV_REFUSED_NONE : job->refusal;
}

ZAV_API int32_t ZAVJobPlan(ZAVJob *job) {
    if (job == nullptr) {
        return ZAV_JOB_BAD_CALL;
    }
    return Guard(ZAV_JOB_BAD_CALL, [&] {
        const zav::job::Streams streams{::isatty(STDIN_FILENO) == 1, ::isatty(STDOUT_FILENO) == 1};
        return job->Plan(streams);
    });
}

ZAV_API int32_t ZAVJobNeedsStandardInput(const ZAVJob *job) {
    if (!Planned(job)) {
        return 0;
    }
    const zav::job::Description &d = job->description;
    if (d.steps.copy && zav::job::IsStandardStream(d.steps.copy->source)) {
        return 1;
    }
    for (const zav::job::Item &item : job->plan->items) {
        if (!item.planned && !item.memory && zav::job::IsStandardStream(item.input)) {
            return 1;
        }
    }
    return 0;
}

ZAV_API int32_t ZAVJobSetStandardInput(ZAVJob *job, const void *bytes, size_t size) {
    if (job == nullptr || (bytes == nullptr && size != 0)) {
        return ZAV_JOB_BAD_CALL;
    }
    return Guard(ZAV_JOB_BAD_CALL, [&] {
        const auto *b = static_cast<const uint8_t *>(bytes);
        job->standardInput.assign(b, b + size);
        job->standardInputGiven = true;
        return ZAV_JOB_OK;
    });
}

ZAV_API int32_t ZAVJobSetInputBytes(ZAVJob *job, size_t input, const void *bytes, size_t size) {
    if (job == nullptr || input >= job->memoryInputs.size() ||
        !job->description.inputs[input].memory || (bytes == nullptr && size != 0)) {
        return ZAV_JOB_BAD_CALL;
    }
    job->memoryInputs[input] = std::span<const uint8_t>(static_cast<const uint8_t *>(bytes), size);
    return ZAV_JOB_OK;
}

ZAV_API int32_t ZAVJobMakeFolders(ZAVJob *job) {
    if (!Planned(job)) {
        return ZAV_JOB_BAD_CALL;
    }
    return Guard(ZAV_JOB_BAD_CALL, [&] {
        const zav::job::Description &d = job->description;
        for (const std::string &below : job->plan->folders) {
            std::string failure;
            if (!zav::job::OpenOutputFolder(d.outDir, below, true, failure)) {
                job->message = "cannot make the output folder " + failure;
                return ZAV_JOB_FAILED;
            }
        }
        // A staging copy that a killed save left goes with the next run that plans its name (in
        // the process that planned it: a worker's saves may be running beside its workers').
        for (const zav::job::Item &item : job->plan->items) {
            if (job->imported) {
                break;
            }
            if (item.output.empty() || zav::job::IsStandardStream(item.output) ||
                (item.planned && item.state != ZAV_ITEM_SKIPPED)) {
                continue;
            }
            std::string failure;
            const std::filesystem::path output(item.output);
            const auto folder =
                d.outDir.empty()
                    ? zav::job::OpenOutputFolder(
                          output.has_parent_path() ? output.parent_path().string() : ".", "", false,
                          failure)
                    : zav::job::OpenOutputFolder(d.outDir, item.below, false, failure);
            if (folder) {
                ZAVRemoveStagingAt(folder->Fd(), output.filename().c_str());
            }
        }
        return ZAV_JOB_OK;
    });
}

ZAV_API size_t ZAVJobItemCount(const ZAVJob *job) {
    return Planned(job) ? job->plan->items.size() : 0;
}

ZAV_API int32_t ZAVJobGetItem(const ZAVJob *job, size_t index, ZAVJobItem *out) {
    if (!Planned(job) || out == nullptr || index >= job->plan->items.size()) {
        return ZAV_JOB_BAD_CALL;
    }
    const zav::job::Item &item = job->plan->items[index];
    out->state = item.state;
    out->status = item.status;
    out->aboutOutput = item.aboutOutput ? 1 : 0;
    out->planned = item.planned ? 1 : 0;
    out->input = item.input.c_str();
    out->output = item.output.c_str();
    out->reason = item.reason.c_str();
    out->message = item.message.c_str();
    out->bytes = item.bytes.empty() ? nullptr : item.bytes.data();
    out->size = item.bytes.size();
    out->source = item.source;
    return ZAV_JOB_OK;
}

ZAV_API int32_t ZAVJobRunItem(ZAVJob *job, ZAVImageObject *obj, size_t index, const int32_t *stop) {
    if (!Planned(job) || obj == nullptr || index >= job->plan->items.size() ||
        job->plan->items[index].planned) {
        return ZAV_JOB_BAD_CALL;
    }
    zav::job::Item &item = job->plan->items[index];
    if (item.memory && item.source >= job->memoryInputs.size()) {
        return ZAV_JOB_BAD_CALL;
    }
    try {
        zav::job::MemoryInputs memory;
        memory.standardInput = job->standardInput;
        memory.standardInputGiven = job->standardInputGiven;
        if (item.memory) {
            const auto &given = job->memoryInputs[item.source];
            memory.itemGiven = given.has_value();
            if (given) {
                memory.item = *given;
            }
        } else if (zav::job::IsStandardStream(item.input)) {
            memory.item = memory.standardInput;
            memory.itemGiven = memory.standardInputGiven;
        }
        zav::job::WorkOnItem(obj, job->description, item, memory, stop);
    } catch (...) {
        item.state = ZAV_ITEM_FAILED;
        item.status = ZAV_FILE_NO_MEMORY;
        item.aboutOutput = false;
        item.reason = "out of memory";
        item.message = zav::job::ItemMessage(item);
    }
    return ZAV_JOB_OK;
}

ZAV_API int32_t ZAVJobRecordItem(ZAVJob *job, size_t index, int32_t state, int32_t status,
                                 int32_t aboutOutput, const char *reason) {
    if (!Planned(job) || index >= job->plan->items.size() || state < ZAV_ITEM_PENDING ||
        state > ZAV_ITEM_DISCARDED) {
        return ZAV_JOB_BAD_CALL;
    }
    return Guard(ZAV_JOB_BAD_CALL, [&] {
        zav::job::Item &item = job->plan->items[index];
        item.state = state;
        item.status = status;
        item.aboutOutput = aboutOutput != 0;
        item.reason = state == ZAV_ITEM_FAILED && reason != nullptr ? reason : "";
        item.message = state == ZAV_ITEM_FAILED ? zav::job::ItemMessage(item) : std::string();
        return ZAV_JOB_OK;
    });
}

ZAV_API char *ZAVJobExport(const ZAVJob *job) {
    if (!Planned(job)) {
        return nullptr;
    }
    try {
        const std::string text = job->Export();
        char *block = static_cast<char *>(std::malloc(text.size() + 1));
        if (block == nullptr) {
            return nullptr;
        }
        std::memcpy(block, text.c_str(), text.size() + 1);
        // Recorded as the core records its own memory blocks, for ZAVFreeMemory.
        if (!zav::RecordBlock(block, zav::BlockKind::kMemory)) {
            std::free(block);
            return nullptr;
        }
        return block;
    } catch (...) {
        return nullptr;
    }
}

ZAV_API int32_t ZAVJobGetCounts(const ZAVJob *job, ZAVJobCounts *counts) {
    if (!Planned(job) || counts == nullptr) {
        return ZAV_JOB_BAD_CALL;
    }
    *counts = zav::job::CountItems(*job->plan);
    return ZAV_JOB_OK;
}

ZAV_API const char *ZAVJobSummary(ZAVJob *job, const char *command, const char *stoppedBy) {
    if (!Planned(job)) {
        return "";
    }
    try {
        job->summary = zav::job::SummaryText(*job->plan, command == nullptr ? "" : command,
                                             stoppedBy == nullptr ? "" : stoppedBy);
        return job->summary.c_str();
    } catch (...) {
        return "";
    }
}

ZAV_API int32_t ZAVJobApplySteps(const ZAVJob *job, ZAVImageObject *obj, ZAVImageStruct *image,
                                 char *message, size_t capacity) {
    CopyOut("", message, capacity);
    if (job == nullptr || job->status != ZAV_JOB_OK || obj == nullptr || image == nullptr ||
        image->data == nullptr || image->width < 1 || image->height < 1 ||
        image->depth != ZAV_DEPTH_8U || image->channels == 2 || image->channels < 1 ||
        image->channels > 4 || job->description.steps.copy) {
        return ZAV_JOB_BAD_CALL;
    }
    return Guard(ZAV_JOB_BAD_CALL, [&] {
        zav::job::FrameSizes sizes;
        if (auto miss = zav::job::StepsMiss(job->description.steps, {image->width, image->height},
                                            1, sizes)) {
            CopyOut(*miss, message, capacity);
            return ZAV_JOB_MISSES;
        }
        zav::job::Frame frame;
        frame.facts.width = image->width;
        frame.facts.height = image->height;
        frame.facts.index = frame.facts.count = 1;
        if (auto failure =
                zav::job::ApplySteps(obj, *image, job->description.steps, sizes, frame, nullptr)) {
            CopyOut(*failure, message, capacity);
            return ZAV_JOB_FAILED;
        }
        return ZAV_JOB_OK;
    });
}

ZAV_API int32_t ZAVJobMeasureCaption(const ZAVJob *job, ZAVImageObject *obj, size_t caption,
                                     int32_t width, int32_t height, ZAVTextMetrics *metrics) {
    if (job == nullptr || job->status != ZAV_JOB_OK || obj == nullptr || metrics == nullptr ||
        caption >= job->description.steps.captions.size()) {
        return ZAV_TEXT_REFUSED;
    }
    try {
        return zav::job::MeasureCaption(obj, job->description.steps.captions[caption],
                                        {width, height}, *metrics);
    } catch (...) {
        return ZAV_TEXT_INCOMPLETE;
    }
}

ZAV_API int32_t ZAVJobQuality(const ZAVJob *job, float *quality) {
    if (job == nullptr || job->status != ZAV_JOB_OK || quality == nullptr) {
        return ZAV_JOB_BAD_CALL;
    }
    *quality = job->description.quality;
    return ZAV_JOB_OK;
}

ZAV_API int32_t ZAVJobColor(const char *text, uint32_t *rgb) {
    if (text == nullptr || rgb == nullptr) {
        return ZAV_JOB_BAD_CALL;
    }
    return Guard(ZAV_JOB_BAD_CALL, [&] {
        if (!zav::job::IsColorName(text)) {
            return ZAV_JOB_REFUSED;
        }
        *rgb = zav::job::ToRgb("colour", zav::job::Json(text));
        return ZAV_JOB_OK;
    });
}

ZAV_API const char *ZAVFileFailureText(ZAVImageObject *obj, const char *path, int32_t writing) {
    if (obj == nullptr) {
        return ZAVFileStatusText(ZAV_FILE_OK);
    }
    if (path == nullptr) {
        return ZAVFileStatusText(ZAVGetFileStatus(obj));
    }
    try {
        return writing != 0 ? zav::job::WriteFailure(obj, path) : zav::job::ReadFailure(obj, path);
    } catch (...) {
        return ZAVFileStatusText(ZAVGetFileStatus(obj));
    }
}

ZAV_API size_t ZAVPrintableName(const char *name, char *out, size_t capacity) {
    try {
        const std::string text = zav::job::Printable(name == nullptr ? "" : name);
        CopyOut(text, out, capacity);
        return text.size();
    } catch (...) {
        CopyOut("", out, capacity);
        return 0;
    }
}

ZAV_API size_t ZAVJobProgressLine(size_t done, size_t total, size_t failed, const char *current,
                                  size_t columns, char *out, size_t capacity) {
    try {
        const std::string line = zav::job::ProgressLine(
            done, total, failed, zav::job::Printable(current == nullptr ? "" : current), columns);
        CopyOut(line, out, capacity);
        return line.size();
    } catch (...) {
        CopyOut("", out, capacity);
        return 0;
    }
}

}  // extern "C"
