// How CZAVImageOCX objects are built and counted: the plain object, and the aggregated one whose
// inner IUnknown owns a contained object that delegates to the outer object.
#include <new>

#include "server/zav_image_ocx.h"

namespace zavsrv {

namespace {

// A stand-alone object. Counts are plain: the object lives in one apartment.
class PlainZAVImageOCX final : public ZAVImageOCX {
  public:
    explicit PlainZAVImageOCX(core::Object *core) : ZAVImageOCX(core) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = FindInterface(riid);
        if (*ppv == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG refs = --refs_;
        if (refs == 0) {
            delete this;
        }
        return static_cast<ULONG>(refs);
    }

  private:
    LONG refs_ = 0;
};

// The object inside an aggregate: its IUnknown methods are the outer object's.
class ContainedZAVImageOCX final : public ZAVImageOCX {
  public:
    ContainedZAVImageOCX(core::Object *core, IUnknown *outer) : ZAVImageOCX(core), outer_(outer) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        return outer_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

    using ZAVImageOCX::FindInterface;

  private:
    IUnknown *outer_;  // not counted: the outer object owns the aggregate
};

// The inner, non-delegating IUnknown of an aggregate.
class AggregateInner final : public IUnknown {
  public:
    AggregateInner(core::Object *core, IUnknown *outer) : contained_(core, outer) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = contained_.FindInterface(riid);
        if (*ppv == nullptr) {
            return E_NOINTERFACE;
        }
        // Interfaces of the contained object count on the outer object.
        static_cast<IUnknown *>(*ppv)->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG refs = --refs_;
        if (refs == 0) {
            delete this;
        }
        return static_cast<ULONG>(refs);
    }

  private:
    LONG refs_ = 0;
    ContainedZAVImageOCX contained_;
};

}  // namespace

HRESULT ZAVImageOCX::CreateInstance(IUnknown *outer, REFIID riid, void **ppv) {
    core::Object *core = core::CreateObject();
    if (core == nullptr) {
        return E_OUTOFMEMORY;
    }
    IUnknown *object = nullptr;
    if (outer == nullptr) {
        object = static_cast<IZAVImageOCX *>(new (std::nothrow) PlainZAVImageOCX(core));
    } else {
        object = new (std::nothrow) AggregateInner(core, outer);
    }
    if (object == nullptr) {
        core::DestroyObject(core);
        return E_OUTOFMEMORY;
    }
    // The new object has no reference yet: hold one while asking for riid.
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

}  // namespace zavsrv
