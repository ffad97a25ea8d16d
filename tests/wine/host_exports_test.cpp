// The exports and the class object, reached through LoadLibrary and GetProcAddress before the
// component is registered: lock count, class object identity and counts, CreateInstance results,
// LockServer (balanced or not), GetClassInfo without a registered type library, unregistering
// what is not there.
#include "host.h"

namespace zavtest {

namespace {

// An outer object that only needs to exist: aggregation is refused before it is used.
class DummyOuter final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

// The class object through DllGetClassObject, or null (and a failed check).
IClassFactory *ClassObject(const ServerExports &s) {
    IClassFactory *factory = nullptr;
    CHECK_HR(S_OK, s.getClassObject(CLSID_CZAVImageOCX, IID_IClassFactory,
                                    reinterpret_cast<void **>(&factory)));
    return factory;
}

// Takes the class object, calls LockServer on it and lets it go again.
void LockServerOnce(const ServerExports &s, BOOL lock) {
    IClassFactory *factory = ClassObject(s);
    if (factory != nullptr) {
        CHECK_HR(S_OK, factory->LockServer(lock));
        factory->Release();
    }
}

void CheckClassObject(const ServerExports &s) {
    CHECK_HR(S_OK, s.canUnloadNow());
    CHECK_HR(E_POINTER, s.getClassObject(CLSID_CZAVImageOCX, IID_IClassFactory, nullptr));

    void *other = reinterpret_cast<void *>(1);
    CHECK_HR(CLASS_E_CLASSNOTAVAILABLE,
             s.getClassObject(IID_IZAVImageOCX, IID_IClassFactory, &other));
    CHECK(other == nullptr);

    IClassFactory *factory = ClassObject(s);
    if (factory == nullptr) {
        return;
    }
    CHECK_HR(S_FALSE, s.canUnloadNow());
    IUnknown *again = nullptr;
    CHECK_HR(S_OK,
             s.getClassObject(CLSID_CZAVImageOCX, IID_IUnknown, reinterpret_cast<void **>(&again)));
    CHECK(static_cast<IUnknown *>(factory) == again);
    // The module's cache holds one reference, the host two.
    CHECK_EQ(4, factory->AddRef());
    CHECK_EQ(3, factory->Release());
    CHECK_EQ(2, again->Release());
    CHECK_HR(S_FALSE, s.canUnloadNow());

    void *dispatch = reinterpret_cast<void *>(1);
    CHECK_HR(E_NOINTERFACE, factory->QueryInterface(IID_IDispatch, &dispatch));
    CHECK(dispatch == nullptr);

    // CreateInstance results.
    CHECK_HR(E_POINTER, factory->CreateInstance(nullptr, IID_IZAVImageOCX, nullptr));
    void *none = reinterpret_cast<void *>(1);
    CHECK_HR(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IDispatch, &none));
    CHECK(none == nullptr);
    DummyOuter outer;
    none = reinterpret_cast<void *>(1);
    CHECK_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IZAVImageOCX, &none));
    CHECK(none == nullptr);
    IZAVImageOCX *object = nullptr;
    CHECK_HR(S_OK, factory->CreateInstance(nullptr, IID_IZAVImageOCX,
                                           reinterpret_cast<void **>(&object)));
    CHECK_EQ(1, factory->Release());
    // The object alone keeps the module loaded; the refused creations left nothing behind.
    CHECK_HR(S_FALSE, s.canUnloadNow());
    if (object != nullptr) {
        CHECK_EQ(0, object->Release());
    }
    CHECK_HR(S_OK, s.canUnloadNow());
}

void CheckLockServer(const ServerExports &s) {
    LockServerOnce(s, TRUE);
    CHECK_HR(S_FALSE, s.canUnloadNow());
    IClassFactory *factory = ClassObject(s);
    if (factory == nullptr) {
        return;
    }
    CHECK_HR(S_OK, factory->LockServer(FALSE));
    CHECK_HR(S_FALSE, s.canUnloadNow());  // the host's reference
    factory->Release();
    CHECK_HR(S_OK, s.canUnloadNow());
    // An unlock without a lock is ignored: the count never goes below zero, and the next lock
    // holds the module again.
    LockServerOnce(s, FALSE);
    LockServerOnce(s, FALSE);
    CHECK_HR(S_OK, s.canUnloadNow());
    LockServerOnce(s, TRUE);
    CHECK_HR(S_FALSE, s.canUnloadNow());
    LockServerOnce(s, FALSE);
    CHECK_HR(S_OK, s.canUnloadNow());
}

// Unlocks without locks never undo what a held class object or a live object counts.
void CheckUnbalancedUnlock(const ServerExports &s) {
    IClassFactory *factory = ClassObject(s);
    if (factory == nullptr) {
        return;
    }
    CHECK_HR(S_OK, factory->LockServer(FALSE));
    CHECK_HR(S_FALSE, s.canUnloadNow());  // the host's reference to the class object
    IZAVImageOCX *object = nullptr;
    CHECK_HR(S_OK, factory->CreateInstance(nullptr, IID_IZAVImageOCX,
                                           reinterpret_cast<void **>(&object)));
    CHECK_EQ(1, factory->Release());
    CHECK_HR(S_FALSE, s.canUnloadNow());  // the object
    LockServerOnce(s, FALSE);
    CHECK_HR(S_FALSE, s.canUnloadNow());
    if (object != nullptr) {
        CHECK_EQ(0, object->Release());
    }
    CHECK_HR(S_OK, s.canUnloadNow());
}

void CheckClassInfoUnregistered(const ServerExports &s) {
    ITypeLib *registered = nullptr;
    const HRESULT expected = LoadRegTypeLib(LIBID_ZAVImage, 1, 0, 0, &registered);
    CHECK(FAILED(expected));
    IClassFactory *factory = ClassObject(s);
    if (factory == nullptr) {
        return;
    }
    IProvideClassInfo *info = nullptr;
    CHECK_HR(S_OK, factory->CreateInstance(nullptr, IID_IProvideClassInfo,
                                           reinterpret_cast<void **>(&info)));
    factory->Release();
    if (info == nullptr) {
        return;
    }
    ITypeInfo *typeInfo = reinterpret_cast<ITypeInfo *>(1);
    CHECK_HR(expected, info->GetClassInfo(&typeInfo));
    CHECK(typeInfo == nullptr);
    // The next call tries again.
    typeInfo = reinterpret_cast<ITypeInfo *>(1);
    CHECK_HR(expected, info->GetClassInfo(&typeInfo));
    CHECK(typeInfo == nullptr);
    CHECK_HR(E_POINTER, info->GetClassInfo(nullptr));
    info->Release();
    CHECK_HR(S_OK, s.canUnloadNow());
}

// The five exports, numbered from 1 in alphabetical order.
void CheckOrdinals(HMODULE module) {
    const char *names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllMain", "DllRegisterServer",
                           "DllUnregisterServer"};
    for (int i = 0; i < 5; ++i) {
        FARPROC byName = GetProcAddress(module, names[i]);
        CHECK(byName != nullptr);
        CHECK(byName == GetProcAddress(module, MAKEINTRESOURCEA(i + 1)));
    }
    CHECK(GetProcAddress(module, MAKEINTRESOURCEA(6)) == nullptr);
}

}  // namespace

void RunExportsGroup(const wchar_t *dllPath) {
    ServerExports s;
    if (!s.Load(dllPath)) {
        return;
    }
    CheckOrdinals(s.module);
    CheckClassObject(s);
    CheckLockServer(s);
    CheckUnbalancedUnlock(s);
    CheckClassInfoUnregistered(s);
    // Unregistering with nothing registered succeeds and writes nothing.
    CHECK_HR(S_OK, s.unregisterServer());
    HKEY key = nullptr;
    CHECK_EQ(ERROR_FILE_NOT_FOUND,
             RegOpenKeyExW(HKEY_CLASSES_ROOT, L"ZAVImage.ZAVImageOCX", 0, KEY_READ, &key));
}

}  // namespace zavtest
