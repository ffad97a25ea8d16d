// The C interface: the object and the buffer lifecycle.
#include <new>

#include "imaging/api/object_handle.h"

extern "C" {

ZAV_API ZAVImageObject *ZAVCreateObject(void) {
    return new (std::nothrow) ZAVImageObject();
}

ZAV_API void ZAVDestroyObject(ZAVImageObject *obj) {
    delete obj;
}

ZAV_API int32_t ZAVSetImageQuality(ZAVImageObject *obj, float fQuality) {
    return zav::Guarded(obj, 0,
                        [&](zav::ImageComponent &c) { return c.ZAVSetImageQuality(fQuality); });
}

ZAV_API int32_t ZAVCreateImage(ZAVImageObject *obj, int32_t width, int32_t height, int32_t depth,
                               int32_t channels, ZAVImageStruct *imageStruct) {
    return zav::Guarded(obj, 0, [&](zav::ImageComponent &c) {
        return c.ZAVCreateImage(width, height, depth, channels, imageStruct);
    });
}

ZAV_API int32_t ZAVReleaseImage(ZAVImageObject *obj, ZAVImageStruct **ppImage) {
    return zav::Guarded(obj, 0, [&](zav::ImageComponent &c) { return c.ZAVReleaseImage(ppImage); });
}

ZAV_API int32_t ZAVCloneImage(ZAVImageObject *obj, const ZAVImageStruct *psourceImage,
                              ZAVImageStruct *pdestImage) {
    return zav::Guarded(
        obj, 1, [&](zav::ImageComponent &c) { return c.ZAVCloneImage(psourceImage, pdestImage); });
}

}  // extern "C"
