// Turning a picture upright by the orientation its camera recorded (EXIF's 1 to 8): mirrored,
// turned by a half or a quarter, transposed.
#pragma once

#include <cstdint>

#include "imaging/buffer/image_record.h"

namespace zav {

// Whether an orientation swaps width and height (5 to 8).
inline bool OrientationTransposes(int32_t orientation) noexcept {
    return orientation >= 5 && orientation <= 8;
}

// Writes src turned upright by `orientation` into dst: 1 copies, 2 mirrors left to right, 3 turns
// by a half, 4 mirrors top to bottom, 5 transposes, 6 turns a quarter clockwise, 7 transposes
// across the other diagonal, 8 turns a quarter counterclockwise. dst has src's depth and channels
// and its size (transposed for 5 to 8) and shares no byte with it. False, nothing written,
// otherwise.
bool Orient(const ImageHeader &src, const ImageHeader &dst, int32_t orientation);

}  // namespace zav
