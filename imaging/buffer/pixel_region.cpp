#include "imaging/buffer/pixel_region.h"

#include <cstdint>

namespace zav {

PixelRegion WholeImage(const ImageHeader &header) noexcept {
    return SubRegion(header, 0, 0, header.width, header.height);
}

PixelRegion SubRegion(const ImageHeader &header, int32_t x, int32_t y, int32_t width,
                      int32_t height) noexcept {
    PixelRegion region;
    region.pixelBytes = header.nChannels * header.ElementBytes();
    region.stride = header.widthStep;
    region.width = width;
    region.height = height;
    region.data = header.Row(y) + int64_t{x} * region.pixelBytes;
    return region;
}

bool RegionsOverlap(const PixelRegion &a, const PixelRegion &b) noexcept {
    // Compared as integers: the two regions may lie in unrelated blocks.
    const auto aBegin = reinterpret_cast<uintptr_t>(a.data);
    const auto aEnd = reinterpret_cast<uintptr_t>(a.End());
    const auto bBegin = reinterpret_cast<uintptr_t>(b.data);
    const auto bEnd = reinterpret_cast<uintptr_t>(b.End());
    return aBegin < bEnd && bBegin < aEnd;
}

}  // namespace zav
