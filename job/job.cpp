#include "job/job.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "job/json_text.h"
#include "job/usage_error.h"

namespace {

using zav::job::Json;

// A whole number of the plan within T's range (nlohmann's get<T> would wrap one beyond it).
template <typename T>
T Whole(const Json &value, const char *name) {
    bool fits = false;
    if (value.is_number_unsigned()) {
        fits = value.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<T>::max());
    } else if (value.is_number_integer()) {
        const int64_t v = value.get<int64_t>();
        fits = std::is_signed_v<T> ? v >= static_cast<int64_t>(std::numeric_limits<T>::min()) &&
                                         v <= static_cast<int64_t>(std::numeric_limits<T>::max())
                                   : v >= 0;
    }
    if (!fits) {
        throw zav::job::UsageError(std::string("plan: ") + name + ": not a whole number in range");
    }
    return value.get<T>();
}

// Takes back the plan a job's export holds.
zav::job::Plan ReadPlan(const Json &value) {
    zav::job::Plan plan;
    plan.subfolders = Whole<std::size_t>(value.at("subfolders"), "subfolders");
    plan.otherFiles = Whole<std::size_t>(value.at("other_files"), "other_files");
    plan.unusedDetections = Whole<std::size_t>(value.at("unused_detections"), "unused_detections");
    for (const Json &i : value.at("items")) {
        zav::job::Item item;
        item.input = zav::job::ToName("plan", i.at("input"));
        if (!i.at("output").is_string() || !i.at("output").get<std::string>().empty()) {
            item.output = zav::job::ToName("plan", i.at("output"));
        }
        item.source = Whole<std::size_t>(i.at("source"), "source");
        item.memory = i.at("memory").get<bool>();
        item.planned = i.at("planned").get<bool>();
        item.state = Whole<int32_t>(i.at("state"), "state");
        item.status = Whole<int32_t>(i.at("status"), "status");
        item.aboutOutput = i.at("about_output").get<bool>();
        item.reason = i.at("reason").get<std::string>();
        item.index = Whole<std::size_t>(i.at("index"), "index");
        item.count = Whole<std::size_t>(i.at("count"), "count");
        for (const Json &b : i.at("detections")) {
            zav::job::Detection det;
            det.box = ZAVImageRect{Whole<int32_t>(b.at("x"), "x"), Whole<int32_t>(b.at("y"), "y"),
                                   Whole<int32_t>(b.at("w"), "w"), Whole<int32_t>(b.at("h"), "h")};
            det.label = b.value("label", std::string());
            det.color = b.value("color", std::string());
            if (b.contains("score")) {
                det.score = b.at("score").get<double>();
            }
            item.detections.push_back(std::move(det));
        }
        plan.items.push_back(std::move(item));
    }
    return plan;
}

}  // namespace

ZAVJob::ZAVJob(const char *json, Origin origin) {
    try {
        // An export lists every item of its batch: it is bounded as a block of the library is.
        const std::size_t limit = origin == Origin::kExport ? std::size_t{ZAV_MAX_BLOCK_BYTES}
                                                            : std::size_t{ZAV_JOB_MAX_BYTES};
        if (json != nullptr && strnlen(json, limit + 1) > limit) {
            throw zav::job::UsageError("the job is larger than " + std::to_string(limit >> 20) +
                                       " MiB");
        }
        document = zav::job::ParseJsonText(json == nullptr ? "" : json, "the job");
    } catch (const zav::job::UsageError &e) {
        status = ZAV_JOB_REFUSED;
        refusal = e.Kind();
        message = e.what();
        return;
    }
    try {
        description = zav::job::ReadDescription(document);
        memoryInputs.resize(description.inputs.size());
        const bool planned = document.contains("plan");
        if (origin == Origin::kDocument && planned) {
            throw zav::job::UsageError(
                "plan: a planned job is taken only from the process that planned it "
                "(ZAVJobImport); plan the job instead");
        }
        if (origin == Origin::kExport) {
            if (!planned) {
                throw zav::job::UsageError("plan: missing (not a job that ZAVJobExport wrote)");
            }
            zav::job::Plan read = ReadPlan(document["plan"]);
            document.erase("plan");
            zav::job::CheckExportedPlan(description, read);
            plan = std::move(read);
            imported = true;
        }
    } catch (const zav::job::UsageError &e) {
        status = ZAV_JOB_REFUSED;
        refusal = e.Kind();
        message = e.what();
    } catch (const Json::exception &e) {
        status = ZAV_JOB_REFUSED;
        refusal = ZAV_REFUSED_VALUE;
        message = std::string("plan: not a plan this library wrote: ") + e.what();
    }
}

int32_t ZAVJob::Plan(const zav::job::Streams &streams) {
    if (status != ZAV_JOB_OK) {
        return status;
    }
    if (plan) {
        return ZAV_JOB_OK;
    }
    try {
        plan = zav::job::MakePlan(description, streams);
    } catch (const zav::job::UsageError &e) {
        status = ZAV_JOB_REFUSED;
        refusal = e.Kind();
        message = e.what();
    }
    return status;
}

std::string ZAVJob::Export() const {
    Json out = document;
    Json items = Json::array();
    for (const zav::job::Item &item : plan->items) {
        Json detections = Json::array();
        for (const zav::job::Detection &d : item.detections) {
            Json b = {{"x", d.box.x},      {"y", d.box.y},     {"w", d.box.width},
                      {"h", d.box.height}, {"label", d.label}, {"color", d.color}};
            if (d.score) {
                b["score"] = *d.score;
            }
            detections.push_back(std::move(b));
        }
        items.push_back(
            {{"index", item.index},
             {"count", item.count},
             {"detections", std::move(detections)},
             {"input", zav::job::NameJson(item.input)},
             {"output", item.output.empty() ? Json("") : zav::job::NameJson(item.output)},
             {"source", item.source},
             {"memory", item.memory},
             {"planned", item.planned},
             {"state", item.planned ? item.state : ZAV_ITEM_PENDING},
             {"status", item.planned ? item.status : 0},
             {"about_output", item.planned && item.aboutOutput},
             {"reason", item.planned ? item.reason : std::string()}});
    }
    out["plan"] = {{"items", std::move(items)},
                   {"subfolders", plan->subfolders},
                   {"other_files", plan->otherFiles},
                   {"unused_detections", plan->unusedDetections}};
    return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}
