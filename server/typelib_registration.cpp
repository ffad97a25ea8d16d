// Finding, registering and unregistering the type library.
//
// The library is taken from ZAVImage.tlb beside the module when that file exists: Wine cannot read
// the type-library resource of a Winelib module from a process that has not loaded it, so what is
// registered must be the file. Otherwise the module's own resource 1 is used, and when that cannot
// be loaded, the ".tlb" file after all.
#include "server/typelib_registration.h"

#include <oleauto.h>

namespace zavsrv {

namespace {

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

size_t Length(const WCHAR *s) {
    size_t n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

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
    const DWORD length = GetModuleFileNameW(module, modulePath, MAX_PATH);
    if (length == 0) {
        return LastErrorResult();
    }
    if (length >= MAX_PATH) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
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

// Whether TypeLib\{identifier}\major.minor exists: a version that is not registered has nothing
// to remove, and unregistering it succeeds.
bool IsVersionRegistered(const TLIBATTR &attributes) {
    WCHAR key[96] = L"TypeLib\\";
    const int length = lstrlenW(key);
    if (StringFromGUID2(attributes.guid, key + length, 40) == 0) {
        return true;
    }
    WCHAR version[24];
    wsprintfW(version, L"\\%x.%x", attributes.wMajorVerNum, attributes.wMinorVerNum);
    lstrcatW(key, version);
    HKEY opened = nullptr;
    const LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened);
    if (error == ERROR_SUCCESS) {
        RegCloseKey(opened);
    }
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

}  // namespace

HRESULT RegisterServerTypeLib(HINSTANCE module) {
    ITypeLib *typeLib = nullptr;
    WCHAR path[MAX_PATH];
    HRESULT hr = LoadServerTypeLib(module, &typeLib, path);
    if (FAILED(hr)) {
        return hr;
    }
    // The help directory: the path cut after its last separator, the separator kept.
    WCHAR helpDir[MAX_PATH];
    lstrcpynW(helpDir, path, MAX_PATH);
    size_t cut = 0;
    for (size_t i = 0; helpDir[i] != 0; ++i) {
        if (IsSeparator(helpDir[i])) {
            cut = i + 1;
        }
    }
    helpDir[cut] = 0;
    hr = RegisterTypeLib(typeLib, path, helpDir);
    typeLib->Release();
    return hr;
}

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
        if (IsVersionRegistered(*attributes)) {
            hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                   attributes->wMinorVerNum, attributes->lcid, attributes->syskind);
        }
        typeLib->ReleaseTLibAttr(attributes);
    }
    typeLib->Release();
    return hr;
}

}  // namespace zavsrv
