// The options that describe the steps of the typical job, each value checked before any work.
#include <string>

#include "tools/zavimage/pipeline.h"
#include "tools/zavimage/quality.h"

namespace zavtool {

bool ReadStepOption(std::string_view option, ArgReader &args, Steps &steps,
                    std::optional<Caption> &pendingCaption) {
    auto caption = [&]() -> Caption & {
        if (!pendingCaption) {
            pendingCaption.emplace();
        }
        return *pendingCaption;
    };
    if (option == "--text") {
        caption().text = std::string(args.Value(option));
        if (caption().text.empty()) {
            throw UsageError("--text: the caption is empty");
        }
    } else if (option == "--at") {
        caption().at = ParsePoint(option, args.Value(option));
    } else if (option == "--size") {
        caption().size = ParseFloatIn(option, args.Value(option), 1.0f, 4096.0f);
    } else if (option == "--space") {
        caption().space = ParseFloatIn(option, args.Value(option), 0.0f, 10.0f);
    } else if (option == "--text-color") {
        caption().color = ParseTextColor(option, args.Value(option));
    } else if (option == "--box") {
        steps.boxes.push_back(ParseRegion(option, args.Value(option)));
    } else if (option == "--box-color") {
        steps.boxColor = ParseBoxColor(option, args.Value(option));
    } else if (option == "--resize") {
        steps.resize = ParseResize(option, args.Value(option));
    } else if (option == "--flip") {
        args.Flag(option);
        steps.flip = true;
    } else if (option == "--color") {
        args.Flag(option);
        steps.color = true;
    } else if (option == "--quality" || option == "--jpeg-quality") {
        if (steps.quality) {
            throw UsageError("give --quality or --jpeg-quality once");
        }
        steps.quality = option == "--quality" ? ParseQuality(option, args.Value(option))
                                              : ParseJpegPercent(option, args.Value(option));
    } else {
        return false;
    }
    return true;
}

void FinishStepOptions(Steps &steps, std::optional<Caption> &pendingCaption) {
    if (pendingCaption) {
        if (pendingCaption->text.empty()) {
            throw UsageError("caption options need --text");
        }
        steps.caption = pendingCaption;
    }
}

}  // namespace zavtool
