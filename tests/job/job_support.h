// Jobs for the tests: made from JSON text and destroyed at the end of their scope, their items read
// back as plain values, and pictures written as netpbm files to feed them.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/netpbm.h"
#include "tests/support/picture.h"
#include "zavimage/job.h"

namespace zavtest {

struct JobDeleter {
    void operator()(ZAVJob *job) const { ZAVJobDestroy(job); }
};
using JobPtr = std::unique_ptr<ZAVJob, JobDeleter>;

// A JSON string holding `text` (the tests' names hold no control characters).
inline std::string Js(const std::string &text) {
    std::string out = "\"";
    for (const char c : text) {
        out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    }
    return out + "\"";
}

// Why the job was refused by ZAVJobCreate (or by ZAVJobPlan when `plan`), "" when it was not; the
// kind of refusal in *kind.
inline std::string Refusal(const std::string &json, bool plan = false, int32_t *kind = nullptr) {
    const JobPtr job(ZAVJobCreate(json.c_str()));
    if (plan && ZAVJobStatus(job.get()) == ZAV_JOB_OK) {
        ZAVJobPlan(job.get());
    }
    if (kind != nullptr) {
        *kind = ZAVJobRefusal(job.get());
    }
    return ZAVJobStatus(job.get()) == ZAV_JOB_OK ? "" : ZAVJobMessage(job.get());
}

// A planned job; null (the test failing) when it was refused.
inline JobPtr Planned(const std::string &json) {
    JobPtr job(ZAVJobCreate(json.c_str()));
    if (ZAVJobPlan(job.get()) != ZAV_JOB_OK) {
        ADD_FAILURE() << json << "\n  refused: " << ZAVJobMessage(job.get());
        return nullptr;
    }
    return job;
}

struct ItemView {
    int32_t state = 0;
    bool planned = false;
    std::string input, output, reason, message;
    bool operator==(const ItemView &) const = default;
    friend std::ostream &operator<<(std::ostream &os, const ItemView &i) {
        return os << "{" << i.state << (i.planned ? " planned " : " ") << i.input << " -> "
                  << i.output << ": " << i.message << "}";
    }
};

inline std::vector<ItemView> Items(const ZAVJob *job) {
    std::vector<ItemView> items;
    for (size_t i = 0; i < ZAVJobItemCount(job); ++i) {
        ZAVJobItem it{};
        EXPECT_EQ(ZAVJobGetItem(job, i, &it), ZAV_JOB_OK);
        items.push_back({it.state, it.planned != 0, it.input, it.output, it.reason, it.message});
    }
    return items;
}

// Writes Pattern(w, h, channels, seed) as a raw netpbm file.
inline Picture WritePicture(const std::string &path, int32_t w, int32_t h, int32_t channels = 3,
                            uint32_t seed = 1) {
    Picture p = Pattern(w, h, channels, seed);
    EXPECT_TRUE(WriteFile(path, ToNetpbm(p))) << path;
    return p;
}

// Works on every item the plan left to be worked on, with one object.
inline void RunAll(ZAVJob *job) {
    ZAVImageObject *obj = ZAVCreateObject();
    for (size_t i = 0; i < ZAVJobItemCount(job); ++i) {
        ZAVJobItem it{};
        if (ZAVJobGetItem(job, i, &it) == ZAV_JOB_OK && it.planned == 0) {
            EXPECT_EQ(ZAVJobRunItem(job, obj, i, nullptr), ZAV_JOB_OK);
        }
    }
    ZAVDestroyObject(obj);
}

// What ImageMagick reads from a file: "FORMAT CHANNELS TYPE" ("PNG gray Grayscale").
inline std::string ImageMagickSays(const std::string &path) {
    const std::string info = path + ".txt";
    EXPECT_TRUE(
        Shell("identify -format '%m %[channels] %[type]' " + Quote(path) + " > " + Quote(info)));
    const std::vector<uint8_t> text = ReadFile(info);
    return std::string(text.begin(), text.end());
}

}  // namespace zavtest
