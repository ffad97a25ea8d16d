// Command-line parsing for the zavimage tool.
#include "tools/zavimage/args.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/zavimage/display.h"

namespace zavtool {
namespace {

[[noreturn]] void Bad(std::string_view option, std::string_view text, std::string_view expected) {
    throw UsageError(std::string(option) + ": '" + Printable(text) + "' is not " +
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

bool ArgReader::Done() {
    if (!m_optionsEnded && m_pos < m_args.size() && m_args[m_pos] == "--") {
        m_optionsEnded = true;
        ++m_pos;
    }
    return m_pos >= m_args.size();
}

std::string_view ArgReader::Next() {
    m_inlineValue.reset();
    std::string_view arg = m_args[m_pos++];
    m_isOption = !m_optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (m_isOption && arg.size() > 2 && arg.substr(0, 2) == "--") {
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
    if (m_pos >= m_args.size()) {
        throw UsageError(std::string(option) + " needs a value");
    }
    return m_args[m_pos++];
}

std::optional<std::string_view> ArgReader::Peek() const {
    if (m_pos >= m_args.size()) {
        return std::nullopt;
    }
    return m_args[m_pos];
}

UsageError UnknownOption(std::string_view option) {
    return UsageError("unknown option " + Printable(option));
}

void ArgReader::Flag(std::string_view option) {
    if (m_inlineValue) {
        throw UsageError(std::string(option) + " takes no value");
    }
}

int32_t ParseInt(std::string_view option, std::string_view text) {
    int32_t value = 0;
    if (!ToInt(text, value)) {
        Bad(option, text, "a whole number");
    }
    return value;
}

int32_t ParseIntIn(std::string_view option, std::string_view text, int32_t low, int32_t high) {
    int32_t value = 0;
    if (!ToInt(text, value) || value < low || value > high) {
        Bad(option, text,
            "a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return value;
}

float ParseFloatIn(std::string_view option, std::string_view text, float low, float high) {
    const std::string copy(text);
    char *end = nullptr;
    const float value = std::strtof(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || !std::isfinite(value) || value < low ||
        value > high) {
        char range[64];
        std::snprintf(range, sizeof range, "a number from %g to %g", static_cast<double>(low),
                      static_cast<double>(high));
        Bad(option, text, range);
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

ZAVImageRect ParseRegion(std::string_view option, std::string_view text) {
    std::vector<std::string_view> parts;
    ZAVImageRect r{};
    if (!Split(text, ',', 4, parts) || !ToInt(parts[0], r.x) || !ToInt(parts[1], r.y) ||
        !ToInt(parts[2], r.width) || !ToInt(parts[3], r.height) || r.width < 1 || r.height < 1) {
        Bad(option, text, "a region X,Y,W,H with W and H at least 1");
    }
    return r;
}

int32_t ParseTextColor(std::string_view option, std::string_view text) {
    static constexpr std::string_view kNames[] = {"blue", "green", "red"};
    for (int32_t code = 0; code < 3; ++code) {
        if (text == kNames[code] || text == std::to_string(code)) {
            return code;
        }
    }
    Bad(option, text, "one of blue, green, red (or 0, 1, 2)");
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
    if (ToInt(text, code) && code >= 0 && code <= 6) {
        return code;
    }
    Bad(option, text, "one of red, green, blue, yellow, white, black (or a code 0 to 6)");
}

}  // namespace zavtool
