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

int32_t ParseIntIn(std::string_view option, std::string_view text, int32_t low, int32_t high) {
    int32_t value = 0;
    if (!ToInt(text, value) || value < low || value > high) {
        Bad(option, text,
            "a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return value;
}

}  // namespace zavtool
