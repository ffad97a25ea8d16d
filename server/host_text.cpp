// ANSI code page text to UTF-8.
#include "server/host_text.h"

#include "server/heap_buffer.h"

namespace zavsrv {

Utf8Text::~Utf8Text() {
    if (utf8_ != nullptr) {
        HeapFree(GetProcessHeap(), 0, utf8_);
    }
}

bool Utf8Text::FromAnsi(const unsigned char *text) {
    if (text == nullptr) {
        return true;
    }
    const char *narrow = reinterpret_cast<const char *>(text);
    const int wideSize = MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
    if (wideSize <= 0) {
        return false;
    }
    HeapBuffer<WCHAR> wide(static_cast<size_t>(wideSize));
    if (!wide || MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide.get(), wideSize) != wideSize) {
        return false;
    }
    const int utf8Size =
        WideCharToMultiByte(CP_UTF8, 0, wide.get(), wideSize, nullptr, 0, nullptr, nullptr);
    if (utf8Size <= 0) {
        return false;
    }
    char *utf8 = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, utf8Size));
    if (utf8 == nullptr) {
        return false;
    }
    if (WideCharToMultiByte(CP_UTF8, 0, wide.get(), wideSize, utf8, utf8Size, nullptr, nullptr) !=
        utf8Size) {
        HeapFree(GetProcessHeap(), 0, utf8);
        return false;
    }
    utf8_ = utf8;
    return true;
}

}  // namespace zavsrv
