#include "imaging/copy_clamp.h"

namespace zav {
namespace {

// One axis: origin and extent against the image's size on that axis.
bool ClampAxis(int32_t *origin, int32_t *extent, int32_t size) noexcept {
    if (*origin < 0) {
        *origin = 0;
    }
    // 64-bit: origin + extent may pass INT32_MAX.
    if (int64_t{*origin} + *extent > size) {
        *extent = size - *origin;  // the origin is at least 0 here: no overflow
    }
    return *extent > 0;
}

}  // namespace

bool ClampCopyRect(CopyRect *rect, int32_t imageWidth, int32_t imageHeight) noexcept {
    const bool across = ClampAxis(&rect->x, &rect->width, imageWidth);
    const bool down = ClampAxis(&rect->y, &rect->height, imageHeight);
    return across && down;
}

}  // namespace zav
