// CZAVImageOCX: the component object as COM sees it. It answers IUnknown, IZAVImageOCX and
// IProvideClassInfo, and forwards the eleven operations to a core object of its own.
#pragma once

#include <ocidl.h>
#include <windows.h>

#include "server/ZAVImage_h.h"
#include "server/core_bridge.h"

namespace zavsrv {

class ZAVImageOCX : public IZAVImageOCX, public IProvideClassInfo {
  public:
    // The class table's instance-creation procedure: a plain object when outer is null, else the
    // inner object of an aggregate (riid must then be IUnknown; the class object checks that).
    static HRESULT CreateInstance(IUnknown *outer, REFIID riid, void **ppv);

    // IZAVImageOCX
    HRESULT STDMETHODCALLTYPE ZAVLoadImage(BSTR imageFileName,
                                           ZAVImageStruct *imageStruct) override;
    HRESULT STDMETHODCALLTYPE ZAVSetImageQuality(float fQuality) override;
    HRESULT STDMETHODCALLTYPE ZAVSaveImage(BSTR imageFileName, unsigned char *imageData, LONG width,
                                           LONG height, LONG depth, LONG channels) override;
    HRESULT STDMETHODCALLTYPE ZAVCreateImage(LONG width, LONG height, LONG depth, LONG channels,
                                             ZAVImageStruct *imageStruct) override;
    HRESULT STDMETHODCALLTYPE ZAVFlipImage(unsigned char *imageData, LONG width, LONG height,
                                           LONG depth, LONG channels) override;
    HRESULT STDMETHODCALLTYPE ZAVReSizeImage(ZAVImageStruct *imageStruct,
                                             ZAVImageStruct *videoImageStruct) override;
    HRESULT STDMETHODCALLTYPE ZAVReleaseImage(ZAVImageStruct **ppImage) override;
    HRESULT STDMETHODCALLTYPE ZAVCopyImage(ZAVImageStruct *psourceImage, LONG sx, LONG sy,
                                           LONG swidth, LONG sheight, ZAVImageStruct *pdestImage,
                                           LONG dx, LONG dy, LONG dwidth, LONG dheight) override;
    HRESULT STDMETHODCALLTYPE ZAVPutTextToImage(ZAVImageStruct *pImage, unsigned char *pText,
                                                LONG x, LONG y, LONG color, float fSize,
                                                float fCharSpace, float transparency) override;
    HRESULT STDMETHODCALLTYPE ZAVDrawRect(ZAVImageStruct *pImage, ZAVImageRect thisImageRect,
                                          LONG color) override;
    HRESULT STDMETHODCALLTYPE ZAVCloneImage(ZAVImageStruct *psourceImage,
                                            ZAVImageStruct *pdestImage) override;

    // IProvideClassInfo
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo **ppTI) override;

  protected:
    // Takes ownership of core and locks the module; destruction unlocks it.
    explicit ZAVImageOCX(core::Object *core);
    virtual ~ZAVImageOCX();

    // The interface for riid without a new reference, or null: IUnknown and IZAVImageOCX give the
    // primary interface, IProvideClassInfo the second one.
    void *FindInterface(REFIID riid);

  private:
    core::Object *m_core;
};

}  // namespace zavsrv
