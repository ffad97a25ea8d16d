// Command-line parsing for the zavimage tool.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "tools/zavimage/cli.h"

namespace zavtool {
namespace {

[[noreturn]] void Bad(std::string_view option, std::string_view text, std::string_view expected) {
    throw UsageError(std::string(option) + ": '" + std::string(text) + "' is not " +
                     std::string(expected));
}

// Splits "a<sep>b<sep>c" into exactly `count` parts; false when the count differs.
bool Split(std::string_view text, char sep, std::size_t count, std::vector<std::string_view> &out) {
    out.clear();
    std::size_t start = 0;
    while (true) {
        const std::size_t at = text.find(sep, start);
        out.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) {
            break;
        }
        start = at + 1;
    }
    return out.size() == count;
}

bool ToInt(std::string_view text, int32_t &value) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

int32_t ParseInt(std::string_view option, std::string_view text) {
    int32_t value = 0;
    if (!ToInt(text, value)) {
        Bad(option, text, "a whole number");
    }
    return value;
}

float ParseFloat(std::string_view option, std::string_view text) {
    const std::string copy(text);
    char *end = nullptr;
    const float value = std::strtof(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || !std::isfinite(value)) {
        Bad(option, text, "a number");
    }
    return value;
}

Point ParsePoint(std::string_view option, std::string_view text) {
    std::vector<std::string_view> parts;
    Point p;
    if (!Split(text, ',', 2, parts) || !ToInt(parts[0], p.x) || !ToInt(parts[1], p.y)) {
        Bad(option, text, "a position X,Y");
    }
    return p;
}

ZAVImageRect ParseRect(std::string_view option, std::string_view text) {
    std::vector<std::string_view> parts;
    ZAVImageRect r{};
    if (!Split(text, ',', 4, parts) || !ToInt(parts[0], r.x) || !ToInt(parts[1], r.y) ||
        !ToInt(parts[2], r.width) || !ToInt(parts[3], r.height)) {
        Bad(option, text, "a rectangle X,Y,W,H");
    }
    return r;
}

Size ParseSize(std::string_view option, std::string_view text) {
    std::vector<std::string_view> parts;
    Size s;
    if (!Split(text, 'x', 2, parts) || !ToInt(parts[0], s.width) || !ToInt(parts[1], s.height) ||
        s.width < 1 || s.height < 1) {
        Bad(option, text, "a size WxH of at least 1x1");
    }
    return s;
}

int32_t ParseTextColor(std::string_view option, std::string_view text) {
    if (text == "blue" || text == "0") {
        return 0;
    }
    if (text == "green" || text == "1") {
        return 1;
    }
    if (text == "red" || text == "2") {
        return 2;
    }
    Bad(option, text, "one of blue, green, red");
}

int32_t ParseBoxColor(std::string_view option, std::string_view text) {
    static constexpr std::string_view kNames[] = {"red",    "red",   "green", "blue",
                                                  "yellow", "white", "black"};
    for (int32_t code = 1; code < 7; ++code) {
        if (text == kNames[code]) {
            return code;
        }
    }
    int32_t code = 0;
    if (ToInt(text, code)) {
        return code;
    }
    Bad(option, text, "a colour (red, green, blue, yellow, white, black) or a colour code");
}

std::string_view ArgReader::Next() {
    m_inlineValue.reset();
    std::string_view arg = m_args[m_pos++];
    if (arg.size() > 2 && arg.substr(0, 2) == "--") {
        const std::size_t eq = arg.find('=');
        if (eq != std::string_view::npos) {
            m_inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
    }
    return arg;
}

std::string_view ArgReader::Value(std::string_view option) {
    if (m_inlineValue) {
        const std::string_view v = *m_inlineValue;
        m_inlineValue.reset();
        return v;
    }
    if (Done()) {
        throw UsageError(std::string(option) + " needs a value");
    }
    return m_args[m_pos++];
}

}  // namespace zavtool
