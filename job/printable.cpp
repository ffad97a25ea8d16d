#include "job/printable.h"

#include <cstdint>
#include <cstdio>

namespace zav::job {
namespace {

// One UTF-8 character at text[i]: its code point and length, or length 0 when the bytes are not a
// well-formed character (overlong forms and surrogates included).
struct Decoded {
    char32_t code = 0;
    std::size_t length = 0;
};

Decoded DecodeAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t b0 = byte(i);
    if (b0 < 0x80) {
        return {b0, 1};
    }
    std::size_t length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, code = b0 & 0x1F, least = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, code = b0 & 0x0F, least = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, code = b0 & 0x07, least = 0x10000;
    } else {
        return {};
    }
    if (i + length > text.size()) {
        return {};
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return {};
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return {};
    }
    return {code, length};
}

void AppendHex(std::string &out, uint8_t b) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", b);
    out += hex;
}

}  // namespace

std::string Printable(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const Decoded d = DecodeAt(name, i);
        if (d.length == 0) {
            AppendHex(out, static_cast<uint8_t>(name[i]));
            ++i;
            continue;
        }
        const char32_t c = d.code;
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
            for (std::size_t k = 0; k < d.length; ++k) {
                AppendHex(out, static_cast<uint8_t>(name[i + k]));
            }
        } else {
            out.append(name.substr(i, d.length));
        }
        i += d.length;
    }
    return out;
}

bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = DecodeAt(text, i);
        if (d.length == 0) {
            return false;
        }
        i += d.length;
    }
    return true;
}

std::string ShownName(std::string_view name, bool output) {
    if (IsStandardStream(name)) {
        return output ? "standard output" : "standard input";
    }
    return Printable(name);
}

}  // namespace zav::job
