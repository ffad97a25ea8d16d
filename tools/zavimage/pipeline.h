// The typical job on one picture: load, flip, resize, caption, mark, save, in that order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/zavimage/cli.h"

namespace zavtool {

struct Caption {
    std::string text;  // UTF-8
    Point at{10, 40};
    float size = 24.0f;
    float space = 0.1f;
    int32_t color = 2;  // red
};

struct Steps {
    bool flip = false;
    std::optional<Size> resize;
    std::optional<Caption> caption;
    std::vector<ZAVImageRect> boxes;
    int32_t boxColor = 1;  // red
    std::optional<float> quality;
};

// Applies the steps after the load and before the save. Returns a reason on failure.
std::optional<FileError> ApplySteps(ZAVImageObject *obj, Image &image, const Steps &steps);

// Loads `in`, applies the steps and saves `out`, with one object. Returns a reason on failure.
std::optional<FileError> ProcessFile(ZAVImageObject *obj, const std::string &in,
                                     const std::string &out, const Steps &steps);

// Reads the options that describe steps (--text, --at, --size, --space, --text-color, --box,
// --box-color, --resize, --flip, --quality). Returns false when `option` is not one of them.
bool ReadStepOption(std::string_view option, ArgReader &args, Steps &steps,
                    std::optional<Caption> &pendingCaption);

}  // namespace zavtool
