// The C interface: typographic captions.
#include "imaging/api/object_handle.h"
#include "text/typo_caption.h"

extern "C" {

ZAV_API void ZAVInitTextStyle(ZAVTextStyle *style) {
    if (style != nullptr) {
        zav::DefaultTextStyle(style);
    }
}

ZAV_API int32_t ZAVDrawTextUtf8(ZAVImageObject *obj, const ZAVImageStruct *pImage, const char *text,
                                int32_t x, int32_t y, const ZAVTextStyle *style) {
    return zav::Guarded(obj, ZAV_TEXT_REFUSED, [&](zav::ImageComponent &c) {
        return c.ZAVDrawTextUtf8(pImage, text, x, y, style);
    });
}

ZAV_API int32_t ZAVMeasureTextUtf8(ZAVImageObject *obj, const char *text, int32_t x, int32_t y,
                                   const ZAVTextStyle *style, ZAVTextMetrics *metrics) {
    return zav::Guarded(obj, ZAV_TEXT_REFUSED, [&](zav::ImageComponent &c) {
        return c.ZAVMeasureTextUtf8(text, x, y, style, metrics);
    });
}

ZAV_API int32_t ZAVCheckTextLimitsUtf8(const char *text, const ZAVTextStyle *style,
                                       int32_t channels) {
    return zav::TextWithinLimits(text, style, channels);
}

}  // extern "C"
