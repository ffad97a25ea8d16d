#include "job/summary.h"

#include <map>

namespace zav::job {
namespace {

std::string Plural(std::size_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

ZAVJobCounts CountItems(const Plan &plan) {
    ZAVJobCounts counts{};
    for (const Item &item : plan.items) {
        switch (item.state) {
            case ZAV_ITEM_WRITTEN:
                ++counts.written;
                break;
            case ZAV_ITEM_FAILED:
                ++counts.failed;
                break;
            case ZAV_ITEM_SKIPPED:
                ++counts.skipped;
                break;
            default:  // pending or discarded
                ++counts.notDone;
                break;
        }
    }
    counts.subfolders = plan.subfolders;
    counts.otherFiles = plan.otherFiles;
    return counts;
}

std::string SummaryText(const Plan &plan, std::string_view command, std::string_view stoppedBy) {
    const ZAVJobCounts counts = CountItems(plan);
    const bool stopped = !stoppedBy.empty();
    std::string text = std::string(command) + ": ";
    if (stopped) {
        text += "stopped by " + std::string(stoppedBy) + ": ";
    }
    text +=
        std::to_string(counts.written) + " succeeded, " + std::to_string(counts.failed) + " failed";
    if (counts.skipped != 0) {
        text += ", " + std::to_string(counts.skipped) + " skipped (output exists)";
    }
    if (stopped) {
        text += ", " + std::to_string(counts.notDone) + " not done";
    }
    text += "\n";
    if (plan.subfolders != 0 || plan.otherFiles != 0) {
        text += "  passed over in the folders:";
        if (plan.subfolders != 0) {
            text += " " + Plural(plan.subfolders, "subfolder", "subfolders") +
                    " (--recursive walks them)";
        }
        if (plan.otherFiles != 0) {
            text += std::string(plan.subfolders != 0 ? "," : "") + " " +
                    Plural(plan.otherFiles, "file that is not a picture by its name",
                           "files that are not pictures by their names");
        }
        text += "\n";
    }
    if (plan.unusedDetections != 0) {
        text += "  detections: " +
                Plural(plan.unusedDetections, "row for a file not in the batch",
                       "rows for files not in the batch") +
                "\n";
    }
    std::map<std::string, std::size_t> reasons;
    for (const Item &item : plan.items) {
        if (item.state == ZAV_ITEM_FAILED) {
            ++reasons[item.reason];
        }
    }
    for (const auto &[reason, count] : reasons) {
        text += "  " + std::to_string(count) + " x " + reason + "\n";
    }
    for (const Item &item : plan.items) {
        if (item.state == ZAV_ITEM_FAILED) {
            text += "  failed: " + item.message + "\n";
        }
    }
    return text;
}

}  // namespace zav::job
