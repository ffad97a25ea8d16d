// Create, release and clone: the only places besides load where pixel memory changes hands.
#include "imaging/buffer/lifecycle.h"

#include "imaging/buffer/image_record.h"

namespace zav {

int32_t CreateImageRecord(int32_t width, int32_t height, int32_t depth, int32_t channels,
                          ZAVImageStruct *imageStruct) noexcept {
    if (imageStruct == nullptr) {
        return 0;
    }
    // Invalid geometry gives an empty header (all zeros) and a block of no usable bytes; a block
    // above 2^30 bytes gives the requested geometry with null data.
    const ImageHeader header = CreateImage(width, height, depth, channels);
    FillImageRecord(imageStruct, header);
    return 0;
}

int32_t ReleaseImageRecord(ZAVImageStruct **ppImage) noexcept {
    if (ppImage == nullptr || *ppImage == nullptr || (*ppImage)->data == nullptr) {
        return 0;
    }
    // Only data is freed, and only a live pixel block the library handed out: a block released
    // already, one of ZAVFreeMemory or the caller's own is refused (1). The geometry plays no
    // part; data is cleared, so that a second release of the record frees nothing.
    ImageHeader header = WrapImageRecord(**ppImage);
    if (!ReleaseImageData(&header)) {
        return 1;
    }
    (*ppImage)->data = nullptr;
    return 0;
}

int32_t CloneImageRecord(const ZAVImageStruct *psourceImage, ZAVImageStruct *pdestImage) noexcept {
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
