// Create, release and clone: the only places besides load where pixel memory changes hands.
#include "imaging/api/image_component.h"
#include "imaging/buffer/image_record.h"

namespace zav {

int32_t ImageComponent::ZAVCreateImage(int32_t width, int32_t height, int32_t depth,
                                       int32_t channels, ZAVImageStruct *imageStruct) noexcept {
    if (imageStruct == nullptr) {
        return 0;
    }
    // Invalid geometry gives an empty header (all zeros) and a block of no usable bytes; a block
    // above 2^30 bytes gives the requested geometry with null data.
    const ImageHeader header = CreateImage(width, height, depth, channels);
    FillImageRecord(imageStruct, header);
    return 0;
}

int32_t ImageComponent::ZAVReleaseImage(ZAVImageStruct **ppImage) noexcept {
    if (ppImage == nullptr || *ppImage == nullptr) {
        return 0;
    }
    // Only data is freed; the geometry plays no part, and neither the caller's pointer nor the
    // record changes.
    ImageHeader header = WrapImageRecord(**ppImage);
    ReleaseImageData(&header);
    return 0;
}

int32_t ImageComponent::ZAVCloneImage(const ZAVImageStruct *psourceImage,
                                      ZAVImageStruct *pdestImage) noexcept {
    if (psourceImage == nullptr || pdestImage == nullptr) {
        return 1;
    }
    // The source is cloned faithfully with its own depth, channels and stride, padding included.
    // A source whose geometry is invalid clones to a record of zeros without data.
    const ImageHeader source = WrapImageRecord(*psourceImage);
    ImageHeader clone;
    if (!source.IsEmpty()) {
        clone = CloneImage(source);
    }
    FillImageRecord(pdestImage, clone);
    return 1;
}

}  // namespace zav
