#include "imaging/marker_box.h"

#include "imaging/round_to_nearest_scope.h"

namespace zav {

MarkerBox GrowMarkerBox(const ZAVImageRect &region, int32_t imageWidth,
                        int32_t imageHeight) noexcept {
    // Integers up to 2^33 are exact in a double; the right and bottom edges of the region are
    // formed in 64 bits so that no sum wraps.
    const double left = OpaqueDouble(static_cast<double>(region.x));
    const double top = OpaqueDouble(static_cast<double>(region.y));
    const double right = OpaqueDouble(static_cast<double>(int64_t{region.x} + region.width - 1));
    const double bottom = OpaqueDouble(static_cast<double>(int64_t{region.y} + region.height - 1));
    const double dx = OpaqueDouble(static_cast<double>(region.width)) * 0.2;
    const double dy = OpaqueDouble(static_cast<double>(region.height)) * (1.0 / 3.0);

    // Conversion to an integer truncates toward zero in every rounding mode; every value is
    // within +-2^33, so it fits.
    MarkerBox box;
    box.x1 = static_cast<int64_t>(left - dx);
    box.x2 = static_cast<int64_t>(right + dx);
    box.y1 = static_cast<int64_t>(top - dy);
    box.y2 = static_cast<int64_t>(bottom + dy);
    if (box.x1 <= 0) {
        box.x1 = 0;
    }
    if (box.y1 <= 0) {
        box.y1 = 0;
    }
    if (box.x2 >= imageWidth) {
        box.x2 = int64_t{imageWidth} - 1;
    }
    if (box.y2 >= imageHeight) {
        box.y2 = int64_t{imageHeight} - 1;
    }
    return box;
}

}  // namespace zav
