#include "tools/zavimage/display.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "zavimage/job.h"

namespace zavtool {
namespace {

// Decodes one UTF-8 character at text[i]: its code point and length, or length 0 when the bytes
// are not a well-formed character (overlong forms and surrogates included).
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

}  // namespace

std::string Printable(std::string_view name) {
    const std::string text(name.substr(0, name.find('\0')));
    std::string out(ZAVPrintableName(text.c_str(), nullptr, 0) + 1, '\0');
    out.resize(ZAVPrintableName(text.c_str(), out.data(), out.size()));
    return out;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = DecodeAt(text, i);
        if (d.length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        const char32_t c = d.code;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
            out += esc;
        } else {
            out.append(text.substr(i, d.length));
        }
        i += d.length;
    }
    return out + "\"";
}

}  // namespace zavtool
