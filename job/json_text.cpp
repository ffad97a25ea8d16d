#include "job/json_text.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "job/usage_error.h"
#include "job/values.h"

namespace zav::job {
namespace {

// nlohmann's message without its "[json.exception.parse_error.101] " prefix, as messages show a
// value: escaped and cut (its "last read: '...'" may hold a whole string of the text).
// Within one line of a file nlohmann's "at line 1, column 9" is said "at column 9".
std::string Detail(const Json::exception &e, bool oneLine) {
    std::string text = e.what();
    if (!text.empty() && text[0] == '[') {
        if (const std::size_t end = text.find("] "); end != std::string::npos) {
            text.erase(0, end + 2);
        }
    }
    if (const std::size_t at = text.find(" at line 1, column ");
        oneLine && at != std::string::npos) {
        text.erase(at + 4, 8);  // "line 1, "
    }
    return ShownText(text, 2 * kShownCharacters);
}

// The keys as a path, "boxes.x" (lists between them have no key).
std::string Joined(const std::vector<std::string> &keys) {
    std::string path;
    for (const std::string &key : keys) {
        if (!key.empty()) {
            path += (path.empty() ? "" : ".") + key;
        }
    }
    return path;
}

}  // namespace

Json ParseJsonText(std::string_view text, std::string_view what, std::size_t line) {
    const std::string where =
        std::string(what) + (line > 0 ? " line " + std::to_string(line) : std::string()) + ": ";
    // The keys leading to where the parser is: keys[d] is the key read inside the object opened
    // at depth d (the outermost object at depth 0).
    std::vector<std::string> keys;
    const Json::parser_callback_t bounded = [&](int depth, Json::parse_event_t event,
                                                Json &parsed) {
        const auto level = static_cast<std::size_t>(depth);
        switch (event) {
            case Json::parse_event_t::object_start:
            case Json::parse_event_t::array_start:
                if (depth >= kMaxJsonDepth) {
                    throw UsageError(where + "nested deeper than " + std::to_string(kMaxJsonDepth) +
                                     " levels" +
                                     (keys.empty() || keys.front().empty()
                                          ? std::string()
                                          : " in '" + ShownText(keys.front()) + "'"));
                }
                break;
            case Json::parse_event_t::key:
                // depth is the number of values open: the key belongs to the one at depth - 1
                keys.resize(level);
                keys[level - 1] = parsed.get<std::string>();
                break;
            case Json::parse_event_t::object_end:
            case Json::parse_event_t::array_end:
                if (keys.size() > level) {
                    keys.resize(level);
                }
                break;
            case Json::parse_event_t::value:
                break;
        }
        return true;
    };
    try {
        return Json::parse(text.begin(), text.end(), bounded);
    } catch (const Json::out_of_range &e) {
        // a number whose magnitude no double holds (406): the only range fault of the parser
        std::string number;
        if (const std::string_view message = e.what();
            message.find("number overflow parsing '") != std::string_view::npos) {
            const std::size_t from = message.find('\'') + 1;
            number = std::string(message.substr(from, message.rfind('\'') - from));
        }
        throw UsageError(
            where + "a number beyond the range of a double" +
            (Joined(keys).empty() ? std::string() : " in '" + ShownText(Joined(keys)) + "'") +
            (number.empty() ? std::string() : " (" + ShownText(number) + ")"));
    } catch (const Json::exception &e) {
        throw UsageError(where + "not JSON: " + Detail(e, line > 0));
    }
}

}  // namespace zav::job
