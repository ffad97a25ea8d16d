// Copying a rectangle of one buffer into another: where a copy rectangle may lie inside an image.
#pragma once

#include <cstdint>

#include "zavimage/zavimage.h"

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

// Copies (or scales) the source rectangle, kept inside the source, into the destination
// rectangle, kept inside the destination (taken as 8-bit, 3 channels); returns 0.
int32_t CopyImageRegion(const ZAVImageStruct *psourceImage, int32_t sx, int32_t sy, int32_t swidth,
                        int32_t sheight, const ZAVImageStruct *pdestImage, int32_t dx, int32_t dy,
                        int32_t dwidth, int32_t dheight);

}  // namespace zav
