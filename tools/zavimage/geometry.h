// Sizes and places on a picture: the resize request (640x360, 640x, x360, 50%) and the checks that
// a caption start or a marked region lies on the picture.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/zavimage/args.h"

namespace zavtool {

// A new size: both sides, one side (the other keeps the aspect), or a percentage of both.
struct ResizeRequest {
    int32_t width = 0;     // 0: follows the height
    int32_t height = 0;    // 0: follows the width
    double percent = 0.0;  // above 0: both sides scaled by it
};

// WxH, Wx, xH or P% (P a number above 0). Refused: sides below 1, a missing number, no side.
ResizeRequest ParseResize(std::string_view option, std::string_view text);

// The size a picture of `source` gets: sides rounded to the nearest pixel, at least 1. None when
// the result would not be a picture the library can hold (beyond 2^31 - 1 per side or 1 GiB).
std::optional<Size> ResizedSize(const ResizeRequest &request, Size source);

// Why a caption start (column x, bottom row y) or a region misses a picture of `size`; none when
// it lies on the picture (a region partly on it counts).
std::optional<std::string> CaptionStartMisses(Point at, Size size);
std::optional<std::string> RegionMisses(const ZAVImageRect &region, Size size,
                                        std::string_view what);

}  // namespace zavtool
