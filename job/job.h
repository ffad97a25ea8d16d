// A job: its description, its plan, the pictures given in memory and how each item went. Read-only
// while items are worked on, each item by one thread.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "job/description.h"
#include "job/plan.h"
#include "job/values.h"

struct ZAVJob {
    // Where a document comes from: a user's job (which may not carry a plan), or the export of a
    // planned job (whose plan is checked against its description).
    enum class Origin { kDocument, kExport };

    // Reads a job document; a refused one keeps its reason in `message`. Throws only
    // std::bad_alloc.
    explicit ZAVJob(const char *json, Origin origin = Origin::kDocument);

    // Plans the job (once); a refusal is kept in `message`.
    int32_t Plan(const zav::job::Streams &streams);
    // The planned job as a document, plan included.
    std::string Export() const;

    int32_t status = ZAV_JOB_OK;
    int32_t refusal = ZAV_REFUSED_NONE;
    std::string message;
    std::string optionMessage;
    zav::job::Json document;
    zav::job::Description description;
    std::optional<zav::job::Plan> plan;
    bool imported = false;  // a worker's copy of a job planned elsewhere
    std::vector<uint8_t> standardInput;
    bool standardInputGiven = false;
    std::vector<std::optional<std::span<const uint8_t>>> memoryInputs;  // by place in "inputs"
    std::string summary;
};
