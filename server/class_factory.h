// The class object of the server's one creatable class.
#pragma once

#include <unknwn.h>
#include <windows.h>

namespace zavsrv {

// Builds an object, plain when outer is null and aggregated otherwise, and asks it for riid.
using CreateInstanceProc = HRESULT (*)(IUnknown *outer, REFIID riid, void **ppv);

class ClassFactory final : public IClassFactory {
  public:
    // A new class object holding one reference (the module's cache), or null when it cannot be
    // built.
    static ClassFactory *Create(CreateInstanceProc createInstance);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    // The count changes atomically under the object's own lock. Rising to 2 locks the module and
    // falling back to 1 unlocks it: only references held outside the module's cache count.
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  private:
    explicit ClassFactory(CreateInstanceProc createInstance);
    ~ClassFactory();

    CRITICAL_SECTION lock_;
    bool lockReady_;
    LONG refs_ = 0;
    CreateInstanceProc createInstance_;
};

}  // namespace zavsrv
