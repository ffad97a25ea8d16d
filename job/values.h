// The values of a job description, read from JSON or from the text the command-line tool takes
// ("10,40", "640x", "50%"), each checked; a value out of range is a UsageError naming the field
// and the value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "zavimage/zavimage.h"

namespace zav::job {

using Json = nlohmann::json;

struct Point {
    int32_t x = 0;
    int32_t y = 0;
};

struct Size {
    int32_t width = 0;
    int32_t height = 0;
};

// A new size: both sides, one side (the other keeps the aspect), or a percentage of both.
struct ResizeRequest {
    int32_t width = 0;     // 0: follows the height
    int32_t height = 0;    // 0: follows the width
    double percent = 0.0;  // above 0: both sides scaled by it
};

// Characters of a value that messages show; a longer value is cut after them.
constexpr std::size_t kShownCharacters = 72;

// Text as messages show a value: escaped as Printable does, cut between characters after
// `characters` of them (a byte that is not UTF-8 counts as one), "..." marking the cut.
std::string ShownText(std::string_view text, std::size_t characters = kShownCharacters);

// The value as messages show it: a string as it is, anything else as JSON; escaped and cut as
// ShownText does.
std::string ValueText(const Json &value);

// A decimal number ("20.5", "-3", "+1e3", "2.5e-1") read the same whatever the host's locale,
// the whole text; none for anything else, for infinities, NaN and numbers beyond a double's
// range.
std::optional<double> DecimalNumber(std::string_view text);

// "FIELD: 'VALUE' is not EXPECTED".
[[noreturn]] void Refuse(std::string_view field, const Json &value, std::string_view expected);

// A file or folder name: a JSON string, or {"hex": "2f746d70..."} for a name whose bytes are not
// UTF-8 (JSON strings must be). Never empty, never holding a NUL.
std::string ToName(std::string_view field, const Json &value);
// A name as a job document holds it: a string when it is UTF-8, else {"hex": ...}.
Json NameJson(const std::string &name);

bool ToBool(std::string_view field, const Json &value);
std::string ToText(std::string_view field, const Json &value);  // a string
int32_t IntIn(std::string_view field, const Json &value, int32_t low, int32_t high);
float FloatIn(std::string_view field, const Json &value, float low, float high);
Point ToPoint(std::string_view field, const Json &value);  // "X,Y" or [X, Y]
// "X,Y,W,H" or [X, Y, W, H], W and H at least 1.
ZAVImageRect ToRegion(std::string_view field, const Json &value);
// "WxH", "Wx", "xH", "P%" or [W, H]; sides at least 1, P above 0.
ResizeRequest ToResize(std::string_view field, const Json &value);
// A colour name (black, white, red, green, blue, yellow, cyan, magenta, gray, orange) or
// "#RRGGBB": 0xRRGGBB.
uint32_t ToRgb(std::string_view field, const Json &value);
bool IsColorName(std::string_view text);
// 0 to 1, or "0%" to "100%".
float ToOpacity(std::string_view field, const Json &value);
// red, green, blue, yellow, white, black or a code 0 to 6: the marker's colour code.
int32_t ToBoxColor(std::string_view field, const Json &value);
// blue, green, red or 0, 1, 2: the classic caption's colour code.
int32_t ToClassicColor(std::string_view field, const Json &value);
// The JPEG quality on the library's scale, 0 to 10.
float ToQuality(std::string_view field, const Json &value);
// The JPEG quality as a percentage (1 to 95, or 100), as the quality that gives libjpeg's tables
// for it.
float ToJpegPercent(std::string_view field, const Json &value);
float QualityFromPercent(int percent);
// An extension the library writes, with or without its dot, in lower case.
std::string ToFormat(std::string_view field, const Json &value);

// The extension as the library reads it from a name: the run of ASCII letters and digits after
// the name's last dot, in lower case; empty when there is none.
std::string NameExtension(std::string_view name);
// Every extension written, for messages: "bmp dib jpeg ...".
std::string KnownExtensions();
// Whether the library writes names with this extension; whether it writes them gray.
bool WritesExtension(std::string_view extension);
bool KeepsGray(std::string_view extension);

}  // namespace zav::job
