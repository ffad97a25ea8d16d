// Boxes drawn on a picture: the component's marker around a region, or exactly the rectangle a
// detector found, with its label (and score) on a filled tab above it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "zavimage/zavimage.h"

namespace zav::job {

struct Steps;

// A box where it lands on the final picture, with what the detector said of it.
struct BoxToDraw {
    ZAVImageRect box{};
    std::string label;
    std::string color;  // a colour name or #RRGGBB; empty: the job's box colour
    std::optional<double> score;
    bool detected = false;  // from a detector (drawn as a rectangle unless asked otherwise)
};

// Draws the boxes in order; returns why a label could not be drawn.
std::optional<std::string> DrawBoxes(ZAVImageObject *obj, const ZAVImageStruct &image,
                                     const std::vector<BoxToDraw> &boxes, const Steps &steps);

// The rectangle's band, `width` pixels inward from its edges, filled with 0xRRGGBB (on a gray
// picture, its luma), cut at the picture's edges.
void FillBand(const ZAVImageStruct &image, const ZAVImageRect &box, int32_t width, uint32_t rgb);

}  // namespace zav::job
