// The component object and strings of the test host.
#include "host_object.h"

#include "host_check.h"

namespace zavtest {

ComObject::ComObject() {
    CHECK_HR(S_OK, CoCreateInstance(CLSID_CZAVImageOCX, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IZAVImageOCX, reinterpret_cast<void **>(&p_)));
}

ComObject::~ComObject() {
    if (p_ != nullptr) {
        p_->Release();
    }
}

HRESULT Release(const ComObject &object, ZAVImageStruct *record) {
    ZAVImageStruct *p = record;
    return object->ZAVReleaseImage(&p);
}

}  // namespace zavtest
