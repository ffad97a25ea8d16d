// The C interface: what an image file holds.
#include "imaging/object_handle.h"
#include "zavimage/zavimage.h"

extern "C" {

ZAV_API int32_t ZAVProbeImageFileUtf8(ZAVImageObject *obj, const char *imageFileName,
                                      const char **format, int32_t *width, int32_t *height) {
    return zav::CallComponent(obj, 1, [&](zav::ImageComponent &c) {
        return c.ZAVProbeImageFileUtf8(imageFileName, format, width, height);
    });
}

}  // extern "C"
