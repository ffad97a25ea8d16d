// After unregistration: the component's keys are gone, CLSID and other classes stay, the type
// library is no longer registered; unregistering a partial tree, or nothing, succeeds.
#include <string>

#include "host.h"
#include "host_registry.h"

namespace zavtest {

namespace {

const std::wstring kClassKey = std::wstring(L"CLSID\\") + kClsidString;

void CheckNothingRegistered() {
    CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"ZAVImage.ZAVImageOCX.1"));
    CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"ZAVImage.ZAVImageOCX"));
    CHECK(!KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    CHECK(!KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibidString + L"\\1.0"));
}

}  // namespace

void RunUnregisteredGroup(const wchar_t *) {
    CheckNothingRegistered();
    // CLSID itself and the other classes stay (ole32's file moniker, for one).
    CHECK(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    CHECK(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{00000303-0000-0000-C000-000000000046}"));
    CHECK(SubkeyNames(HKEY_CLASSES_ROOT, L"CLSID").size() > 100);
    CLSID clsid{};
    CHECK(FAILED(CLSIDFromProgID(L"ZAVImage.ZAVImageOCX", &clsid)));
    void *object = reinterpret_cast<void *>(1);
    CHECK_HR(REGDB_E_CLASSNOTREG,
             CoCreateInstance(CLSID_CZAVImageOCX, nullptr, CLSCTX_INPROC_SERVER, IID_IZAVImageOCX,
                              &object));
    CHECK(object == nullptr);
    ITypeLib *lib = nullptr;
    CHECK(FAILED(LoadRegTypeLib(LIBID_ZAVImage, 1, 0, 0, &lib)));
}

void RunPartialUnregisterGroup(const wchar_t *dllPath) {
    ServerExports s;
    if (!s.Load(dllPath)) {
        return;
    }
    // Only the versioned program identifier is there, with a stray subkey of its own.
    HKEY key = nullptr;
    CHECK_EQ(ERROR_SUCCESS,
             RegCreateKeyExW(HKEY_CLASSES_ROOT, L"ZAVImage.ZAVImageOCX.1\\CLSID\\Stray", 0, nullptr,
                             0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
    CHECK_HR(S_OK, s.unregisterServer());
    CheckNothingRegistered();
    // Only the class key, without its server key.
    CHECK_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClassKey + L"\\ProgID").c_str(), 0,
                                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
    CHECK_HR(S_OK, s.unregisterServer());
    CheckNothingRegistered();
    CHECK_HR(S_OK, s.unregisterServer());
}

}  // namespace zavtest
