// Windows names to Unix paths: the ANSI code page, the file-name rules, Wine's path mapping.
#include "server/host_path.h"

#include "server/core_bridge.h"
#include "server/heap_buffer.h"

namespace zavsrv {

HostPath::~HostPath() {
    if (unix_ != nullptr) {
        HeapFree(GetProcessHeap(), 0, unix_);
    }
}

bool HostPath::FromBstr(const WCHAR *name) {
    if (name == nullptr || name[0] == 0) {
        return false;
    }
    // The name as the ANSI code page has it; a character the code page lacks becomes its default
    // character, which the rules refuse.
    const int narrowSize = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (narrowSize <= 0) {
        return false;
    }
    HeapBuffer<char> narrow(static_cast<size_t>(narrowSize));
    if (!narrow || WideCharToMultiByte(CP_ACP, 0, name, -1, narrow.get(), narrowSize, nullptr,
                                       nullptr) != narrowSize) {
        return false;
    }
    char checked[zav::kMaxFileNameBytes + 1];
    if (core::NormalizeFileName(narrow.get(), checked) < 0) {
        return false;
    }
    // Back to UTF-16 for Wine's mapping, which resolves drives, relative names and case.
    const int wideSize = MultiByteToWideChar(CP_ACP, 0, checked, -1, nullptr, 0);
    if (wideSize <= 0) {
        return false;
    }
    HeapBuffer<WCHAR> wide(static_cast<size_t>(wideSize));
    if (!wide || MultiByteToWideChar(CP_ACP, 0, checked, -1, wide.get(), wideSize) != wideSize) {
        return false;
    }
    return FromWindowsPath(wide.get());
}

bool HostPath::FromWindowsPath(const WCHAR *path) {
    if (unix_ != nullptr) {
        HeapFree(GetProcessHeap(), 0, unix_);
    }
    unix_ = wine_get_unix_file_name(path);
    return unix_ != nullptr;
}

bool WindowsFileExists(const WCHAR *path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace zavsrv
