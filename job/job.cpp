#include "job/job.h"

#include <nlohmann/json.hpp>

#include <cstring>

#include "job/json_text.h"
#include "job/usage_error.h"

namespace {

using zav::job::Json;

// Takes back the plan a job's export holds.
zav::job::Plan ReadPlan(const Json &value) {
    zav::job::Plan plan;
    plan.subfolders = value.at("subfolders").get<std::size_t>();
    plan.otherFiles = value.at("other_files").get<std::size_t>();
    plan.unusedDetections = value.value("unused_detections", std::size_t{0});
    for (const Json &i : value.at("items")) {
        zav::job::Item item;
        item.input = zav::job::ToName("plan", i.at("input"));
        if (!i.at("output").is_string() || !i.at("output").get<std::string>().empty()) {
            item.output = zav::job::ToName("plan", i.at("output"));
        }
        item.source = i.at("source").get<std::size_t>();
        item.memory = i.at("memory").get<bool>();
        item.planned = i.at("planned").get<bool>();
        item.state = i.at("state").get<int32_t>();
        item.status = i.at("status").get<int32_t>();
        item.aboutOutput = i.at("about_output").get<bool>();
        item.reason = i.at("reason").get<std::string>();
        item.index = i.value("index", std::size_t{0});
        item.count = i.value("count", std::size_t{0});
        for (const Json &b : i.value("detections", Json::array())) {
            zav::job::Detection det;
            det.box = ZAVImageRect{b.at("x").get<int32_t>(), b.at("y").get<int32_t>(),
                                   b.at("w").get<int32_t>(), b.at("h").get<int32_t>()};
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
        if (json != nullptr && strnlen(json, ZAV_JOB_MAX_BYTES + 1) > ZAV_JOB_MAX_BYTES) {
            throw zav::job::UsageError("the job is larger than " +
                                       std::to_string(ZAV_JOB_MAX_BYTES >> 20) + " MiB");
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
