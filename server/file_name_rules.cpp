// The byte rules for file names.
#include "server/file_name_rules.h"

namespace zavsrv {

namespace {

bool IsRefused(unsigned char c) {
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

}  // namespace

int NormalizeImageFileName(const char *name, char (&out)[kMaxImageFileName + 1]) {
    size_t n = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p != 0; ++p) {
        const unsigned char c = *p;
        if (c < 0x80 && IsRefused(c)) {
            return -1;
        }
        if (n == kMaxImageFileName) {
            return -1;
        }
        out[n++] = static_cast<char>(c == '\\' ? '/' : c);
    }
    out[n] = '\0';
    return static_cast<int>(n);
}

}  // namespace zavsrv
