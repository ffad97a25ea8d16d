// The component's buffers and pixel operations, each over its function in buffer/ or ops/.
#include "imaging/api/image_component.h"
#include "imaging/buffer/lifecycle.h"
#include "imaging/ops/copy.h"
#include "imaging/ops/flip.h"
#include "imaging/ops/marker.h"
#include "imaging/ops/resize.h"

namespace zav {

int32_t ImageComponent::ZAVCreateImage(int32_t width, int32_t height, int32_t depth,
                                       int32_t channels, ZAVImageStruct *imageStruct) noexcept {
    return CreateImageRecord(width, height, depth, channels, imageStruct);
}

int32_t ImageComponent::ZAVReleaseImage(ZAVImageStruct **ppImage) noexcept {
    return ReleaseImageRecord(ppImage);
}

int32_t ImageComponent::ZAVCloneImage(const ZAVImageStruct *psourceImage,
                                      ZAVImageStruct *pdestImage) noexcept {
    return CloneImageRecord(psourceImage, pdestImage);
}

int32_t ImageComponent::ZAVFlipImage(uint8_t *imageData, int32_t width, int32_t height,
                                     int32_t depth, int32_t channels) {
    FlipImageRows(imageData, width, height, depth, channels);
    return 0;
}

int32_t ImageComponent::ZAVReSizeImage(const ZAVImageStruct *imageStruct,
                                       const ZAVImageStruct *videoImageStruct) {
    return ResizeImageRecord(imageStruct, videoImageStruct);
}

int32_t ImageComponent::ZAVCopyImage(const ZAVImageStruct *psourceImage, int32_t sx, int32_t sy,
                                     int32_t swidth, int32_t sheight,
                                     const ZAVImageStruct *pdestImage, int32_t dx, int32_t dy,
                                     int32_t dwidth, int32_t dheight) {
    return CopyImageRegion(psourceImage, sx, sy, swidth, sheight, pdestImage, dx, dy, dwidth,
                           dheight);
}

int32_t ImageComponent::ZAVDrawRect(const ZAVImageStruct *pImage, ZAVImageRect thisImageRect,
                                    int32_t color) {
    return DrawMarker(pImage, thisImageRect, color);
}

}  // namespace zav
