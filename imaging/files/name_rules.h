// The byte rules every file name passes before a file is opened by it. Header-only and free of the
// standard library's heavier headers: the core and the COM shell (built with wineg++) both compile
// it.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace zav {

// The longest name accepted, in bytes of its narrow form, without the terminating zero.
inline constexpr size_t kMaxFileNameBytes = 259;

// What the rules say of a name.
struct NameCheck {
    size_t length = 0;     // bytes before the terminating zero
    unsigned refused = 0;  // the first refused character (* ? " < > ; |), 0 when there is none
    bool tooLong = false;  // longer than kMaxFileNameBytes
    bool Passes() const { return refused == 0 && !tooLong; }
};

// True for the characters no name may hold.
inline bool IsRefusedNameByte(unsigned char c) {
    switch (c) {
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case ';':
        case '|':
            return true;
        default:
            return false;
    }
}

// Checks a NUL-terminated narrow name. Works on single bytes: bytes of 80 hex and above pass, so
// the trail byte of a double-byte character is examined like any other byte when it is below
// 80 hex. A refused character is found wherever it lies, even past the length limit.
inline NameCheck CheckFileName(const char *name) {
    NameCheck check;
    const auto *p = reinterpret_cast<const unsigned char *>(name);
    for (; p[check.length] != 0; ++check.length) {
        if (check.refused == 0 && IsRefusedNameByte(p[check.length])) {
            check.refused = p[check.length];
        }
    }
    check.tooLong = check.length > kMaxFileNameBytes;
    return check;
}

// Copies `length` bytes of a name that passed the check into `out` (room for length + 1 bytes)
// with backslashes turned into slashes, and ends it with a zero.
inline void CopyNormalizedFileName(const char *name, size_t length, char *out) {
    for (size_t i = 0; i < length; ++i) {
        out[i] = name[i] == '\\' ? '/' : name[i];
    }
    out[length] = '\0';
}

}  // namespace zav
