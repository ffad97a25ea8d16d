// The eleven operations of IZAVImageOCX and GetClassInfo: names and text are brought into the
// core's form here, everything else is passed through unchanged.
#include "server/zav_image_ocx.h"

#include <stddef.h>

#include "server/host_path.h"
#include "server/host_text.h"
#include "server/module_state.h"

namespace zavsrv {

namespace {

static_assert(sizeof(ZAVImageStruct) == sizeof(core::ImageRecord));
static_assert(offsetof(ZAVImageStruct, width) == offsetof(core::ImageRecord, width));
static_assert(offsetof(ZAVImageStruct, height) == offsetof(core::ImageRecord, height));
static_assert(offsetof(ZAVImageStruct, depth) == offsetof(core::ImageRecord, depth));
static_assert(offsetof(ZAVImageStruct, channels) == offsetof(core::ImageRecord, channels));
static_assert(offsetof(ZAVImageStruct, data) == offsetof(core::ImageRecord, data));
static_assert(sizeof(ZAVImageRect) == sizeof(core::RectRecord));
static_assert(sizeof(LONG) == sizeof(int32_t));

// The font the text operation tries first, inside the Wine prefix.
const WCHAR kFontPath[] = L"c:\\windows\\fonts\\SIMHEI.TTF";

core::ImageRecord *Core(ZAVImageStruct *r) {
    return reinterpret_cast<core::ImageRecord *>(r);
}

}  // namespace

ZAVImageOCX::ZAVImageOCX(core::Object *core) : core_(core) {
    LockModule();
}

ZAVImageOCX::~ZAVImageOCX() {
    core::DestroyObject(core_);
    UnlockModule();
}

void *ZAVImageOCX::FindInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IZAVImageOCX)) {
        return static_cast<IZAVImageOCX *>(this);
    }
    if (IsEqualIID(riid, IID_IProvideClassInfo)) {
        return static_cast<IProvideClassInfo *>(this);
    }
    return nullptr;
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVLoadImage(BSTR imageFileName,
                                                    ZAVImageStruct *imageStruct) {
    HostPath path;
    if (!path.FromBstr(imageFileName)) {
        return S_FALSE;
    }
    return core::LoadImagePath(core_, path.Unix(), Core(imageStruct));
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVSetImageQuality(float fQuality) {
    return core::SetImageQuality(core_, fQuality);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVSaveImage(BSTR imageFileName, unsigned char *imageData,
                                                    LONG width, LONG height, LONG depth,
                                                    LONG channels) {
    HostPath path;
    if (!path.FromBstr(imageFileName)) {
        return S_FALSE;
    }
    return core::SaveImagePath(core_, path.Unix(), imageData, width, height, depth, channels);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVCreateImage(LONG width, LONG height, LONG depth,
                                                      LONG channels, ZAVImageStruct *imageStruct) {
    return core::CreateImage(core_, width, height, depth, channels, Core(imageStruct));
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVFlipImage(unsigned char *imageData, LONG width,
                                                    LONG height, LONG depth, LONG channels) {
    return core::FlipImage(core_, imageData, width, height, depth, channels);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVReSizeImage(ZAVImageStruct *imageStruct,
                                                      ZAVImageStruct *videoImageStruct) {
    return core::ReSizeImage(core_, Core(imageStruct), Core(videoImageStruct));
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVReleaseImage(ZAVImageStruct **ppImage) {
    return core::ReleaseImage(core_, reinterpret_cast<core::ImageRecord **>(ppImage));
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVCopyImage(ZAVImageStruct *psourceImage, LONG sx, LONG sy,
                                                    LONG swidth, LONG sheight,
                                                    ZAVImageStruct *pdestImage, LONG dx, LONG dy,
                                                    LONG dwidth, LONG dheight) {
    return core::CopyImage(core_, Core(psourceImage), sx, sy, swidth, sheight, Core(pdestImage), dx,
                           dy, dwidth, dheight);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVPutTextToImage(ZAVImageStruct *pImage,
                                                         unsigned char *pText, LONG x, LONG y,
                                                         LONG color, float fSize, float fCharSpace,
                                                         float transparency) {
    // SimHei in the prefix goes first; without it the core picks its own stand-in.
    HostPath font;
    if (WindowsFileExists(kFontPath) && font.FromWindowsPath(kFontPath)) {
        core::SetFontPath(core_, font.Unix());
    } else {
        core::SetFontPath(core_, nullptr);
    }
    Utf8Text text;
    if (!text.FromAnsi(pText)) {
        return S_OK;
    }
    return core::PutTextToImageUtf8(core_, Core(pImage), text.Get(), x, y, color, fSize, fCharSpace,
                                    transparency);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVDrawRect(ZAVImageStruct *pImage,
                                                   ZAVImageRect thisImageRect, LONG color) {
    const core::RectRecord rect{thisImageRect.x, thisImageRect.y, thisImageRect.width,
                                thisImageRect.height};
    return core::DrawRect(core_, Core(pImage), rect, color);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVCloneImage(ZAVImageStruct *psourceImage,
                                                     ZAVImageStruct *pdestImage) {
    return core::CloneImage(core_, Core(psourceImage), Core(pdestImage));
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::GetClassInfo(ITypeInfo **ppTI) {
    if (ppTI == nullptr) {
        return E_POINTER;
    }
    return GetClassTypeInfo(ppTI);
}

}  // namespace zavsrv
