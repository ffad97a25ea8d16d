#include "tools/zavimage/display.h"

#include <nlohmann/json.hpp>

#include "zavimage/job.h"

namespace zavtool {

std::string Printable(std::string_view name) {
    const std::string text(name.substr(0, name.find('\0')));
    std::string out(ZAVPrintableName(text.c_str(), nullptr, 0) + 1, '\0');
    out.resize(ZAVPrintableName(text.c_str(), out.data(), out.size()));
    return out;
}

std::string JsonString(std::string_view text) {
    return nlohmann::json(std::string(text))
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace zavtool
