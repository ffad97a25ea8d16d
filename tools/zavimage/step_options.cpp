// The options that describe the steps of the typical job, each value checked before any work.
#include <string>
#include <utility>

#include "tools/zavimage/caption.h"
#include "tools/zavimage/display.h"
#include "tools/zavimage/image.h"
#include "tools/zavimage/pipeline.h"
#include "tools/zavimage/quality.h"

namespace zavtool {

bool ReadStepOption(std::string_view option, ArgReader &args, Steps &steps,
                    std::optional<Caption> &pendingCaption) {
    if (pendingCaption) {
        if (ReadCaptionOption(option, args, *pendingCaption)) {
            return true;
        }
    } else if (Caption fresh; ReadCaptionOption(option, args, fresh)) {
        pendingCaption = std::move(fresh);
        return true;
    }
    if (option == "--box") {
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
        // "--color red" is a caption colour given to the wrong option
        if (const std::optional<std::string_view> next = args.Peek();
            next && IsColorName(*next) && PathProblem(std::string(*next))) {
            throw UsageError(
                "--color takes no value (it saves gray pictures in colour); the "
                "caption's colour is --text-color " +
                Printable(*next));
        }
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
        FinishCaption(*pendingCaption);
        steps.caption = std::move(pendingCaption);
    }
}

}  // namespace zavtool
