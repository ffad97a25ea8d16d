// Replacing the placeholders of the registration strings.
#include "server/registry_placeholders.h"

namespace zavsrv {

namespace {

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

size_t Length(const WCHAR *s) {
    size_t n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
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

}  // namespace

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

}  // namespace zavsrv
