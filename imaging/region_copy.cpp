// Copying (or scaling) a rectangle of one buffer into a rectangle of another.
#include "imaging/copy_clamp.h"
#include "imaging/image_component.h"
#include "imaging/image_record.h"
#include "imaging/pixel_region.h"
#include "imaging/region_transfer.h"

namespace zav {

int32_t ImageComponent::ZAVCopyImage(const ZAVImageStruct *psourceImage, int32_t sx, int32_t sy,
                                     int32_t swidth, int32_t sheight,
                                     const ZAVImageStruct *pdestImage, int32_t dx, int32_t dy,
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
