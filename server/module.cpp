// The loaded module: its state, built when the library is loaded and torn down when it is
// unloaded, the class object of its one creatable class, and the exports that read them: DllMain,
// DllCanUnloadNow and DllGetClassObject.
#include "server/module.h"

#include <new>

#include "server/ZAVImage_h.h"
#include "server/registration.h"
#include "server/zav_image_ocx.h"

namespace zavsrv {

namespace {

// Builds an object, plain when outer is null and aggregated otherwise, and asks it for riid.
using CreateInstanceProc = HRESULT (*)(IUnknown *outer, REFIID riid, void **ppv);

// The server locks of IClassFactory::LockServer, counted apart from the objects and references
// that also lock the module: an unlock without a lock of its own is ignored, so that it can never
// undo what a live object or a held class object counts.
void AddServerLock();
void RemoveServerLock();

// The class object of a creatable class.
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

    CRITICAL_SECTION m_lock;
    bool m_lockReady;
    LONG m_refs = 0;
    CreateInstanceProc m_createInstance;
};

ClassFactory *ClassFactory::Create(CreateInstanceProc createInstance) {
    ClassFactory *factory = new (std::nothrow) ClassFactory(createInstance);
    if (factory == nullptr) {
        return nullptr;
    }
    if (!factory->m_lockReady) {
        delete factory;
        return nullptr;
    }
    factory->AddRef();
    return factory;
}

ClassFactory::ClassFactory(CreateInstanceProc createInstance)
    : m_lockReady(InitializeCriticalSectionEx(&m_lock, 0, 0) != FALSE),
      m_createInstance(createInstance) {}

ClassFactory::~ClassFactory() {
    if (m_lockReady) {
        DeleteCriticalSection(&m_lock);
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
    EnterCriticalSection(&m_lock);
    const LONG refs = InterlockedIncrement(&m_refs);
    if (refs == 2) {
        LockModule();
    }
    LeaveCriticalSection(&m_lock);
    return static_cast<ULONG>(refs);
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
    EnterCriticalSection(&m_lock);
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 1) {
        UnlockModule();
    }
    LeaveCriticalSection(&m_lock);
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
    return m_createInstance(outer, riid, ppv);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        AddServerLock();
    } else {
        RemoveServerLock();
    }
    return S_OK;
}

// One entry per creatable class.
struct ClassEntry {
    const CLSID *clsid;
    HRESULT (*updateRegistry)(BOOL reg);
    CreateInstanceProc createInstance;
    IClassFactory *classObject;  // created on first request; the cache holds one reference
};

struct ModuleState {
    HINSTANCE instance = nullptr;
    CRITICAL_SECTION resourceLock;
    CRITICAL_SECTION classTableLock;
    CRITICAL_SECTION moduleLock;
    bool resourceLockReady = false;
    bool classTableLockReady = false;
    bool moduleLockReady = false;
    bool tornDown = false;
    LONG lockCount = 0;
    LONG serverLocks = 0;  // the part of lockCount that LockServer added
    ClassEntry classes[1] = {
        {&CLSID_CZAVImageOCX, &UpdateZAVImageOCXRegistry, &ZAVImageOCX::CreateInstance, nullptr}};
    ITypeInfo *classTypeInfo = nullptr;  // guarded by moduleLock
};

ModuleState g_module;

bool InitLock(CRITICAL_SECTION *lock, bool *ready) {
    *ready = InitializeCriticalSectionEx(lock, 0, 0) != FALSE;
    return *ready;
}

void DeleteLock(CRITICAL_SECTION *lock, bool *ready) {
    if (*ready) {
        DeleteCriticalSection(lock);
        *ready = false;
    }
}

// Built in the order: base module (handle, resource lock), class table and its lock, server module
// (lock count, module lock).
bool BuildModuleState(HINSTANCE instance) {
    g_module.instance = instance;
    g_module.lockCount = 0;
    g_module.serverLocks = 0;
    return InitLock(&g_module.resourceLock, &g_module.resourceLockReady) &&
           InitLock(&g_module.classTableLock, &g_module.classTableLockReady) &&
           InitLock(&g_module.moduleLock, &g_module.moduleLockReady);
}

// Reverse order of construction. At process exit (processExit) other modules may already be gone,
// so the cached COM objects are left to the process's end.
void TearDownModuleState(bool processExit) {
    if (g_module.moduleLockReady) {
        EnterCriticalSection(&g_module.moduleLock);
        ITypeInfo *typeInfo = g_module.classTypeInfo;
        g_module.classTypeInfo = nullptr;
        LeaveCriticalSection(&g_module.moduleLock);
        if (typeInfo != nullptr && !processExit) {
            typeInfo->Release();
        }
    }
    DeleteLock(&g_module.moduleLock, &g_module.moduleLockReady);
    for (ClassEntry &entry : g_module.classes) {
        IClassFactory *classObject = entry.classObject;
        entry.classObject = nullptr;
        if (classObject != nullptr) {
            classObject->Release();
        }
    }
    DeleteLock(&g_module.classTableLock, &g_module.classTableLockReady);
    DeleteLock(&g_module.resourceLock, &g_module.resourceLockReady);
    g_module.tornDown = true;
}

IClassFactory *CachedClassObject(const ClassEntry &entry) {
    return __atomic_load_n(&entry.classObject, __ATOMIC_ACQUIRE);
}

// The module is locked before the lock is counted, so that a concurrent unlock that sees the
// count never takes the module's count below zero.
void AddServerLock() {
    LockModule();
    InterlockedIncrement(&g_module.serverLocks);
}

void RemoveServerLock() {
    LONG locks = __atomic_load_n(&g_module.serverLocks, __ATOMIC_ACQUIRE);
    while (locks > 0) {
        if (InterlockedCompareExchange(&g_module.serverLocks, locks - 1, locks) == locks) {
            UnlockModule();
            return;
        }
        locks = __atomic_load_n(&g_module.serverLocks, __ATOMIC_ACQUIRE);
    }
}

}  // namespace

void LockModule() {
    InterlockedIncrement(&g_module.lockCount);
}

void UnlockModule() {
    InterlockedDecrement(&g_module.lockCount);
}

LONG ModuleLockCount() {
    return __atomic_load_n(&g_module.lockCount, __ATOMIC_ACQUIRE);
}

HINSTANCE ModuleInstance() {
    return g_module.instance;
}

HRESULT UpdateClassRegistrations(BOOL reg) {
    for (const ClassEntry &entry : g_module.classes) {
        const HRESULT hr = entry.updateRegistry(reg);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT GetClassTypeInfo(ITypeInfo **ppTI) {
    *ppTI = nullptr;
    HRESULT hr = S_OK;
    EnterCriticalSection(&g_module.moduleLock);
    if (g_module.classTypeInfo == nullptr) {
        ITypeLib *typeLib = nullptr;
        hr = LoadRegTypeLib(LIBID_ZAVImage, 1, 0, 0, &typeLib);
        if (SUCCEEDED(hr)) {
            ITypeInfo *typeInfo = nullptr;
            hr = typeLib->GetTypeInfoOfGuid(CLSID_CZAVImageOCX, &typeInfo);
            typeLib->Release();
            if (SUCCEEDED(hr)) {
                g_module.classTypeInfo = typeInfo;
            }
        }
    }
    if (g_module.classTypeInfo != nullptr) {
        g_module.classTypeInfo->AddRef();
        *ppTI = g_module.classTypeInfo;
    }
    LeaveCriticalSection(&g_module.moduleLock);
    return hr;
}

}  // namespace zavsrv

using zavsrv::g_module;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            if (!zavsrv::BuildModuleState(instance)) {
                zavsrv::TearDownModuleState(true);
                return FALSE;
            }
            return TRUE;
        case DLL_PROCESS_DETACH:
            zavsrv::TearDownModuleState(reserved != nullptr);
            return TRUE;
        default:
            return TRUE;
    }
}

extern "C" HRESULT WINAPI DllCanUnloadNow(void) {
    return zavsrv::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
    if (g_module.tornDown) {
        return E_UNEXPECTED;
    }
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    for (zavsrv::ClassEntry &entry : g_module.classes) {
        if (!IsEqualCLSID(rclsid, *entry.clsid)) {
            continue;
        }
        IClassFactory *classObject = zavsrv::CachedClassObject(entry);
        if (classObject == nullptr) {
            EnterCriticalSection(&g_module.classTableLock);
            classObject = entry.classObject;
            if (classObject == nullptr) {
                classObject = zavsrv::ClassFactory::Create(entry.createInstance);
                if (classObject != nullptr) {
                    __atomic_store_n(&entry.classObject, classObject, __ATOMIC_RELEASE);
                }
            }
            LeaveCriticalSection(&g_module.classTableLock);
            if (classObject == nullptr) {
                return E_OUTOFMEMORY;
            }
        }
        const HRESULT hr = classObject->QueryInterface(riid, ppv);
        if (SUCCEEDED(hr) && *ppv == nullptr) {
            return CLASS_E_CLASSNOTAVAILABLE;
        }
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}
