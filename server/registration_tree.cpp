// The registration tree and its two walks.
#include "server/registration_tree.h"

#include "server/ZAVImage_h.h"
#include "server/module_state.h"
#include "server/registry_placeholders.h"

namespace zavsrv {

namespace {

enum class KeyRule {
    kOpenOrCreate,  // kept on registration; removed on unregistration when it has entries below
    kForceRemove,   // deleted with its subkeys and created afresh on registration
    kNeverRemove,   // never deleted
};

// A key, or a named value of the key above it.
struct RegistryNode {
    bool isValue;
    const WCHAR *name;
    const WCHAR *value;  // a key's default value (null for none), or a named value's data
    KeyRule rule;
    const RegistryNode *children;
    size_t childCount;
};

template <size_t N>
constexpr RegistryNode Key(const WCHAR *name, const WCHAR *value, KeyRule rule,
                           const RegistryNode (&children)[N]) {
    return {false, name, value, rule, children, N};
}
constexpr RegistryNode Key(const WCHAR *name, const WCHAR *value, KeyRule rule) {
    return {false, name, value, rule, nullptr, 0};
}
constexpr RegistryNode Value(const WCHAR *name, const WCHAR *value) {
    return {true, name, value, KeyRule::kOpenOrCreate, nullptr, 0};
}

#define ZAV_CLSID_STRING L"{2E1CAF41-7450-4FBF-9A62-F3D8EDAB91B6}"

constexpr RegistryNode kVersionedProgIdEntries[] = {
    Key(L"CLSID", ZAV_CLSID_STRING, KeyRule::kOpenOrCreate),
};
constexpr RegistryNode kProgIdEntries[] = {
    Key(L"CLSID", ZAV_CLSID_STRING, KeyRule::kOpenOrCreate),
    Key(L"CurVer", L"ZAVImage.ZAVImageOCX.1", KeyRule::kOpenOrCreate),
};
constexpr RegistryNode kServerEntries[] = {
    Value(L"ThreadingModel", L"apartment"),
};
constexpr RegistryNode kClassEntries[] = {
    Key(L"ProgID", L"ZAVImage.ZAVImageOCX.1", KeyRule::kOpenOrCreate),
    Key(L"VersionIndependentProgID", L"ZAVImage.ZAVImageOCX", KeyRule::kOpenOrCreate),
    Key(L"Programmable", nullptr, KeyRule::kForceRemove),
    Key(L"%MODULETYPE%", L"%MODULE%", KeyRule::kOpenOrCreate, kServerEntries),
    Value(L"AppID", L"%APPID%"),
    Key(L"TypeLib", L"%MODULEGUID%", KeyRule::kOpenOrCreate),
};
constexpr RegistryNode kClsidEntries[] = {
    Key(ZAV_CLSID_STRING, L"%FriendlyName%", KeyRule::kForceRemove, kClassEntries),
};
constexpr RegistryNode kRoots[] = {
    Key(L"ZAVImage.ZAVImageOCX.1", L"%FriendlyName%", KeyRule::kOpenOrCreate,
        kVersionedProgIdEntries),
    Key(L"ZAVImage.ZAVImageOCX", L"%FriendlyName%", KeyRule::kOpenOrCreate, kProgIdEntries),
    Key(L"CLSID", nullptr, KeyRule::kNeverRemove, kClsidEntries),
};

#undef ZAV_CLSID_STRING

// Long enough for a key name (255), a path of 260 characters and any literal of the tree.
constexpr size_t kMaxString = 1024;

bool IsMissing(LONG error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A string value, written with its terminating zero.
LONG SetString(HKEY key, const WCHAR *name, const WCHAR *data) {
    DWORD length = 0;
    while (data[length] != 0) {
        ++length;
    }
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data),
                          (length + 1) * sizeof(WCHAR));
}

HRESULT RegisterKey(HKEY parent, const RegistryNode &node, const PlaceholderValues &values) {
    WCHAR name[kMaxString];
    HRESULT hr = ExpandPlaceholders(node.name, values, name, kMaxString);
    if (FAILED(hr)) {
        return hr;
    }
    HKEY key = nullptr;
    LONG error = ERROR_SUCCESS;
    if (node.rule == KeyRule::kForceRemove) {
        error = DeleteKeyTree(parent, name);
        if (error == ERROR_SUCCESS) {
            error = RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                    &key, nullptr);
        }
    } else {
        error = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &key);
        if (error != ERROR_SUCCESS) {
            error = RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                    &key, nullptr);
        }
    }
    if (error != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(error);
    }
    WCHAR data[kMaxString];
    if (node.value != nullptr) {
        hr = ExpandPlaceholders(node.value, values, data, kMaxString);
        if (SUCCEEDED(hr)) {
            error = SetString(key, nullptr, data);
            hr = HRESULT_FROM_WIN32(error);
        }
    }
    for (size_t i = 0; SUCCEEDED(hr) && i < node.childCount; ++i) {
        const RegistryNode &child = node.children[i];
        if (!child.isValue) {
            hr = RegisterKey(key, child, values);
            continue;
        }
        WCHAR valueName[kMaxString];
        hr = ExpandPlaceholders(child.name, values, valueName, kMaxString);
        if (SUCCEEDED(hr)) {
            hr = ExpandPlaceholders(child.value, values, data, kMaxString);
        }
        if (SUCCEEDED(hr)) {
            hr = HRESULT_FROM_WIN32(SetString(key, valueName, data));
        }
    }
    RegCloseKey(key);
    return hr;
}

// A key with nothing listed below it goes with its parent; values are never deleted one by one.
HRESULT UnregisterKey(HKEY parent, const RegistryNode &node, const PlaceholderValues &values) {
    if (node.childCount == 0) {
        return S_OK;
    }
    WCHAR name[kMaxString];
    HRESULT hr = ExpandPlaceholders(node.name, values, name, kMaxString);
    if (FAILED(hr)) {
        return hr;
    }
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &key);
    if (IsMissing(error)) {
        return S_OK;
    }
    if (error != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(error);
    }
    for (size_t i = 0; SUCCEEDED(hr) && i < node.childCount; ++i) {
        if (!node.children[i].isValue) {
            hr = UnregisterKey(key, node.children[i], values);
        }
    }
    RegCloseKey(key);
    if (SUCCEEDED(hr) && node.rule != KeyRule::kNeverRemove) {
        hr = HRESULT_FROM_WIN32(DeleteKeyTree(parent, name));
    }
    return hr;
}

}  // namespace

LONG DeleteKeyTree(HKEY parent, const WCHAR *name) {
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &key);
    if (IsMissing(error)) {
        return ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }
    for (;;) {
        WCHAR subkey[256];
        DWORD length = 256;
        error = RegEnumKeyExW(key, 0, subkey, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (error == ERROR_SUCCESS) {
            error = DeleteKeyTree(key, subkey);
        }
        if (error != ERROR_SUCCESS) {
            RegCloseKey(key);
            return error;
        }
    }
    RegCloseKey(key);
    error = RegDeleteKeyW(parent, name);
    return IsMissing(error) ? ERROR_SUCCESS : error;
}

HRESULT UpdateZAVImageOCXRegistry(BOOL reg) {
    WCHAR module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(ModuleInstance(), module, MAX_PATH);
    if (length == 0) {
        const DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    if (length >= MAX_PATH) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    WCHAR libraryId[40];
    if (StringFromGUID2(LIBID_ZAVImage, libraryId, 40) == 0) {
        return E_FAIL;
    }
    const PlaceholderValues values{module, libraryId};
    for (const RegistryNode &root : kRoots) {
        const HRESULT hr = reg ? RegisterKey(HKEY_CLASSES_ROOT, root, values)
                               : UnregisterKey(HKEY_CLASSES_ROOT, root, values);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

}  // namespace zavsrv
