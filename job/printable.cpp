#include "job/printable.h"

#include <locale.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <vector>

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

// East Asian wide ranges as far as they were written out by hand: the measure where no UTF-8
// locale can be made, and for code points glibc's table leaves unassigned.
bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

// glibc's character widths (its table follows Unicode's East Asian widths and general
// categories), read from the C.UTF-8 locale without touching the process's or the thread's
// locale. The locale is made once and never changed; null where it cannot be made.
locale_t WidthLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return locale;
}

// The calling thread measures in the width locale while one of these lives; its own locale
// comes back at the end. Without a width locale it changes nothing and measures by IsWide.
class WidthScope {
  public:
    WidthScope() : m_locale(WidthLocale()) {
        if (m_locale != locale_t{}) {
            m_previous = uselocale(m_locale);
        }
    }
    ~WidthScope() {
        if (m_locale != locale_t{}) {
            uselocale(m_previous);
        }
    }
    WidthScope(const WidthScope &) = delete;
    WidthScope &operator=(const WidthScope &) = delete;

    // Columns of one printable character: 0 for combining and zero-width ones, 2 for wide ones.
    std::size_t Columns(char32_t c) const {
        if (m_locale != locale_t{}) {
            const int width = wcwidth(static_cast<wchar_t>(c));
            if (width >= 0) {
                return static_cast<std::size_t>(width);
            }
        }
        return IsWide(c) ? 2 : 1;
    }

  private:
    locale_t m_locale;
    locale_t m_previous = locale_t{};
};

// Characters that reorder or break what a terminal shows after them: the bidirectional controls
// (embeddings, overrides, isolates, marks) and the line and paragraph separators. A name holding
// U+202E shows its end reversed ("gpj.exe" for "exe.jpg").
bool IsFormatControl(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
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
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || IsFormatControl(c)) {
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

std::size_t DisplayWidth(std::string_view text) {
    const WidthScope scope;
    std::size_t columns = 0;
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = DecodeAt(text, i);
        columns += d.length != 0 ? scope.Columns(d.code) : 1;
        i += d.length != 0 ? d.length : 1;
    }
    return columns;
}

std::string FitColumns(std::string_view text, std::size_t columns) {
    if (DisplayWidth(text) <= columns) {
        return std::string(text);
    }
    if (columns < 4) {
        return std::string(columns, '.');
    }
    // The widths of the characters, then as many from the end as fill columns - 3.
    const WidthScope scope;
    std::vector<std::size_t> starts;
    std::vector<std::size_t> widths;
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = DecodeAt(text, i);
        starts.push_back(i);
        widths.push_back(d.length != 0 ? scope.Columns(d.code) : 1);
        i += d.length != 0 ? d.length : 1;
    }
    std::size_t k = starts.size();
    for (std::size_t kept = 0; k > 0 && kept + widths[k - 1] <= columns - 3; --k) {
        kept += widths[k - 1];
    }
    // A mark or joiner left at the front would join the dots: it goes with its character.
    while (k < starts.size() && widths[k] == 0) {
        ++k;
    }
    return "..." + std::string(text.substr(k < starts.size() ? starts[k] : text.size()));
}

std::string ProgressLine(std::size_t done, std::size_t total, std::size_t failed,
                         std::string_view current, std::size_t columns) {
    // "[#####.....] 120/300, 2 failed  name", one column short of the width so that the cursor
    // never wraps to a new line.
    const std::size_t width = columns > 1 ? columns - 1 : 1;
    std::string counts = " " + std::to_string(done) + "/" + std::to_string(total);
    if (failed != 0) {
        counts += ", " + std::to_string(failed) + " failed";
    }
    std::size_t barWidth = width >= counts.size() + 12 ? (width - counts.size()) / 3 : 0;
    if (barWidth > 30) {
        barWidth = 30;
    }
    std::string line;
    if (barWidth >= 3) {
        const std::size_t inner = barWidth - 2;
        const std::size_t filled = total == 0 ? inner : done * inner / total;
        line = "[" + std::string(filled, '#') + std::string(inner - filled, '.') + "]";
    }
    line += counts;
    if (line.size() > width) {
        line = FitColumns(line, width);
    } else if (line.size() + 2 < width && !current.empty()) {
        line += "  " + FitColumns(current, width - line.size() - 2);
    }
    return line;
}

std::string ShownName(std::string_view name, bool output) {
    if (IsStandardStream(name)) {
        return output ? "standard output" : "standard input";
    }
    return Printable(name);
}

}  // namespace zav::job
