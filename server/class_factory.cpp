// IClassFactory for CZAVImageOCX.
#include "server/class_factory.h"

#include <new>

#include "server/module_state.h"

namespace zavsrv {

ClassFactory *ClassFactory::Create(CreateInstanceProc createInstance) {
    ClassFactory *factory = new (std::nothrow) ClassFactory(createInstance);
    if (factory == nullptr) {
        return nullptr;
    }
    if (!factory->lockReady_) {
        delete factory;
        return nullptr;
    }
    factory->AddRef();
    return factory;
}

ClassFactory::ClassFactory(CreateInstanceProc createInstance)
    : lockReady_(InitializeCriticalSectionEx(&lock_, 0, 0) != FALSE),
      createInstance_(createInstance) {}

ClassFactory::~ClassFactory() {
    if (lockReady_) {
        DeleteCriticalSection(&lock_);
    }
}

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID riid, void **ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() {
    EnterCriticalSection(&lock_);
    const LONG refs = InterlockedIncrement(&refs_);
    if (refs == 2) {
        LockModule();
    }
    LeaveCriticalSection(&lock_);
    return static_cast<ULONG>(refs);
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
    EnterCriticalSection(&lock_);
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 1) {
        UnlockModule();
    }
    LeaveCriticalSection(&lock_);
    if (refs == 0) {
        delete this;
    }
    return static_cast<ULONG>(refs);
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown *outer, REFIID riid, void **ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) {
        return CLASS_E_NOAGGREGATION;
    }
    return createInstance_(outer, riid, ppv);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

}  // namespace zavsrv
