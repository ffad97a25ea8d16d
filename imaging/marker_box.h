// The box drawn around a marked region: the region grown by a fifth of its width on the left and
// right and a third of its height above and below, kept at the image's left, top, right and
// bottom edges one side at a time.
#pragma once

#include <cstdint>

#include "zavimage/zavimage.h"

namespace zav {

// Corners as computed; x1 > x2 or y1 > y2 is possible and kept. 64-bit: no input overflows.
struct MarkerBox {
    int64_t x1 = 0;
    int64_t y1 = 0;
    int64_t x2 = 0;
    int64_t y2 = 0;
};

// Margins are width * 0.2 and height * (1/3) in double precision; each corner is truncated toward
// zero. x1 and y1 at or below 0 become 0; x2 at or past imageWidth becomes imageWidth - 1, y2 at or
// past imageHeight becomes imageHeight - 1. Call in round-to-nearest mode (RoundToNearestScope).
MarkerBox GrowMarkerBox(const ZAVImageRect &region, int32_t imageWidth,
                        int32_t imageHeight) noexcept;

}  // namespace zav
