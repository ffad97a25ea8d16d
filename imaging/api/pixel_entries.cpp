// The C interface: flip, resize, region copy and the marker rectangle.
#include "imaging/api/object_handle.h"

extern "C" {

ZAV_API int32_t ZAVFlipImage(ZAVImageObject *obj, uint8_t *imageData, int32_t width, int32_t height,
                             int32_t depth, int32_t channels) {
    return zav::Guarded(obj, 0, [&](zav::ImageComponent &c) {
        return c.ZAVFlipImage(imageData, width, height, depth, channels);
    });
}

ZAV_API int32_t ZAVReSizeImage(ZAVImageObject *obj, const ZAVImageStruct *imageStruct,
                               const ZAVImageStruct *videoImageStruct) {
    return zav::Guarded(obj, 0, [&](zav::ImageComponent &c) {
        return c.ZAVReSizeImage(imageStruct, videoImageStruct);
    });
}

ZAV_API int32_t ZAVCopyImage(ZAVImageObject *obj, const ZAVImageStruct *psourceImage, int32_t sx,
                             int32_t sy, int32_t swidth, int32_t sheight,
                             const ZAVImageStruct *pdestImage, int32_t dx, int32_t dy,
                             int32_t dwidth, int32_t dheight) {
    return zav::Guarded(obj, 0, [&](zav::ImageComponent &c) {
        return c.ZAVCopyImage(psourceImage, sx, sy, swidth, sheight, pdestImage, dx, dy, dwidth,
                              dheight);
    });
}

ZAV_API int32_t ZAVDrawRect(ZAVImageObject *obj, const ZAVImageStruct *pImage,
                            ZAVImageRect thisImageRect, int32_t color) {
    return zav::Guarded(obj, 1, [&](zav::ImageComponent &c) {
        return c.ZAVDrawRect(pImage, thisImageRect, color);
    });
}

}  // extern "C"
