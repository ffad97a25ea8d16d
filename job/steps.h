// What the job does to each picture between its load and its save, in this order: flip, resize,
// captions, marker boxes, a region of another picture copied in. What a picture's header tells
// decides first whether the steps fit it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "job/caption_step.h"
#include "job/values.h"

namespace zav::job {

// A region of another picture copied (and scaled) into a region of this one.
struct CopyStep {
    std::string source;  // "-": standard input
    std::optional<ZAVImageRect> from;
    std::optional<ZAVImageRect> to;
};

struct Steps {
    bool flip = false;
    std::optional<ResizeRequest> resize;
    std::vector<Caption> captions;
    std::vector<ZAVImageRect> boxes;
    int32_t boxColor = 1;  // red
    std::optional<CopyStep> copy;
};

// The size a picture of `source` gets: sides rounded to the nearest pixel, at least 1. None when
// the result would not be a picture the library can hold (beyond 2^31 - 1 per side or 1 GiB).
std::optional<Size> ResizedSize(const ResizeRequest &request, Size source);

// Why a region misses a picture of `size` (a region partly on it counts); none when it lies on it.
std::optional<std::string> RegionMisses(const ZAVImageRect &region, Size size,
                                        std::string_view what);

// Why the steps do not fit a picture of `source` (the size after resizing is `final`): the
// caption starts and every box must lie on it after resizing.
std::optional<std::string> StepsMiss(const Steps &steps, Size source, Size &final);

// A picture the copy step reads, loaded (with the channels it keeps in `gray`).
struct CopySource {
    ZAVImageStruct image{};
    bool gray = false;
};

// Applies the steps to a loaded picture whose size after resizing is `final`; the copy step takes
// `copySource`. A resize replaces `image` (the old buffer is released). Returns why a step
// failed.
std::optional<std::string> ApplySteps(ZAVImageObject *obj, ZAVImageStruct &image,
                                      const Steps &steps, Size final,
                                      const ZAVImageStruct *copySource);

}  // namespace zav::job
