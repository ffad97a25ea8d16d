#include "imaging/region_transfer.h"

#include <cstring>
#include <memory>
#include <new>

#include "imaging/nearest_resize.h"

namespace zav {
namespace {

void CopyRows(const PixelRegion &src, const PixelRegion &dst) noexcept {
    const auto rowBytes = static_cast<std::size_t>(dst.RowBytes());
    if (src.stride == dst.stride && src.stride == static_cast<int64_t>(rowBytes)) {
        // Rows without padding lie back to back: one copy for the whole block.
        std::memcpy(dst.data, src.data, rowBytes * static_cast<std::size_t>(dst.height));
        return;
    }
    for (int32_t y = 0; y < dst.height; ++y) {
        std::memcpy(dst.Row(y), src.Row(y), rowBytes);
    }
}

}  // namespace

bool TransferRegion(const PixelRegion &src, const PixelRegion &dst) noexcept {
    if (src.pixelBytes != dst.pixelBytes) {
        return false;
    }
    const bool sameSize = src.width == dst.width && src.height == dst.height;
    PixelRegion from = src;
    std::unique_ptr<uint8_t[]> staged;
    if (RegionsOverlap(src, dst)) {
        if (sameSize && src.data == dst.data && src.stride == dst.stride) {
            return true;  // the region onto itself
        }
        // Read the source whole first, into rows without padding.
        const auto rowBytes = static_cast<std::size_t>(src.RowBytes());
        staged.reset(new (std::nothrow) uint8_t[rowBytes * static_cast<std::size_t>(src.height)]);
        if (!staged) {
            return false;
        }
        for (int32_t y = 0; y < src.height; ++y) {
            std::memcpy(staged.get() + rowBytes * static_cast<std::size_t>(y), src.Row(y),
                        rowBytes);
        }
        from.data = staged.get();
        from.stride = static_cast<int64_t>(rowBytes);
    }
    if (sameSize) {
        CopyRows(from, dst);
        return true;
    }
    return NearestResize(from, dst);
}

}  // namespace zav
