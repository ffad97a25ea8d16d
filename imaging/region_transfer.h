// Moving the pixels of one region into another: copied when the sizes match, scaled otherwise.
#pragma once

#include "imaging/pixel_region.h"

namespace zav {

// Copies (equal sizes) or scales by NearestResize (different sizes) src into dst; both have the
// same pixel size and widths and heights of at least 1. Only the pixel bytes of dst's rows are
// written. Regions that overlap behave as if src were read whole before dst is written. False,
// with nothing written, when a temporary copy for overlapping regions cannot be allocated.
bool TransferRegion(const PixelRegion &src, const PixelRegion &dst) noexcept;

}  // namespace zav
