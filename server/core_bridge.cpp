// Forwards the server's calls to the core's C interface. The only file of the server that includes
// the core's header.
#include "server/core_bridge.h"

#include "zavimage/zavimage.h"

namespace zavsrv::core {

namespace {

static_assert(sizeof(ZAVImageStruct) == sizeof(ImageRecord));
static_assert(offsetof(ZAVImageStruct, width) == offsetof(ImageRecord, width));
static_assert(offsetof(ZAVImageStruct, height) == offsetof(ImageRecord, height));
static_assert(offsetof(ZAVImageStruct, depth) == offsetof(ImageRecord, depth));
static_assert(offsetof(ZAVImageStruct, channels) == offsetof(ImageRecord, channels));
static_assert(offsetof(ZAVImageStruct, data) == offsetof(ImageRecord, data));
static_assert(sizeof(ZAVImageRect) == sizeof(RectRecord));
static_assert(offsetof(ZAVImageRect, height) == offsetof(RectRecord, height));

ZAVImageObject *Native(Object *obj) {
    return reinterpret_cast<ZAVImageObject *>(obj);
}
ZAVImageStruct *Native(ImageRecord *r) {
    return reinterpret_cast<ZAVImageStruct *>(r);
}
const ZAVImageStruct *Native(const ImageRecord *r) {
    return reinterpret_cast<const ZAVImageStruct *>(r);
}

}  // namespace

Object *CreateObject() {
    return reinterpret_cast<Object *>(ZAVCreateObject());
}

void DestroyObject(Object *obj) {
    ZAVDestroyObject(Native(obj));
}

int32_t LoadImagePath(Object *obj, const char *path, ImageRecord *imageStruct) {
    return ZAVLoadImagePath(Native(obj), path, Native(imageStruct));
}

int32_t SetImageQuality(Object *obj, float fQuality) {
    return ZAVSetImageQuality(Native(obj), fQuality);
}

int32_t SaveImagePath(Object *obj, const char *path, const uint8_t *imageData, int32_t width,
                      int32_t height, int32_t depth, int32_t channels) {
    return ZAVSaveImagePath(Native(obj), path, imageData, width, height, depth, channels);
}

int32_t CreateImage(Object *obj, int32_t width, int32_t height, int32_t depth, int32_t channels,
                    ImageRecord *imageStruct) {
    return ZAVCreateImage(Native(obj), width, height, depth, channels, Native(imageStruct));
}

int32_t FlipImage(Object *obj, uint8_t *imageData, int32_t width, int32_t height, int32_t depth,
                  int32_t channels) {
    return ZAVFlipImage(Native(obj), imageData, width, height, depth, channels);
}

int32_t ReSizeImage(Object *obj, const ImageRecord *imageStruct,
                    const ImageRecord *videoImageStruct) {
    return ZAVReSizeImage(Native(obj), Native(imageStruct), Native(videoImageStruct));
}

int32_t ReleaseImage(Object *obj, ImageRecord **ppImage) {
    return ZAVReleaseImage(Native(obj), reinterpret_cast<ZAVImageStruct **>(ppImage));
}

int32_t CopyImage(Object *obj, const ImageRecord *psourceImage, int32_t sx, int32_t sy,
                  int32_t swidth, int32_t sheight, const ImageRecord *pdestImage, int32_t dx,
                  int32_t dy, int32_t dwidth, int32_t dheight) {
    return ZAVCopyImage(Native(obj), Native(psourceImage), sx, sy, swidth, sheight,
                        Native(pdestImage), dx, dy, dwidth, dheight);
}

int32_t PutTextToImageUtf8(Object *obj, const ImageRecord *pImage, const char *text, int32_t x,
                           int32_t y, int32_t color, float fSize, float fCharSpace,
                           float transparency) {
    return ZAVPutTextToImageUtf8(Native(obj), Native(pImage), text, x, y, color, fSize, fCharSpace,
                                 transparency);
}

int32_t DrawRect(Object *obj, const ImageRecord *pImage, RectRecord thisImageRect, int32_t color) {
    ZAVImageRect rect{thisImageRect.x, thisImageRect.y, thisImageRect.width, thisImageRect.height};
    return ZAVDrawRect(Native(obj), Native(pImage), rect, color);
}

int32_t CloneImage(Object *obj, const ImageRecord *psourceImage, ImageRecord *pdestImage) {
    return ZAVCloneImage(Native(obj), Native(psourceImage), Native(pdestImage));
}

void SetFontPath(Object *obj, const char *path) {
    ZAVSetFontPath(Native(obj), path);
}

}  // namespace zavsrv::core
