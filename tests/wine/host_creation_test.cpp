// Creating the component through COM once it is registered: program identifiers, CoCreateInstance,
// the interfaces it answers, aggregation and GetClassInfo.
#include <initializer_list>

#include "host.h"

namespace zavtest {

namespace {

// A controlling object that aggregates the component and exposes its interface.
class Outer final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        ++queries;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown *>(this);
            AddRef();
            return S_OK;
        }
        if (inner != nullptr && IsEqualIID(riid, IID_IZAVImageOCX)) {
            return inner->QueryInterface(riid, ppv);
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }

    IUnknown *inner = nullptr;
    long refs = 1;
    int queries = 0;
};

void CheckProgIds() {
    CLSID clsid{};
    CHECK_HR(S_OK, CLSIDFromProgID(L"ZAVImage.ZAVImageOCX", &clsid));
    CHECK(IsEqualCLSID(clsid, CLSID_CZAVImageOCX));
    clsid = CLSID{};
    CHECK_HR(S_OK, CLSIDFromProgID(L"ZAVImage.ZAVImageOCX.1", &clsid));
    CHECK(IsEqualCLSID(clsid, CLSID_CZAVImageOCX));
}

void CheckInterfaces(const wchar_t *dllPath) {
    IZAVImageOCX *object = nullptr;
    CHECK_HR(S_OK, CoCreateInstance(CLSID_CZAVImageOCX, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IZAVImageOCX, reinterpret_cast<void **>(&object)));
    if (object == nullptr) {
        return;
    }
    // The object comes from the server registered for this program's bitness (in a prefix where
    // both are registered, each registry view names its own).
    wchar_t loaded[MAX_PATH] = L"";
    GetModuleFileNameW(GetModuleHandleW(L"ZAVImage.dll"), loaded, MAX_PATH);
    CHECK_EQ(0, lstrcmpiW(dllPath, loaded));
    IUnknown *unknown = nullptr;
    CHECK_HR(S_OK, object->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)));
    CHECK(unknown == static_cast<IUnknown *>(object));
    IZAVImageOCX *same = nullptr;
    CHECK_HR(S_OK, object->QueryInterface(IID_IZAVImageOCX, reinterpret_cast<void **>(&same)));
    CHECK(same == object);
    IProvideClassInfo *info = nullptr;
    CHECK_HR(S_OK, object->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void **>(&info)));
    CHECK(info != nullptr && static_cast<void *>(info) != static_cast<void *>(object));
    IUnknown *identity = nullptr;
    if (info != nullptr) {
        CHECK_HR(S_OK, info->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)));
        CHECK(identity == unknown);
    }
    for (const IID *refused : {&IID_IDispatch, &IID_IPersist, &IID_IClassFactory,
                               &IID_ISupportErrorInfo, &IID_IProvideClassInfo2}) {
        void *none = reinterpret_cast<void *>(1);
        CHECK_HR(E_NOINTERFACE, object->QueryInterface(*refused, &none));
        CHECK(none == nullptr);
    }
    CHECK_HR(E_POINTER, object->QueryInterface(IID_IUnknown, nullptr));
    // Plain counts: the creation's reference, unknown, same, info, identity.
    CHECK_EQ(6, object->AddRef());
    CHECK_EQ(5, object->Release());
    identity->Release();
    info->Release();
    same->Release();
    unknown->Release();
    CHECK_EQ(0, object->Release());
}

void CheckAggregation() {
    Outer outer;
    void *none = reinterpret_cast<void *>(1);
    CHECK_HR(CLASS_E_NOAGGREGATION,
             CoCreateInstance(CLSID_CZAVImageOCX, &outer, CLSCTX_INPROC_SERVER, IID_IZAVImageOCX,
                              &none));
    CHECK(none == nullptr);
    CHECK_HR(S_OK, CoCreateInstance(CLSID_CZAVImageOCX, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                    reinterpret_cast<void **>(&outer.inner)));
    if (outer.inner == nullptr) {
        return;
    }
    IUnknown *inner = outer.inner;
    CHECK_EQ(1, outer.refs);  // creating the aggregate does not count on the outer object
    IUnknown *innerAgain = nullptr;
    CHECK_HR(S_OK, inner->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&innerAgain)));
    CHECK(innerAgain == inner);
    CHECK_EQ(1, innerAgain->Release());

    // Interfaces handed out by the inner object count on, and answer for, the outer one.
    IZAVImageOCX *image = nullptr;
    CHECK_HR(S_OK, inner->QueryInterface(IID_IZAVImageOCX, reinterpret_cast<void **>(&image)));
    CHECK_EQ(2, outer.refs);
    if (image != nullptr) {
        IUnknown *identity = nullptr;
        const int queries = outer.queries;
        CHECK_HR(S_OK, image->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)));
        CHECK(identity == static_cast<IUnknown *>(&outer));
        CHECK_EQ(queries + 1, outer.queries);
        CHECK_EQ(3, outer.refs);
        identity->Release();
        CHECK_EQ(3, image->AddRef());
        CHECK_EQ(2, image->Release());
        CHECK_HR(S_OK, image->ZAVSetImageQuality(2.0f));
        image->Release();
    }
    CHECK_EQ(1, outer.refs);
    IProvideClassInfo *info = nullptr;
    CHECK_HR(S_OK, inner->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void **>(&info)));
    if (info != nullptr) {
        info->Release();
    }
    void *dispatch = reinterpret_cast<void *>(1);
    CHECK_HR(E_NOINTERFACE, inner->QueryInterface(IID_IDispatch, &dispatch));
    CHECK(dispatch == nullptr);
    CHECK_HR(E_POINTER, inner->QueryInterface(IID_IZAVImageOCX, nullptr));
    CHECK_EQ(0, inner->Release());
    CHECK_EQ(1, outer.refs);
}

void CheckClassInfo() {
    IProvideClassInfo *info = nullptr;
    CHECK_HR(S_OK, CoCreateInstance(CLSID_CZAVImageOCX, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IProvideClassInfo, reinterpret_cast<void **>(&info)));
    if (info == nullptr) {
        return;
    }
    ITypeInfo *first = nullptr;
    ITypeInfo *second = nullptr;
    CHECK_HR(S_OK, info->GetClassInfo(&first));
    CHECK_HR(S_OK, info->GetClassInfo(&second));
    CHECK(first != nullptr && first == second);
    if (first != nullptr) {
        TYPEATTR *attr = nullptr;
        CHECK_HR(S_OK, first->GetTypeAttr(&attr));
        if (attr != nullptr) {
            CHECK(IsEqualGUID(attr->guid, CLSID_CZAVImageOCX));
            CHECK_EQ(TKIND_COCLASS, attr->typekind);
            first->ReleaseTypeAttr(attr);
        }
        first->Release();
    }
    if (second != nullptr) {
        second->Release();
    }
    CHECK_HR(E_POINTER, info->GetClassInfo(nullptr));
    info->Release();
}

}  // namespace

void RunCreationGroup(const wchar_t *dllPath) {
    CheckProgIds();
    CheckInterfaces(dllPath);
    CheckAggregation();
    CheckClassInfo();
}

}  // namespace zavtest
