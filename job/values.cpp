#include "job/values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "job/printable.h"
#include "job/usage_error.h"

namespace zav::job {
namespace {

struct NamedColor {
    std::string_view name;
    uint32_t rgb;
};
constexpr NamedColor kColors[] = {
    {"black", 0x000000}, {"white", 0xFFFFFF},  {"red", 0xFF0000},    {"green", 0x00FF00},
    {"blue", 0x0000FF},  {"yellow", 0xFFFF00}, {"cyan", 0x00FFFF},   {"magenta", 0xFF00FF},
    {"gray", 0x808080},  {"grey", 0x808080},   {"orange", 0xFFA500},
};
constexpr const char *kColorHelp =
    "a colour: black, white, red, green, blue, yellow, cyan, magenta, gray, orange or #RRGGBB";

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

// A JSON integer or the text of one.
bool JsonInt(const Json &value, int32_t &out) {
    if (value.is_number_integer()) {
        const int64_t v = value.get<int64_t>();
        if (v < INT32_MIN || v > INT32_MAX) {
            return false;
        }
        out = static_cast<int32_t>(v);
        return true;
    }
    if (value.is_number_unsigned()) {
        const uint64_t v = value.get<uint64_t>();
        if (v > INT32_MAX) {
            return false;
        }
        out = static_cast<int32_t>(v);
        return true;
    }
    return value.is_string() && ToInt(value.get_ref<const std::string &>(), out);
}

// A JSON number or the text of one.
bool JsonFloat(const Json &value, double &out) {
    if (value.is_number()) {
        out = value.get<double>();
        return std::isfinite(out);
    }
    if (!value.is_string()) {
        return false;
    }
    const std::optional<double> v = DecimalNumber(value.get_ref<const std::string &>());
    out = v.value_or(0.0);
    return v.has_value();
}

// Integers of a JSON array of `count`, or of "a,b,c" text.
bool JsonInts(const Json &value, std::size_t count, int32_t *out) {
    if (value.is_array()) {
        if (value.size() != count) {
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (value[i].is_string() || !JsonInt(value[i], out[i])) {
                return false;
            }
        }
        return true;
    }
    if (!value.is_string()) {
        return false;
    }
    std::vector<std::string_view> parts;
    if (!Split(value.get_ref<const std::string &>(), ',', count, parts)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!ToInt(parts[i], out[i])) {
            return false;
        }
    }
    return true;
}

bool ToSide(std::string_view text, int32_t &value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    value = static_cast<int32_t>(v);
    return v >= 1;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<uint32_t> ColorOf(std::string_view text) {
    for (const NamedColor &c : kColors) {
        if (text == c.name) {
            return c.rgb;
        }
    }
    if (text.size() != 7 || text[0] != '#') {
        return std::nullopt;
    }
    uint32_t rgb = 0;
    for (std::size_t i = 1; i < 7; ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0) {
            return std::nullopt;
        }
        rgb = rgb * 16 + static_cast<uint32_t>(d);
    }
    return rgb;
}

std::string RangeText(double low, double high) {
    char range[64];
    std::snprintf(range, sizeof range, "a number from %g to %g", low, high);
    return range;
}

}  // namespace

std::string ShownText(std::string_view text, std::size_t characters) {
    std::size_t at = 0;
    for (std::size_t count = 0; at < text.size() && count < characters; ++count) {
        // a lead byte and the continuation bytes after it, as many as it announces
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        std::size_t end = at + 1;
        while (end < text.size() && end - at < length &&
               (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            ++end;
        }
        at = end;
    }
    return at < text.size() ? Printable(text.substr(0, at)) + "..." : Printable(text);
}

std::string ValueText(const Json &value) {
    if (value.is_string()) {
        return ShownText(value.get_ref<const std::string &>());
    }
    return ShownText(value.dump(-1, ' ', false, Json::error_handler_t::replace));
}

std::optional<double> DecimalNumber(std::string_view text) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-') {
            return std::nullopt;
        }
    }
    double v = 0.0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

void Refuse(std::string_view field, const Json &value, std::string_view expected) {
    throw UsageError(std::string(field) + ": '" + ValueText(value) + "' is not " +
                     std::string(expected));
}

std::string ToName(std::string_view field, const Json &value) {
    std::string name;
    if (value.is_string()) {
        name = value.get<std::string>();
    } else if (value.is_object() && value.size() == 1 && value.contains("hex") &&
               value["hex"].is_string()) {
        const std::string &hex = value["hex"].get_ref<const std::string &>();
        if (hex.size() % 2 != 0) {
            Refuse(field, value, "a name in hexadecimal bytes");
        }
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            const int hi = HexDigit(hex[i]);
            const int lo = HexDigit(hex[i + 1]);
            if (hi < 0 || lo < 0) {
                Refuse(field, value, "a name in hexadecimal bytes");
            }
            name.push_back(static_cast<char>(hi * 16 + lo));
        }
    } else {
        Refuse(field, value, "a name (a string, or {\"hex\": ...})");
    }
    if (name.empty() || name.find('\0') != std::string::npos) {
        Refuse(field, value, "a name (not empty, no NUL character)");
    }
    return name;
}

Json NameJson(const std::string &name) {
    if (IsUtf8(name)) {
        return name;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : name) {
        const auto b = static_cast<uint8_t>(c);
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 15]);
    }
    return Json{{"hex", hex}};
}

bool ToBool(std::string_view field, const Json &value) {
    if (!value.is_boolean()) {
        Refuse(field, value, "true or false");
    }
    return value.get<bool>();
}

std::string ToText(std::string_view field, const Json &value) {
    if (!value.is_string()) {
        Refuse(field, value, "a string");
    }
    return value.get<std::string>();
}

int32_t IntIn(std::string_view field, const Json &value, int32_t low, int32_t high) {
    int32_t v = 0;
    if (!JsonInt(value, v) || v < low || v > high) {
        Refuse(field, value,
               "a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return v;
}

float FloatIn(std::string_view field, const Json &value, float low, float high) {
    double v = 0.0;
    if (!JsonFloat(value, v) || v < low || v > high) {
        Refuse(field, value, RangeText(low, high));
    }
    return static_cast<float>(v);
}

Point ToPoint(std::string_view field, const Json &value) {
    int32_t v[2] = {};
    if (!JsonInts(value, 2, v)) {
        Refuse(field, value, "a position X,Y");
    }
    return Point{v[0], v[1]};
}

ZAVImageRect ToRegion(std::string_view field, const Json &value) {
    int32_t v[4] = {};
    if (!JsonInts(value, 4, v) || v[2] < 1 || v[3] < 1) {
        Refuse(field, value, "a region X,Y,W,H with W and H at least 1");
    }
    return ZAVImageRect{v[0], v[1], v[2], v[3]};
}

ResizeRequest ToResize(std::string_view field, const Json &value) {
    constexpr const char *kExpected = "a size WxH, Wx, xH or P% (sides at least 1, P above 0)";
    ResizeRequest r;
    if (value.is_array()) {
        int32_t v[2] = {};
        if (!JsonInts(value, 2, v) || v[0] < 1 || v[1] < 1 || v[0] > 999999999 ||
            v[1] > 999999999) {
            Refuse(field, value, kExpected);
        }
        r.width = v[0];
        r.height = v[1];
        return r;
    }
    if (!value.is_string()) {
        Refuse(field, value, kExpected);
    }
    const std::string_view text = value.get_ref<const std::string &>();
    if (!text.empty() && text.back() == '%') {
        const std::optional<double> percent = DecimalNumber(text.substr(0, text.size() - 1));
        if (!percent || *percent <= 0.0 || *percent > 1e6) {
            Refuse(field, value, kExpected);
        }
        r.percent = *percent;
        return r;
    }
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos || text.find('x', x + 1) != std::string_view::npos) {
        Refuse(field, value, kExpected);
    }
    const std::string_view w = text.substr(0, x);
    const std::string_view h = text.substr(x + 1);
    if ((w.empty() && h.empty()) || (!w.empty() && !ToSide(w, r.width)) ||
        (!h.empty() && !ToSide(h, r.height))) {
        Refuse(field, value, kExpected);
    }
    return r;
}

bool IsColorName(std::string_view text) {
    return ColorOf(text).has_value();
}

uint32_t ToRgb(std::string_view field, const Json &value) {
    if (value.is_string()) {
        if (const std::optional<uint32_t> rgb = ColorOf(value.get_ref<const std::string &>())) {
            return *rgb;
        }
    }
    Refuse(field, value, kColorHelp);
}

float ToOpacity(std::string_view field, const Json &value) {
    double v = 0.0;
    if (value.is_string()) {
        const std::string &text = value.get_ref<const std::string &>();
        if (!text.empty() && text.back() == '%') {
            if (JsonFloat(Json(text.substr(0, text.size() - 1)), v) && v >= 0.0 && v <= 100.0) {
                return static_cast<float>(v / 100.0);
            }
            Refuse(field, value, "an opacity from 0 to 1 or from 0% to 100%");
        }
    }
    if (!JsonFloat(value, v) || v < 0.0 || v > 1.0) {
        Refuse(field, value, "an opacity from 0 to 1 or from 0% to 100%");
    }
    return static_cast<float>(v);
}

int32_t ToBoxColor(std::string_view field, const Json &value) {
    static constexpr std::string_view kNames[] = {"red",    "red",   "green", "blue",
                                                  "yellow", "white", "black"};
    if (value.is_string()) {
        for (int32_t code = 1; code < 7; ++code) {
            if (value.get_ref<const std::string &>() == kNames[code]) {
                return code;
            }
        }
    }
    int32_t code = 0;
    if (JsonInt(value, code) && code >= 0 && code <= 6) {
        return code;
    }
    Refuse(field, value, "one of red, green, blue, yellow, white, black (or a code 0 to 6)");
}

int32_t ToClassicColor(std::string_view field, const Json &value) {
    static constexpr std::string_view kNames[] = {"blue", "green", "red"};
    for (int32_t code = 0; code < 3; ++code) {
        if (value.is_string() && value.get_ref<const std::string &>() == kNames[code]) {
            return code;
        }
    }
    int32_t code = 0;
    if (JsonInt(value, code) && code >= 0 && code <= 2) {
        return code;
    }
    Refuse(field, value, "one of blue, green, red (or 0, 1, 2)");
}

float ToQuality(std::string_view field, const Json &value) {
    double v = 0.0;
    if (JsonFloat(value, v) && v >= 0.0 && v <= 10.0) {
        return static_cast<float>(v);
    }
    std::string message =
        std::string(field) + ": '" + ValueText(value) + "' is not " + RangeText(0.0, 10.0);
    int32_t percent = 0;
    if (JsonInt(value, percent) && percent > 10 && percent <= 100) {
        message += " (the standard tables are divided by it; for a percentage give jpeg_quality " +
                   std::to_string(percent) + ")";
    }
    throw UsageError(message);
}

float ToJpegPercent(std::string_view field, const Json &value) {
    const int32_t percent = IntIn(field, value, 1, 100);
    if (percent > 95 && percent < 100) {
        throw UsageError(std::string(field) + ": " + std::to_string(percent) +
                         " is finer than the JPEG writer reaches (a tenth of the standard "
                         "tables, 95); give 95, or 100 for all steps 1");
    }
    return QualityFromPercent(percent);
}

float QualityFromPercent(int percent) {
    // libjpeg scales the standard tables by S percent: 5000 / P below 50, 200 - 2 P from 50 on,
    // each entry (E * S + 50) / 100, at least 1. The writer divides them by Q and rounds halves
    // up, so Q = 100 / S. The float is taken at or just below 100 / S: 1 / Q is then at or just
    // above S / 100, and an exact half still rounds up as libjpeg's does.
    const int scale = percent < 50 ? 5000 / percent : 200 - 2 * percent;
    if (scale == 0) {
        return 0.0f;  // every step 1
    }
    const double exact = 100.0 / scale;
    float q = static_cast<float>(exact);
    if (static_cast<double>(q) > exact) {
        q = std::nextafter(q, 0.0f);
    }
    return q;
}

std::string ToFormat(std::string_view field, const Json &value) {
    std::string format = value.is_string() ? value.get<std::string>() : std::string();
    if (!format.empty() && format[0] == '.') {
        format.erase(0, 1);
    }
    const std::string ext = NameExtension("." + format);
    if (!WritesExtension(ext) || ext.size() != format.size()) {
        throw UsageError(std::string(field) + ": '" + ValueText(value) +
                         "' is not a format written (" + KnownExtensions() + ")");
    }
    return ext;
}

std::string NameExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    std::string ext;
    if (dot == std::string_view::npos) {
        return ext;
    }
    for (std::size_t i = dot + 1; i < name.size(); ++i) {
        const char c = name[i];
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum) {
            break;
        }
        ext.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return ext;
}

std::string KnownExtensions() {
    std::string list;
    ZAVFormatInfo info{};
    for (int32_t i = 0; ZAVGetFormat(i, &info) == 0; ++i) {
        if (info.writes != 0) {
            list += (list.empty() ? "" : " ") + std::string(info.extensions);
        }
    }
    return list;
}

bool WritesExtension(std::string_view extension) {
    return !extension.empty() && ZAVFindWriterFormat(std::string(extension).c_str()) >= 0;
}

bool KeepsGray(std::string_view extension) {
    ZAVFormatInfo info{};
    const int32_t index = ZAVFindWriterFormat(std::string(extension).c_str());
    if (index < 0 || ZAVGetFormat(index, &info) != 0) {
        return false;
    }
    const std::string_view gray = info.grayExtensions;
    std::size_t start = 0;
    while (start <= gray.size()) {
        std::size_t end = gray.find(' ', start);
        if (end == std::string_view::npos) {
            end = gray.size();
        }
        if (gray.substr(start, end - start) == extension) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace zav::job
