// What the job does to each picture between its load and its save, in this order: turn upright
// (by its EXIF orientation), flip, resize, captions, boxes, a region of another picture copied in.
// Boxes are given in the source picture's coordinates and follow the turn, the flip and the
// resize. What a picture's header tells decides first whether the steps fit it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "job/caption_step.h"
#include "job/detections.h"
#include "job/template.h"
#include "job/values.h"

namespace zav::job {

// A region of another picture copied (and scaled) into a region of this one.
struct CopyStep {
    std::string source;  // "-": standard input
    std::optional<ZAVImageRect> from;
    std::optional<ZAVImageRect> to;
};

// How boxes are drawn: the component's marker (the region grown, 3 pixels thick) or exactly the
// rectangle, `boxWidth` pixels inward.
enum class BoxStyle { kMarker, kRect };

struct Steps {
    bool autoOrient = false;
    bool flip = false;
    std::optional<ResizeRequest> resize;
    int32_t resizeFilter = -1;  // ZAV_FILTER_*; -1: area when shrinking, linear when enlarging
    std::vector<Caption> captions;
    std::vector<ZAVImageRect> boxes;   // fixed boxes, in the source picture's coordinates
    int32_t boxColor = 1;              // red
    std::optional<BoxStyle> boxStyle;  // none: marker for fixed boxes, rect for detections
    int32_t boxWidth = 2;
    bool label = true;  // a detection's label (and score) on a tab above its box
    std::optional<CopyStep> copy;
};

// What one picture brings to the steps: its facts for the captions' fields, its detections, its
// recorded orientation.
struct Frame {
    FrameFacts facts;
    const std::vector<Detection> *detections = nullptr;
    int32_t orientation = 1;  // turned upright by it when the steps ask
};

// A picture's sizes: as stored, turned upright, after the resize.
struct FrameSizes {
    Size stored;
    Size oriented;
    Size final;
    int32_t orientation = 1;
};

// The size a picture of `source` gets: sides rounded to the nearest pixel, at least 1. None when
// the result would not be a picture the library can hold (beyond 2^31 - 1 per side or 1 GiB).
std::optional<Size> ResizedSize(const ResizeRequest &request, Size source);

// Why a region misses a picture of `size` (a region partly on it counts); none when it lies on it.
std::optional<std::string> RegionMisses(const ZAVImageRect &region, Size size,
                                        std::string_view what);

// Why the steps do not fit a picture stored at `stored` with `orientation` (its sizes go to
// `sizes`): every fixed box must lie on the source picture, the caption starts on the final one.
std::optional<std::string> StepsMiss(const Steps &steps, Size stored, int32_t orientation,
                                     FrameSizes &sizes);

// The denominator (2, 4 or 8) of the reduced decode a picture of `sizes` may be loaded at: when the
// resize uses a filter other than nearest and shrinks to at most half the source each way, the
// smallest scale whose picture still covers the final size (turned as stored), the filter doing
// the rest. 1 otherwise: a full decode.
int32_t DecodeDenominator(const Steps &steps, const FrameSizes &sizes);

// A box of the source picture where it lands on the final one: turned, flipped and scaled as the
// picture is.
ZAVImageRect MapBox(const ZAVImageRect &box, const Steps &steps, const FrameSizes &sizes);

// A picture the copy step reads, loaded (with the channels it keeps in `gray`).
struct CopySource {
    ZAVImageStruct image{};
    bool gray = false;
};

// Applies the steps to a loaded picture of `sizes` (from StepsMiss); the copy step takes
// `copySource`. Turning and resizing replace `image` (the old buffer is released). Returns why a
// step failed.
std::optional<std::string> ApplySteps(ZAVImageObject *obj, ZAVImageStruct &image,
                                      const Steps &steps, const FrameSizes &sizes,
                                      const Frame &frame, const ZAVImageStruct *copySource);

}  // namespace zav::job
