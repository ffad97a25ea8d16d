#include "job/description.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "job/printable.h"
#include "job/usage_error.h"
#include "zavimage/job.h"

namespace zav::job {
namespace {

const std::set<std::string, std::less<>> kFields = {
    "version", "inputs",        "recursive",    "folders",   "output",     "out_dir",
    "format",  "quality",       "jpeg_quality", "color",     "no_clobber", "in_place",
    "flip",    "resize",        "captions",     "boxes",     "box_color",  "copy",
    "plan",    "name",          "detections",   "min_score", "box_style",  "box_width",
    "label",   "resize_filter", "auto_orient"};

void ReadInputs(const Json &value, Description &d) {
    if (!value.is_array()) {
        Refuse("inputs", value, "a list of files and folders");
    }
    for (const Json &input : value) {
        if (input.is_string() || (input.is_object() && input.contains("hex"))) {
            d.inputs.push_back({ToName("inputs", input), false});
        } else if (input.is_object() && input.contains("name") &&
                   input.value("memory", false) == true && input.size() == 2) {
            d.inputs.push_back({ToName("inputs", input["name"]), true});
        } else {
            Refuse("inputs", input, "a file or folder name, or {\"name\": ..., \"memory\": true}");
        }
    }
}

void ReadCopy(const Json &value, Steps &steps) {
    if (!value.is_object()) {
        Refuse("copy", value, "{\"source\": ..., \"from\": ..., \"to\": ...}");
    }
    CopyStep copy;
    for (const auto &[key, v] : value.items()) {
        if (key == "source") {
            copy.source = ToName("copy.source", v);
        } else if (key == "from") {
            copy.from = ToRegion("from", v);
        } else if (key == "to") {
            copy.to = ToRegion("to", v);
        } else {
            throw UsageError("copy." + Printable(key) + ": not a field of the copy step");
        }
    }
    if (copy.source.empty()) {
        throw UsageError("copy.source: the picture to copy from is missing");
    }
    steps.copy = std::move(copy);
}

}  // namespace

Description ReadDescription(const Json &doc) {
    if (!doc.is_object()) {
        throw UsageError("the job is not a JSON object");
    }
    for (const auto &[key, value] : doc.items()) {
        if (kFields.count(key) == 0) {
            throw UsageError(Printable(key) + ": not a field of a job");
        }
    }
    if (doc.contains("version")) {
        const int32_t version = IntIn("version", doc["version"], 1, INT32_MAX);
        if (version > ZAV_JOB_VERSION) {
            throw UsageError("version: " + std::to_string(version) +
                             " is newer than this library reads (" +
                             std::to_string(ZAV_JOB_VERSION) + ")");
        }
    }
    Description d;
    const auto flag = [&](const char *name, bool &into) {
        if (doc.contains(name)) {
            into = ToBool(name, doc[name]);
        }
    };
    if (doc.contains("inputs")) {
        ReadInputs(doc["inputs"], d);
    }
    flag("recursive", d.recursive);
    flag("folders", d.folders);
    flag("color", d.color);
    flag("no_clobber", d.noClobber);
    flag("in_place", d.inPlace);
    flag("flip", d.steps.flip);
    if (doc.contains("output") && !doc["output"].is_null()) {
        d.output = ToName("output", doc["output"]);
    }
    if (doc.contains("out_dir") && !doc["out_dir"].is_null()) {
        d.outDir = ToName("out_dir", doc["out_dir"]);
    }
    if (!d.output.empty() && !d.outDir.empty()) {
        throw UsageError("give either output (one input) or out_dir, not both");
    }
    if (doc.contains("format") && !doc["format"].is_null()) {
        d.format = ToFormat("format", doc["format"]);
        if (d.outDir.empty() && !IsStandardStream(d.output)) {
            throw UsageError(
                "format names the extension of files in out_dir or of the picture written to "
                "standard output (output \"-\"); an output file takes it from its extension");
        }
    }
    const bool hasQuality = doc.contains("quality") && !doc["quality"].is_null();
    const bool hasPercent = doc.contains("jpeg_quality") && !doc["jpeg_quality"].is_null();
    if (hasQuality && hasPercent) {
        throw UsageError("give quality or jpeg_quality once");
    }
    if (hasQuality) {
        d.quality = ToQuality("quality", doc["quality"]);
    } else if (hasPercent) {
        d.quality = ToJpegPercent("jpeg_quality", doc["jpeg_quality"]);
    }
    if (doc.contains("resize") && !doc["resize"].is_null()) {
        d.steps.resize = ToResize("resize", doc["resize"]);
    }
    if (doc.contains("captions")) {
        const Json &captions = doc["captions"];
        if (!captions.is_array()) {
            Refuse("captions", captions, "a list of captions");
        }
        for (std::size_t i = 0; i < captions.size(); ++i) {
            const std::string prefix =
                captions.size() > 1 ? "captions[" + std::to_string(i) + "]." : "";
            d.steps.captions.push_back(ReadCaption(captions[i], prefix));
        }
    }
    if (doc.contains("boxes")) {
        const Json &boxes = doc["boxes"];
        if (!boxes.is_array()) {
            Refuse("boxes", boxes, "a list of regions X,Y,W,H");
        }
        for (const Json &box : boxes) {
            d.steps.boxes.push_back(ToRegion("box", box));
        }
    }
    if (doc.contains("box_color")) {
        d.steps.boxColor = ToBoxColor("box_color", doc["box_color"]);
    }
    if (doc.contains("copy") && !doc["copy"].is_null()) {
        ReadCopy(doc["copy"], d.steps);
    }
    flag("auto_orient", d.steps.autoOrient);
    flag("label", d.steps.label);
    if (doc.contains("resize_filter") && !doc["resize_filter"].is_null()) {
        static constexpr std::string_view kFilters[] = {"nearest", "area", "linear", "cubic",
                                                        "lanczos"};
        const Json &value = doc["resize_filter"];
        const auto found = std::find(std::begin(kFilters), std::end(kFilters),
                                     value.is_string() ? value.get<std::string>() : "");
        if (found == std::end(kFilters)) {
            Refuse("resize_filter", value, "one of nearest, area, linear, cubic, lanczos");
        }
        d.steps.resizeFilter = static_cast<int32_t>(found - std::begin(kFilters));
    }
    if (doc.contains("box_style") && !doc["box_style"].is_null()) {
        const Json &value = doc["box_style"];
        const std::string style = value.is_string() ? value.get<std::string>() : "";
        if (style != "marker" && style != "rect") {
            Refuse("box_style", value, "marker or rect");
        }
        d.steps.boxStyle = style == "marker" ? BoxStyle::kMarker : BoxStyle::kRect;
    }
    if (doc.contains("box_width")) {
        d.steps.boxWidth = IntIn("box_width", doc["box_width"], 1, 64);
    }
    if (doc.contains("name") && !doc["name"].is_null()) {
        const std::string name = ToText("name", doc["name"]);
        d.name = Template::Read("name", name, true);
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
            Refuse("name", doc["name"], "a file name (the folder is out_dir's)");
        }
        if (d.outDir.empty()) {
            throw UsageError(
                "name names the files written to out_dir; an output file is named by output");
        }
    }
    if (doc.contains("detections") && !doc["detections"].is_null()) {
        d.detections = ToName("detections", doc["detections"]);
    }
    if (doc.contains("min_score") && !doc["min_score"].is_null()) {
        d.minScore = FloatIn("min_score", doc["min_score"], -1e9f, 1e9f);
        if (d.detections.empty()) {
            throw UsageError("min_score is for the boxes of a detections file");
        }
    }
    return d;
}

}  // namespace zav::job
