// Create, release and clone on the caller's records, with the results the component returns.
#pragma once

#include <cstdint>

#include "zavimage/zavimage.h"

namespace zav {

// Fills the record with a new uncleared block of that geometry; returns 0.
int32_t CreateImageRecord(int32_t width, int32_t height, int32_t depth, int32_t channels,
                          ZAVImageStruct *imageStruct) noexcept;
// Frees the record's block when it is a live one the library handed out (then clears data and
// returns 0); 1 for any other block.
int32_t ReleaseImageRecord(ZAVImageStruct **ppImage) noexcept;
// Fills the destination with a copy of the source (geometry, stride and padding); returns 1.
int32_t CloneImageRecord(const ZAVImageStruct *psourceImage, ZAVImageStruct *pdestImage) noexcept;

}  // namespace zav
