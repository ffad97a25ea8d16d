// Copying (or scaling) a rectangle of one buffer into a rectangle of another, each rectangle first
// kept inside its image.
#include "imaging/ops/copy.h"

#include "imaging/buffer/image_record.h"
#include "imaging/buffer/pixel_region.h"
#include "imaging/ops/resize.h"

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

int32_t CopyImageRegion(const ZAVImageStruct *psourceImage, int32_t sx, int32_t sy, int32_t swidth,
                        int32_t sheight, const ZAVImageStruct *pdestImage, int32_t dx, int32_t dy,
                        int32_t dwidth, int32_t dheight) {
    if (psourceImage == nullptr || pdestImage == nullptr) {
        return 0;
    }
    // The destination is always taken as 8-bit, 3-channel; a record that says otherwise describes
    // a buffer of another layout, which is never written. The source keeps its own format and is
    // copied only when it is 8-bit, 3-channel too.
    if (pdestImage->depth != ZAV_DEPTH_8U || pdestImage->channels != 3) {
        return 0;
    }
    const ImageHeader source = WrapImageRecord(*psourceImage);
    const ImageHeader destination =
        WrapImageRecord(pdestImage->width, pdestImage->height, ZAV_DEPTH_8U, 3, pdestImage->data);
    if (!source.IsProcessable() || !destination.IsProcessable() ||
        source.depth != destination.depth || source.nChannels != destination.nChannels) {
        return 0;
    }
    CopyRect from{sx, sy, swidth, sheight};
    CopyRect to{dx, dy, dwidth, dheight};
    const bool fromLeft = ClampCopyRect(&from, source.width, source.height);
    const bool toLeft = ClampCopyRect(&to, destination.width, destination.height);
    if (!fromLeft || !toLeft) {
        return 0;
    }
    // Equal sizes copy; different sizes scale the source rectangle into the destination one.
    TransferRegion(SubRegion(source, from.x, from.y, from.width, from.height),
                   SubRegion(destination, to.x, to.y, to.width, to.height));
    return 0;
}

}  // namespace zav
