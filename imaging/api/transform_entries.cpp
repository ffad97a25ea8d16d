// The C interface: filtered scaling and turning upright by an orientation.
#include "imaging/api/object_handle.h"
#include "imaging/ops/filtered_resize.h"
#include "imaging/ops/orient.h"

extern "C" {

ZAV_API int32_t ZAVResizeImageFiltered(ZAVImageObject *obj, const ZAVImageStruct *source,
                                       const ZAVImageStruct *dest, int32_t filter) {
    return zav::Guarded(obj, 0, [&](zav::ImageComponent &c) {
        if (source == nullptr || dest == nullptr) {
            return 0;
        }
        if (filter == ZAV_FILTER_NEAREST) {
            return c.ZAVReSizeImage(source, dest);
        }
        if (filter < ZAV_FILTER_AREA || filter > ZAV_FILTER_LANCZOS) {
            return 0;
        }
        zav::FilteredResize(zav::WrapImageRecord(*source), zav::WrapImageRecord(*dest),
                            static_cast<zav::ResizeFilter>(filter));
        return 0;
    });
}

ZAV_API int32_t ZAVOrientImage(ZAVImageObject *obj, ZAVImageStruct *image, int32_t orientation) {
    return zav::Guarded(obj, 1, [&](zav::ImageComponent &c) {
        if (image == nullptr || orientation < 1 || orientation > 8) {
            return 1;
        }
        const zav::ImageHeader src = zav::WrapImageRecord(*image);
        if (!src.IsProcessable()) {
            return 1;
        }
        if (orientation == 1) {
            return 0;
        }
        const bool transposes = zav::OrientationTransposes(orientation);
        ZAVImageStruct turned{};
        c.ZAVCreateImage(transposes ? image->height : image->width,
                         transposes ? image->width : image->height, image->depth, image->channels,
                         &turned);
        ZAVImageStruct *made = &turned;
        if (turned.data == nullptr ||
            !zav::Orient(src, zav::WrapImageRecord(turned), orientation)) {
            c.ZAVReleaseImage(&made);
            return 1;
        }
        ZAVImageStruct *old = image;
        ZAVImageStruct previous = *image;
        ZAVImageStruct *p = &previous;
        c.ZAVReleaseImage(&p);
        *old = turned;
        return 0;
    });
}

}  // extern "C"
