// Scaling with a filter that keeps detail (OpenCV's area, linear, cubic and Lanczos resampling),
// beside the component's exact nearest-neighbour rule.
#pragma once

#include <cstdint>

#include "imaging/buffer/image_record.h"

namespace zav {

enum class ResizeFilter { kArea = 1, kLinear = 2, kCubic = 3, kLanczos = 4 };

// Scales src into dst with cv::resize (INTER_AREA, INTER_LINEAR, INTER_CUBIC, INTER_LANCZOS4).
// Both are processable 8-bit headers of the same channel count (1, 3 or 4) that share no byte.
// Only the pixel bytes of dst's rows are written. False, with nothing written, otherwise.
bool FilteredResize(const ImageHeader &src, const ImageHeader &dst, ResizeFilter filter);

}  // namespace zav
