// The C interface: loading, saving and the file status.
#include "imaging/file_status.h"
#include "imaging/object_handle.h"
#include "zavimage/zavimage.h"

using zav::CallComponent;
using zav::ImageComponent;

extern "C" {

ZAV_API int32_t ZAVLoadImage(ZAVImageObject *obj, const char16_t *imageFileName,
                             ZAVImageStruct *imageStruct) {
    return CallComponent(
        obj, 1, [&](ImageComponent &c) { return c.ZAVLoadImage(imageFileName, imageStruct); });
}

ZAV_API int32_t ZAVLoadImageUtf8(ZAVImageObject *obj, const char *imageFileName,
                                 ZAVImageStruct *imageStruct) {
    return CallComponent(
        obj, 1, [&](ImageComponent &c) { return c.ZAVLoadImageUtf8(imageFileName, imageStruct); });
}

ZAV_API int32_t ZAVLoadImagePath(ZAVImageObject *obj, const char *path,
                                 ZAVImageStruct *imageStruct) {
    return CallComponent(obj, 1,
                         [&](ImageComponent &c) { return c.ZAVLoadImagePath(path, imageStruct); });
}

ZAV_API int32_t ZAVSaveImage(ZAVImageObject *obj, const char16_t *imageFileName,
                             const uint8_t *imageData, int32_t width, int32_t height, int32_t depth,
                             int32_t channels) {
    return CallComponent(obj, 1, [&](ImageComponent &c) {
        return c.ZAVSaveImage(imageFileName, imageData, width, height, depth, channels);
    });
}

ZAV_API int32_t ZAVSaveImageUtf8(ZAVImageObject *obj, const char *imageFileName,
                                 const uint8_t *imageData, int32_t width, int32_t height,
                                 int32_t depth, int32_t channels) {
    return CallComponent(obj, 1, [&](ImageComponent &c) {
        return c.ZAVSaveImageUtf8(imageFileName, imageData, width, height, depth, channels);
    });
}

ZAV_API int32_t ZAVSaveImagePath(ZAVImageObject *obj, const char *path, const uint8_t *imageData,
                                 int32_t width, int32_t height, int32_t depth, int32_t channels) {
    return CallComponent(obj, 1, [&](ImageComponent &c) {
        return c.ZAVSaveImagePath(path, imageData, width, height, depth, channels);
    });
}

ZAV_API int32_t ZAVGetFileStatus(ZAVImageObject *obj) {
    return CallComponent(obj, ZAV_FILE_OK, [](ImageComponent &c) { return c.FileStatus(); });
}

ZAV_API const char *ZAVFileStatusText(int32_t status) {
    return zav::FileStatusText(status);
}

}  // extern "C"
