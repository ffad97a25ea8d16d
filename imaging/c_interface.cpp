// The C interface: one function per operation, the object first. No exception leaves here.
#include <new>

#include "imaging/image_component.h"
#include "zavimage/zavimage.h"

struct ZAVImageObject {
    zav::ImageComponent component;
};

namespace {

// Runs an operation on the object's component; a null object or an escaping exception gives the
// operation's usual result.
template <typename Op>
int32_t Call(ZAVImageObject *obj, int32_t usual, Op &&op) noexcept {
    if (obj == nullptr) {
        return usual;
    }
    try {
        return op(obj->component);
    } catch (...) {
        return usual;
    }
}

}  // namespace

extern "C" {

ZAV_API ZAVImageObject *ZAVCreateObject(void) {
    return new (std::nothrow) ZAVImageObject();
}

ZAV_API void ZAVDestroyObject(ZAVImageObject *obj) {
    delete obj;
}

ZAV_API int32_t ZAVSetImageQuality(ZAVImageObject *obj, float fQuality) {
    return Call(obj, 0, [&](zav::ImageComponent &c) { return c.ZAVSetImageQuality(fQuality); });
}

ZAV_API int32_t ZAVCreateImage(ZAVImageObject *obj, int32_t width, int32_t height, int32_t depth,
                               int32_t channels, ZAVImageStruct *imageStruct) {
    return Call(obj, 0, [&](zav::ImageComponent &c) {
        return c.ZAVCreateImage(width, height, depth, channels, imageStruct);
    });
}

ZAV_API int32_t ZAVReleaseImage(ZAVImageObject *obj, ZAVImageStruct **ppImage) {
    return Call(obj, 0, [&](zav::ImageComponent &c) { return c.ZAVReleaseImage(ppImage); });
}

ZAV_API int32_t ZAVCloneImage(ZAVImageObject *obj, const ZAVImageStruct *psourceImage,
                              ZAVImageStruct *pdestImage) {
    return Call(obj, 1,
                [&](zav::ImageComponent &c) { return c.ZAVCloneImage(psourceImage, pdestImage); });
}

}  // extern "C"
