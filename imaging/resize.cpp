// Scaling one whole buffer into another.
#include "imaging/image_component.h"
#include "imaging/image_record.h"
#include "imaging/pixel_region.h"
#include "imaging/region_transfer.h"

namespace zav {

int32_t ImageComponent::ZAVReSizeImage(const ZAVImageStruct *imageStruct,
                                       const ZAVImageStruct *videoImageStruct) {
    if (imageStruct == nullptr || videoImageStruct == nullptr) {
        return 0;
    }
    // Both buffers keep their own depth and channels; the destination record is only read.
    const ImageHeader source = WrapImageRecord(*imageStruct);
    const ImageHeader destination = WrapImageRecord(*videoImageStruct);
    if (!source.IsProcessable() || !destination.IsProcessable() ||
        source.depth != destination.depth || source.nChannels != destination.nChannels) {
        return 0;
    }
    TransferRegion(WholeImage(source), WholeImage(destination));
    return 0;
}

}  // namespace zav
