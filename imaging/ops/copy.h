// Copying a rectangle of one buffer into another: where a copy rectangle may lie inside an image.
#pragma once

#include <cstdint>

namespace zav {

struct CopyRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Keeps a rectangle inside an image of imageWidth x imageHeight, each axis on its own: a negative
// origin moves to 0 and the extent stays; an extent that passes the right or bottom edge is cut to
// end exactly at the edge. False when nothing of the rectangle is left (a width or height of 0 or
// less, given or after the cut, which includes an origin at or beyond the right or bottom edge).
bool ClampCopyRect(CopyRect *rect, int32_t imageWidth, int32_t imageHeight) noexcept;

}  // namespace zav
