// Registry reading helpers of the test host.
#include "host_registry.h"

#include <algorithm>
#include <cstdio>

#include "host.h"

namespace zavtest {

bool KeyExists(HKEY root, const std::wstring &path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

namespace {

// The names enumerate gives for the indexes 0, 1, ... until it fails, sorted. capacity is the
// longest name in characters, its terminating zero included.
template <typename Enumerate>
std::vector<std::wstring> SortedNames(HKEY root, const std::wstring &path, DWORD capacity,
                                      Enumerate enumerate) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    std::vector<wchar_t> name(capacity);
    for (DWORD i = 0;; ++i) {
        DWORD length = capacity;
        if (enumerate(key, i, name.data(), &length) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name.data(), length);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring &path) {
    return SortedNames(root, path, 256, [](HKEY key, DWORD i, wchar_t *name, DWORD *length) {
        return RegEnumKeyExW(key, i, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring &path) {
    return SortedNames(root, path, 16384, [](HKEY key, DWORD i, wchar_t *name, DWORD *length) {
        return RegEnumValueW(key, i, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::wstring DumpTree(HKEY root, const std::wstring &path) {
    std::wstring dump = L"[" + path + L"]\n";
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return dump + L"(missing)\n";
    }
    for (const std::wstring &name : ValueNames(root, path)) {
        DWORD type = 0;
        BYTE data[4096];
        DWORD size = sizeof data;
        RegQueryValueExW(key, name.c_str(), nullptr, &type, data, &size);
        wchar_t line[64];
        std::swprintf(line, 64, L" type %lu size %lu:", static_cast<unsigned long>(type),
                      static_cast<unsigned long>(size));
        dump += L"\"" + name + L"\"" + line;
        for (DWORD i = 0; i < size; ++i) {
            wchar_t hex[4];
            std::swprintf(hex, 4, L"%02x", data[i]);
            dump += hex;
        }
        dump += L"\n";
    }
    RegCloseKey(key);
    for (const std::wstring &name : SubkeyNames(root, path)) {
        dump += DumpTree(root, path + L"\\" + name);
    }
    return dump;
}

void ExpectString(HKEY root, const std::wstring &path, const wchar_t *name,
                  const std::wstring &expected, const char *file, int line) {
    char where[1024];
    std::snprintf(where, sizeof where, "value \"%ls\" of %ls", name ? name : L"(default)",
                  path.c_str());
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        Report(file, line, (std::string(where) + ": key missing").c_str());
        return;
    }
    DWORD type = 0;
    wchar_t data[2048] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    const LONG error =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(data), &size);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS) {
        Report(file, line, (std::string(where) + ": value missing").c_str());
        return;
    }
    if (type != REG_SZ) {
        Report(file, line, (std::string(where) + ": not REG_SZ").c_str());
    }
    if (size != (expected.size() + 1) * sizeof(wchar_t) || data[expected.size()] != 0) {
        Report(file, line,
               (std::string(where) + ": not stored with exactly one terminating zero").c_str());
    }
    if (expected != data) {
        char message[2048];
        std::snprintf(message, sizeof message, "%s: expected \"%ls\", got \"%ls\"", where,
                      expected.c_str(), data);
        Report(file, line, message);
    }
}

}  // namespace zavtest
