#include "imaging/files/file_name.h"

#include "zavimage/zavimage.h"

namespace zav {

namespace {

void AppendUtf8(std::string *out, char32_t c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

std::optional<std::string> Utf16ToUtf8Name(const char16_t *name) {
    if (name == nullptr) {
        return std::nullopt;
    }
    std::string out;
    for (const char16_t *p = name; *p != 0; ++p) {
        const char16_t c = *p;
        if (IsHighSurrogate(c) && IsLowSurrogate(p[1])) {
            const char32_t code = 0x10000 + ((char32_t{c} - 0xD800) << 10) + (p[1] - 0xDC00);
            AppendUtf8(&out, code);
            ++p;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            out.push_back('?');  // what the narrow form cannot hold; the name check refuses it
        } else {
            AppendUtf8(&out, c);
        }
    }
    return out;
}

int32_t NormalizeImageFileName(const char *name, std::string *normalized) {
    if (name == nullptr || name[0] == '\0') {
        return ZAV_FILE_NO_NAME;
    }
    const NameCheck check = CheckFileName(name);
    if (check.refused != 0) {
        return ZAV_FILE_NAME_REFUSED + static_cast<int32_t>(check.refused);
    }
    if (check.tooLong) {
        return ZAV_FILE_NAME_TOO_LONG;
    }
    normalized->resize(check.length);
    CopyNormalizedFileName(name, check.length, normalized->data());
    return ZAV_FILE_OK;
}

}  // namespace zav
