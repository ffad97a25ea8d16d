// Self-registration: DllRegisterServer and DllUnregisterServer write and remove the class entries
// under HKEY_CLASSES_ROOT (a tree of keys whose strings hold placeholders), then register and
// unregister the type library.
//
// The type library is taken from ZAVImage.tlb beside the module when that file exists: Wine cannot
// read the type-library resource of a Winelib module from a process that has not loaded it, so
// what is registered must be the file. Otherwise the module's own resource 1 is used, and when that
// cannot be loaded, the ".tlb" file after all.
//
// In a 64-bit prefix the 64-bit and the 32-bit server can be registered side by side: each class
// key lies in its own registry view, but the program identifiers and the type library's key are
// one for both views. Unregistration answers for its own platform only: it leaves the shared keys
// to the other server while that one is registered.
#include "server/registration.h"

#include <oleauto.h>

#include "server/ZAVImage_h.h"
#include "server/module.h"

namespace zavsrv {

namespace {

size_t Length(const WCHAR *s) {
    size_t n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The full path of the module's file.
HRESULT GetModulePath(HINSTANCE module, WCHAR (&path)[MAX_PATH]) {
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0) {
        return LastErrorResult();
    }
    if (length >= MAX_PATH) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    return S_OK;
}

// The placeholders of the registration strings are %FriendlyName%, %MODULE%, %MODULETYPE%,
// %APPID% and %MODULEGUID%, their names compared without regard to case. These are the values
// they stand for at one registration.
struct PlaceholderValues {
    const WCHAR *module;      // the library file's full path
    const WCHAR *moduleGuid;  // the type library's identifier, 38 characters with braces
};

constexpr size_t kMaxPlaceholderName = 31;

bool Append(const WCHAR *text, size_t count, WCHAR *out, size_t capacity, size_t *used) {
    if (count >= capacity - *used) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        out[(*used)++] = text[i];
    }
    return true;
}

bool SameName(const WCHAR *name, size_t length, const WCHAR *known) {
    return Length(known) == length &&
           CompareStringOrdinal(name, static_cast<int>(length), known, static_cast<int>(length),
                                TRUE) == CSTR_EQUAL;
}

const WCHAR *Replacement(const WCHAR *name, size_t length, const PlaceholderValues &values) {
    if (SameName(name, length, L"FriendlyName")) {
        return L"CZAVImageOCX Object";
    }
    if (SameName(name, length, L"MODULE")) {
        return values.module;
    }
    if (SameName(name, length, L"MODULETYPE")) {
        return L"InprocServer32";
    }
    if (SameName(name, length, L"APPID")) {
        return L"";
    }
    if (SameName(name, length, L"MODULEGUID")) {
        return values.moduleGuid;
    }
    return nullptr;
}

// Writes text with every placeholder replaced into out (capacity characters, zero included).
// E_FAIL for a placeholder that is unknown, longer than 31 characters or not closed, and for a
// result that does not fit.
HRESULT ExpandPlaceholders(const WCHAR *text, const PlaceholderValues &values, WCHAR *out,
                           size_t capacity) {
    if (capacity == 0) {
        return E_FAIL;
    }
    size_t used = 0;
    for (const WCHAR *p = text; *p != 0;) {
        if (*p != L'%') {
            if (!Append(p, 1, out, capacity, &used)) {
                return E_FAIL;
            }
            ++p;
            continue;
        }
        const WCHAR *name = p + 1;
        const WCHAR *end = name;
        while (*end != 0 && *end != L'%') {
            ++end;
        }
        const size_t length = static_cast<size_t>(end - name);
        if (*end == 0 || length > kMaxPlaceholderName) {
            return E_FAIL;
        }
        const WCHAR *replacement = Replacement(name, length, values);
        if (replacement == nullptr ||
            !Append(replacement, Length(replacement), out, capacity, &used)) {
            return E_FAIL;
        }
        p = end + 1;
    }
    out[used] = 0;
    return S_OK;
}

// The class entries, a tree of keys and values, and the walks that write and remove them.
enum class KeyRule {
    kOpenOrCreate,  // kept on registration; removed on unregistration when it has entries below
    kForceRemove,   // deleted with its subkeys and created afresh on registration
    kNeverRemove,   // never deleted
};

// Where a key lies in a 64-bit prefix.
enum class KeyView {
    kOwn,     // in the registry view of the module's platform
    kShared,  // one key for both views: another platform's server may be using it
};

// A key, or a named value of the key above it.
struct RegistryNode {
    bool isValue;
    const WCHAR *name;
    const WCHAR *value;  // a key's default value (null for none), or a named value's data
    KeyRule rule;
    const RegistryNode *children;
    size_t childCount;
    KeyView view;
};

template <size_t N>
constexpr RegistryNode Key(const WCHAR *name, const WCHAR *value, KeyRule rule,
                           const RegistryNode (&children)[N], KeyView view = KeyView::kOwn) {
    return {false, name, value, rule, children, N, view};
}
constexpr RegistryNode Key(const WCHAR *name, const WCHAR *value, KeyRule rule) {
    return {false, name, value, rule, nullptr, 0, KeyView::kOwn};
}
constexpr RegistryNode Value(const WCHAR *name, const WCHAR *value) {
    return {true, name, value, KeyRule::kOpenOrCreate, nullptr, 0, KeyView::kOwn};
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
        kVersionedProgIdEntries, KeyView::kShared),
    Key(L"ZAVImage.ZAVImageOCX", L"%FriendlyName%", KeyRule::kOpenOrCreate, kProgIdEntries,
        KeyView::kShared),
    Key(L"CLSID", nullptr, KeyRule::kNeverRemove, kClsidEntries),
};

// The server key of the class, whose existence in the other registry view means that the other
// platform's server is registered.
constexpr WCHAR kServerKeyPath[] = L"CLSID\\" ZAV_CLSID_STRING L"\\InprocServer32";

#undef ZAV_CLSID_STRING

// Long enough for a key name (255), a path of 260 characters and any literal of the tree.
constexpr size_t kMaxString = 1024;

bool IsMissing(LONG error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A string value, written with its terminating zero.
LONG SetString(HKEY key, const WCHAR *name, const WCHAR *data) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data),
                          static_cast<DWORD>((Length(data) + 1) * sizeof(WCHAR)));
}

// Deletes the key name under parent with all its subkeys. A key that is not there counts as
// deleted. Returns a Win32 error code.
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

// The registry view of the other platform where there is one: the 32-bit view for the 64-bit
// server, the 64-bit view for the 32-bit server in a 64-bit prefix; none (0) in a 32-bit prefix.
REGSAM OtherPlatformView() {
#ifdef _WIN64
    return KEY_WOW64_32KEY;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
#endif
}

// Whether the other platform's server of this class is registered in its registry view.
bool OtherPlatformRegistered() {
    const REGSAM view = OtherPlatformView();
    if (view == 0) {
        return false;
    }
    HKEY key = nullptr;
    const LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, kServerKeyPath, 0, KEY_READ | view, &key);
    if (error == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    return error == ERROR_SUCCESS;
}

// A key with nothing listed below it goes with its parent; values are never deleted one by one.
// A shared key stays while the other platform's server is registered (keepShared).
HRESULT UnregisterKey(HKEY parent, const RegistryNode &node, const PlaceholderValues &values,
                      bool keepShared) {
    if (node.childCount == 0 || (keepShared && node.view == KeyView::kShared)) {
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
            hr = UnregisterKey(key, node.children[i], values, keepShared);
        }
    }
    RegCloseKey(key);
    if (SUCCEEDED(hr) && node.rule != KeyRule::kNeverRemove) {
        hr = HRESULT_FROM_WIN32(DeleteKeyTree(parent, name));
    }
    return hr;
}

// A character that ends a drive or folder name in a Windows path.
bool IsSeparator(WCHAR c) {
    return c == L'\\' || c == L'/' || c == L':';
}

// path with the file name's extension replaced by ".tlb" (appended when there is none). False when
// the result does not fit in MAX_PATH characters.
bool TlbPathOf(const WCHAR *path, WCHAR (&out)[MAX_PATH]) {
    const size_t length = Length(path);
    size_t stem = length;
    for (size_t i = length; i > 0 && !IsSeparator(path[i - 1]); --i) {
        if (path[i - 1] == L'.') {
            stem = i - 1;
            break;
        }
    }
    const WCHAR kExtension[] = L".tlb";
    const size_t total = stem + Length(kExtension);
    if (total >= MAX_PATH) {
        return false;
    }
    for (size_t i = 0; i < stem; ++i) {
        out[i] = path[i];
    }
    for (size_t i = 0; i <= Length(kExtension); ++i) {
        out[stem + i] = kExtension[i];
    }
    return true;
}

bool FileExists(const WCHAR *path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Loads the type library and names the file it came from in loadedFrom.
HRESULT LoadServerTypeLib(HINSTANCE module, ITypeLib **typeLib, WCHAR (&loadedFrom)[MAX_PATH]) {
    *typeLib = nullptr;
    WCHAR modulePath[MAX_PATH];
    const HRESULT found = GetModulePath(module, modulePath);
    if (FAILED(found)) {
        return found;
    }
    WCHAR tlbPath[MAX_PATH];
    const bool haveTlbPath = TlbPathOf(modulePath, tlbPath);
    if (!haveTlbPath || !FileExists(tlbPath)) {
        if (SUCCEEDED(LoadTypeLib(modulePath, typeLib))) {
            lstrcpynW(loadedFrom, modulePath, MAX_PATH);
            return S_OK;
        }
        if (!haveTlbPath) {
            return E_FAIL;
        }
    }
    const HRESULT hr = LoadTypeLib(tlbPath, typeLib);
    if (SUCCEEDED(hr)) {
        lstrcpynW(loadedFrom, tlbPath, MAX_PATH);
    }
    return hr;
}

const WCHAR *PlatformName(SYSKIND kind) {
    switch (kind) {
        case SYS_WIN16:
            return L"win16";
        case SYS_WIN32:
            return L"win32";
        case SYS_WIN64:
            return L"win64";
        default:
            return nullptr;
    }
}

// TypeLib\{identifier}\major.minor of the library: one key for every platform and locale it is
// registered for. False when the identifier cannot be formatted.
bool VersionKeyPath(const TLIBATTR &attributes, WCHAR (&path)[96]) {
    lstrcpyW(path, L"TypeLib\\");
    const int length = lstrlenW(path);
    if (StringFromGUID2(attributes.guid, path + length, 40) == 0) {
        return false;
    }
    WCHAR version[24];
    wsprintfW(version, L"\\%x.%x", attributes.wMajorVerNum, attributes.wMinorVerNum);
    lstrcatW(path, version);
    return true;
}

// Whether the library's version is registered for its own locale and platform
// (TypeLib\{identifier}\major.minor\locale\platform): one that is not has nothing to remove, and
// unregistering it succeeds, whatever another platform has registered under the same version.
bool IsPlatformRegistered(const TLIBATTR &attributes) {
    WCHAR key[96];
    const WCHAR *platform = PlatformName(attributes.syskind);
    if (!VersionKeyPath(attributes, key) || platform == nullptr) {
        return true;  // the platform's own unregistration gives the answer
    }
    WCHAR entry[40];
    wsprintfW(entry, L"\\%x\\%s", static_cast<unsigned>(attributes.lcid), platform);
    lstrcatW(key, entry);
    HKEY opened = nullptr;
    const LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened);
    if (error == ERROR_SUCCESS) {
        RegCloseKey(opened);
    }
    return !IsMissing(error);
}

// The folder of a registered type library's path, its last separator kept, as registration makes
// the help directory.
void HelpDirOf(const WCHAR *path, WCHAR (&helpDir)[MAX_PATH]) {
    lstrcpynW(helpDir, path, MAX_PATH);
    size_t cut = 0;
    for (size_t i = 0; helpDir[i] != 0; ++i) {
        if (IsSeparator(helpDir[i])) {
            cut = i + 1;
        }
    }
    helpDir[cut] = 0;
}

// The version's help directory is one value for all platforms, and the last registration wrote
// its own. Once this platform is unregistered, an entry of another platform that remains under the
// same locale gets its help directory back: the folder of its registered file. Nothing is written
// when no other platform remains (the version key is gone then).
void RestoreSharedHelpDir(const TLIBATTR &attributes) {
    WCHAR version[96];
    if (!VersionKeyPath(attributes, version)) {
        return;
    }
    WCHAR locale[128];
    wsprintfW(locale, L"%s\\%x", version, static_cast<unsigned>(attributes.lcid));
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, locale, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    WCHAR remaining[MAX_PATH] = L"";
    for (DWORD i = 0; remaining[0] == 0; ++i) {
        WCHAR platform[32];
        DWORD length = 32;
        if (RegEnumKeyExW(key, i, platform, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        LONG size = sizeof remaining - sizeof(WCHAR);
        if (RegQueryValueW(key, platform, remaining, &size) != ERROR_SUCCESS) {
            remaining[0] = 0;
        }
        remaining[MAX_PATH - 1] = 0;
    }
    RegCloseKey(key);
    if (remaining[0] == 0) {
        return;
    }
    WCHAR helpDir[MAX_PATH];
    HelpDirOf(remaining, helpDir);
    WCHAR helpKey[128];
    wsprintfW(helpKey, L"%s\\HELPDIR", version);
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, helpKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        SetString(key, nullptr, helpDir);
        RegCloseKey(key);
    }
}

// Registers the type library under the full path of the file it was loaded from, with that file's
// folder as the help directory.
HRESULT RegisterServerTypeLib(HINSTANCE module) {
    ITypeLib *typeLib = nullptr;
    WCHAR path[MAX_PATH];
    HRESULT hr = LoadServerTypeLib(module, &typeLib, path);
    if (FAILED(hr)) {
        return hr;
    }
    WCHAR helpDir[MAX_PATH];
    HelpDirOf(path, helpDir);
    hr = RegisterTypeLib(typeLib, path, helpDir);
    typeLib->Release();
    return hr;
}

// Unregisters exactly the identifier, version, locale and system kind of the loaded library; the
// other platforms' entries stay as they were.
HRESULT UnregisterServerTypeLib(HINSTANCE module) {
    ITypeLib *typeLib = nullptr;
    WCHAR path[MAX_PATH];
    HRESULT hr = LoadServerTypeLib(module, &typeLib, path);
    if (FAILED(hr)) {
        return hr;
    }
    TLIBATTR *attributes = nullptr;
    hr = typeLib->GetLibAttr(&attributes);
    if (SUCCEEDED(hr)) {
        if (IsPlatformRegistered(*attributes)) {
            hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                   attributes->wMinorVerNum, attributes->lcid, attributes->syskind);
            if (SUCCEEDED(hr)) {
                RestoreSharedHelpDir(*attributes);
            }
        }
        typeLib->ReleaseTLibAttr(attributes);
    }
    typeLib->Release();
    return hr;
}

}  // namespace

HRESULT UpdateZAVImageOCXRegistry(BOOL reg) {
    WCHAR module[MAX_PATH];
    const HRESULT found = GetModulePath(ModuleInstance(), module);
    if (FAILED(found)) {
        return found;
    }
    WCHAR libraryId[40];
    if (StringFromGUID2(LIBID_ZAVImage, libraryId, 40) == 0) {
        return E_FAIL;
    }
    const PlaceholderValues values{module, libraryId};
    const bool keepShared = !reg && OtherPlatformRegistered();
    for (const RegistryNode &root : kRoots) {
        const HRESULT hr = reg ? RegisterKey(HKEY_CLASSES_ROOT, root, values)
                               : UnregisterKey(HKEY_CLASSES_ROOT, root, values, keepShared);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

}  // namespace zavsrv

// The class entries first, then the type library.
extern "C" HRESULT WINAPI DllRegisterServer(void) {
    HRESULT hr = zavsrv::UpdateClassRegistrations(TRUE);
    if (FAILED(hr)) {
        return hr;
    }
    return zavsrv::RegisterServerTypeLib(zavsrv::ModuleInstance());
}

extern "C" HRESULT WINAPI DllUnregisterServer(void) {
    HRESULT hr = zavsrv::UpdateClassRegistrations(FALSE);
    if (FAILED(hr)) {
        return hr;
    }
    hr = zavsrv::UnregisterServerTypeLib(zavsrv::ModuleInstance());
    return FAILED(hr) ? hr : S_OK;
}
