#include "job/json_text.h"

#include <nlohmann/json.hpp>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "job/usage_error.h"
#include "job/values.h"

namespace zav::job {
namespace {

// nlohmann's message without its "[json.exception.parse_error.101] " prefix, as messages show a
// value: escaped and cut (its "last read: '...'" may hold a whole string of the text). Within one
// line of a file its "at line 1, column 9" is said "at column 9".
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

// The value built from nlohmann's events (its SAX interface), refusing an array or object
// opened kMaxJsonDepth deep. nlohmann's own callback parser would tell the depth too, but it
// scans an array for discarded values each time an element closes: quadratic in a line of
// many small objects.
class BoundedBuilder {
  public:
    explicit BoundedBuilder(std::string where, bool oneLine)
        : m_where(std::move(where)), m_oneLine(oneLine) {}

    Json Take() { return std::move(m_root); }

    bool null() { return Place(nullptr) != nullptr; }
    bool boolean(bool v) { return Place(v) != nullptr; }
    bool number_integer(Json::number_integer_t v) { return Place(v) != nullptr; }
    bool number_unsigned(Json::number_unsigned_t v) { return Place(v) != nullptr; }
    bool number_float(Json::number_float_t v, const Json::string_t &) {
        return Place(v) != nullptr;
    }
    bool string(Json::string_t &v) { return Place(std::move(v)) != nullptr; }
    bool binary(Json::binary_t &v) { return Place(Json::binary(std::move(v))) != nullptr; }
    bool start_object(std::size_t) { return Open(Json::object()); }
    bool start_array(std::size_t) { return Open(Json::array()); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }

    bool key(Json::string_t &k) {
        // keys[d] is the key read in the object opened at depth d (the outermost at 0)
        m_keys.resize(m_open.size());
        m_keys.back() = k;
        m_element = &(*m_open.back())[k];
        return true;
    }

    template <class Exception>
    bool parse_error(std::size_t, const std::string &token, const Exception &e) {
        if constexpr (std::is_same_v<Exception, Json::out_of_range>) {
            // a number whose magnitude no double holds (406), the token its text
            const std::string path = Path();
            throw UsageError(m_where + "a number beyond the range of a double" +
                             (path.empty() ? "" : " in '" + ShownText(path) + "'") + " (" +
                             ShownText(token) + ")");
        }
        throw UsageError(m_where + "not JSON: " + Detail(e, m_oneLine));
    }

  private:
    Json *Place(Json &&value) {
        if (m_open.empty()) {
            m_root = std::move(value);
            return &m_root;
        }
        Json &parent = *m_open.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        *m_element = std::move(value);
        return m_element;
    }

    bool Open(Json &&empty) {
        if (m_open.size() >= static_cast<std::size_t>(kMaxJsonDepth)) {
            throw UsageError(m_where + "nested deeper than " + std::to_string(kMaxJsonDepth) +
                             " levels" +
                             (m_keys.empty() || m_keys.front().empty()
                                  ? std::string()
                                  : " in '" + ShownText(m_keys.front()) + "'"));
        }
        m_open.push_back(Place(std::move(empty)));
        return true;
    }

    bool Close() {
        m_open.pop_back();
        if (m_keys.size() > m_open.size()) {
            m_keys.resize(m_open.size());
        }
        return true;
    }

    // The keys leading to where the parser is, "boxes.x" (lists between them have none).
    std::string Path() const {
        std::string path;
        for (const std::string &key : m_keys) {
            if (!key.empty()) {
                path += (path.empty() ? "" : ".") + key;
            }
        }
        return path;
    }

    const std::string m_where;  // "WHAT[ line N]: "
    const bool m_oneLine;
    Json m_root;
    std::vector<Json *> m_open;  // the arrays and objects open, the outermost first
    std::vector<std::string> m_keys;
    Json *m_element = nullptr;  // where the value after an object's key goes
};

}  // namespace

Json ParseJsonText(std::string_view text, std::string_view what, std::size_t line) {
    BoundedBuilder builder(
        std::string(what) + (line > 0 ? " line " + std::to_string(line) : std::string()) + ": ",
        line > 0);
    Json::sax_parse(text.begin(), text.end(), &builder);
    return builder.Take();
}

}  // namespace zav::job
