// The C interface: captions.
#include "imaging/api/object_handle.h"

extern "C" {

ZAV_API int32_t ZAVPutTextToImage(ZAVImageObject *obj, const ZAVImageStruct *pImage,
                                  const uint8_t *pText, int32_t x, int32_t y, int32_t color,
                                  float fSize, float fCharSpace, float transparency) {
    return zav::Guarded(obj, 0, [&](zav::ImageComponent &c) {
        return c.ZAVPutTextToImage(pImage, pText, x, y, color, fSize, fCharSpace, transparency);
    });
}

ZAV_API int32_t ZAVPutTextToImageUtf8(ZAVImageObject *obj, const ZAVImageStruct *pImage,
                                      const char *pText, int32_t x, int32_t y, int32_t color,
                                      float fSize, float fCharSpace, float transparency) {
    return zav::Guarded(obj, 0, [&](zav::ImageComponent &c) {
        return c.ZAVPutTextToImageUtf8(pImage, pText, x, y, color, fSize, fCharSpace, transparency);
    });
}

ZAV_API int32_t ZAVSetFontPath(ZAVImageObject *obj, const char *path) {
    return zav::Guarded(obj, 0, [&](zav::ImageComponent &c) { return c.ZAVSetFontPath(path); });
}

}  // extern "C"
