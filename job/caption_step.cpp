#include "job/caption_step.h"

#include <sys/stat.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "job/file_reasons.h"
#include "job/printable.h"
#include "job/usage_error.h"

namespace zav::job {
namespace {

struct NamedAnchor {
    std::string_view name;
    CaptionAnchor anchor;
};
constexpr NamedAnchor kAnchors[] = {
    {"top-left", {ZAV_ANCHOR_LEFT, -1}},     {"top", {ZAV_ANCHOR_CENTER, -1}},
    {"top-right", {ZAV_ANCHOR_RIGHT, -1}},   {"left", {ZAV_ANCHOR_LEFT, 0}},
    {"center", {ZAV_ANCHOR_CENTER, 0}},      {"right", {ZAV_ANCHOR_RIGHT, 0}},
    {"bottom-left", {ZAV_ANCHOR_LEFT, 1}},   {"bottom", {ZAV_ANCHOR_CENTER, 1}},
    {"bottom-right", {ZAV_ANCHOR_RIGHT, 1}},
};

// The margin an anchored caption keeps from the edges it is anchored to, when `at` is not given.
constexpr int32_t kMargin = 10;
// Where a caption starts without `at` or an anchor: left edge 10, baseline 40.
constexpr Point kDefaultStart{10, 40};

// The fields a caption takes; those after "classic" only the typographic one.
const std::set<std::string, std::less<>> kFields = {
    "text",    "at",         "size",           "space",        "text_color",
    "classic", "opacity",    "outline",        "background",   "font",
    "anchor",  "face_index", "letter_spacing", "line_spacing", "mono"};
constexpr const char *kTypographicOnly[] = {"opacity",        "outline",      "background",
                                            "font",           "anchor",       "face_index",
                                            "letter_spacing", "line_spacing", "mono"};

bool EndsWith(std::string_view text, std::string_view end) {
    if (text.size() < end.size()) {
        return false;
    }
    for (std::size_t i = 0; i < end.size(); ++i) {
        char c = text[text.size() - end.size() + i];
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (c != end[i]) {
            return false;
        }
    }
    return true;
}

// A font named by file must be a readable file; a name with a slash or a font file's extension is
// taken as a file. Anything else is a fontconfig pattern (which always matches some font).
void CheckFont(const std::string &field, const std::string &font) {
    struct stat st {};
    const bool exists = ::stat(font.c_str(), &st) == 0;
    const bool looksLikeFile = font.find('/') != std::string::npos || EndsWith(font, ".ttf") ||
                               EndsWith(font, ".otf") || EndsWith(font, ".ttc") ||
                               EndsWith(font, ".pfb") || EndsWith(font, ".woff");
    if (font.empty()) {
        throw UsageError(field + ": give a font file or a fontconfig pattern");
    }
    if (!exists && looksLikeFile) {
        throw UsageError(field + ": '" + Printable(font) +
                         "': " + PathProblem(font).value_or("cannot be read"));
    }
    if (exists && !S_ISREG(st.st_mode)) {
        throw UsageError(field + ": '" + Printable(font) + "' is not a file");
    }
}

// "A,B" into A and B; "A" into A alone. A JSON array [A, B, ...] gives its elements.
std::vector<Json> Parts(const Json &value) {
    if (value.is_array()) {
        return std::vector<Json>(value.begin(), value.end());
    }
    if (value.is_string()) {
        const std::string &text = value.get_ref<const std::string &>();
        std::vector<Json> parts;
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = text.find(',', start);
            parts.emplace_back(
                text.substr(start, comma == std::string::npos ? comma : comma - start));
            if (comma == std::string::npos) {
                return parts;
            }
            start = comma + 1;
        }
    }
    return {value};
}

void ReadTypographic(Caption &c, const Json &o, const std::string &prefix) {
    ZAVTextStyle &s = c.style;
    const auto field = [&](const char *name) { return prefix + name; };
    if (c.size > 1024.0f) {
        throw UsageError(field("size") +
                         ": the typographic caption is 1 to 1024 pixels (the classic one takes up "
                         "to 4096)");
    }
    s.pixelSize = c.size;
    s.color = 0xFF0000;
    if (const auto it = o.find("text_color"); it != o.end()) {
        // the classic codes keep their colours
        static constexpr uint32_t kCodes[] = {0x0000FF, 0x00FF00, 0xFF0000};
        int32_t code = -1;
        if (it->is_number_integer() ||
            (it->is_string() && it->get<std::string>().size() == 1 &&
             std::isdigit(static_cast<unsigned char>(it->get<std::string>()[0])))) {
            code = ToClassicColor(field("text_color"), *it);
        }
        s.color = code >= 0 ? kCodes[code] : ToRgb(field("text_color"), *it);
    }
    s.opacity = o.contains("opacity") ? ToOpacity(field("opacity"), o["opacity"]) : 1.0f;
    if (o.contains("letter_spacing")) {
        if (c.space) {
            throw UsageError(field("letter_spacing") + ": give space or letter_spacing, not both");
        }
        s.letterSpacing = FloatIn(field("letter_spacing"), o["letter_spacing"], -1024.0f, 1024.0f);
    } else {
        s.letterSpacing = c.space.value_or(0.0f) * c.size;
    }
    if (o.contains("line_spacing")) {
        s.lineSpacing = FloatIn(field("line_spacing"), o["line_spacing"], 0.0f, 10.0f);
    }
    if (o.contains("mono") && ToBool(field("mono"), o["mono"])) {
        s.flags |= ZAV_TEXT_MONO;
    }
    if (o.contains("face_index")) {
        s.faceIndex = IntIn(field("face_index"), o["face_index"], 0, 65535);
    }
    if (o.contains("outline")) {
        const std::vector<Json> parts = Parts(o["outline"]);
        if (parts.empty() || parts.size() > 3) {
            Refuse(field("outline"), o["outline"], "WIDTH[,COLOR]");
        }
        s.outlineWidth = FloatIn(field("outline"), parts[0], 0.0f, 64.0f);
        s.outlineColor = parts.size() > 1 ? ToRgb(field("outline"), parts[1]) : 0x000000;
        s.outlineOpacity = parts.size() > 2 ? ToOpacity(field("outline"), parts[2]) : s.opacity;
    }
    if (o.contains("background")) {
        const std::vector<Json> parts = Parts(o["background"]);
        if (parts.empty() || parts.size() > 3) {
            Refuse(field("background"), o["background"], "COLOR[,OPACITY]");
        }
        s.backgroundColor = ToRgb(field("background"), parts[0]);
        s.backgroundOpacity = parts.size() > 1 ? ToOpacity(field("background"), parts[1]) : 1.0f;
        if (parts.size() > 2) {
            s.backgroundPadding = IntIn(field("background"), parts[2], 0, 1024);
        }
    }
    if (o.contains("font")) {
        c.font = ToName(field("font"), o["font"]);
        CheckFont(field("font"), *c.font);
    }
    if (c.anchor) {
        s.hAnchor = c.anchor->horizontal;
        s.vAnchor = c.anchor->vertical > 0 ? ZAV_ANCHOR_BOTTOM : ZAV_ANCHOR_TOP;
    } else {
        s.hAnchor = ZAV_ANCHOR_LEFT;
        s.vAnchor = ZAV_ANCHOR_BASELINE;
    }
    // One measure before any work: the font opens, and the block's height centres it.
    const std::unique_ptr<ZAVImageObject, void (*)(ZAVImageObject *)> obj(ZAVCreateObject(),
                                                                          ZAVDestroyObject);
    if (!obj) {
        throw std::bad_alloc();
    }
    ZAVTextMetrics m{};
    ZAVTextStyle withFont = s;
    withFont.font = c.font ? c.font->c_str() : nullptr;
    const int32_t measured = ZAVMeasureTextUtf8(obj.get(), c.text.c_str(), 0, 0, &withFont, &m);
    if (measured == ZAV_TEXT_REFUSED) {
        throw UsageError(prefix + "caption: the style was refused");
    }
    // Pictures are worked on with three channels: the coverage the drawing needs is three times
    // the measure's.
    if (measured == ZAV_TEXT_TOO_LARGE ||
        ZAVCheckTextLimitsUtf8(c.text.c_str(), &withFont, 3) == ZAV_TEXT_TOO_LARGE) {
        throw UsageError(field("text") + ": beyond the caption's limits (" +
                         std::to_string(ZAV_TEXT_MAX_CHARACTERS) + " characters, " +
                         std::to_string(ZAV_TEXT_MAX_LINES) + " lines, " +
                         std::to_string(ZAV_TEXT_MAX_COVERAGE_BYTES >> 20) +
                         " MiB of glyphs at this size)");
    }
    if (measured != ZAV_TEXT_OK && c.font) {
        throw UsageError(field("font") + ": '" + Printable(*c.font) +
                         "' cannot be opened as a font");
    }
    c.blockHeight = m.boxHeight + (s.backgroundOpacity > 0.0f ? 2 * s.backgroundPadding : 0);
}

// The point (x, y) handed to the library: with an anchor, the same point of the picture moved
// inward by `at` (default: the margin from the edges, nothing from a middle); without, `at`.
Point CaptionPoint(const Caption &c, Size size) {
    if (!c.anchor) {
        return c.at.value_or(kDefaultStart);
    }
    const CaptionAnchor a = *c.anchor;
    const int32_t pad = c.style.backgroundOpacity > 0.0f ? c.style.backgroundPadding : 0;
    const int32_t dx = c.at ? c.at->x : a.horizontal == ZAV_ANCHOR_CENTER ? 0 : kMargin;
    const int32_t dy = c.at ? c.at->y : a.vertical == 0 ? 0 : kMargin;
    int64_t x = 0;
    int64_t y = 0;
    switch (a.horizontal) {
        case ZAV_ANCHOR_LEFT:
            x = int64_t{dx} + pad;
            break;
        case ZAV_ANCHOR_CENTER:
            x = int64_t{size.width} / 2 + dx;
            break;
        default:
            x = int64_t{size.width} - dx - pad;
            break;
    }
    if (a.vertical < 0) {
        y = int64_t{dy} + pad;
    } else if (a.vertical == 0) {  // the block's top, so that its middle is on the picture's
        y = int64_t{size.height} / 2 + dy - (c.blockHeight / 2 - pad);
    } else {
        y = int64_t{size.height} - dy - pad;
    }
    const auto clamp = [](int64_t v) {
        return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
    };
    return Point{clamp(x), clamp(y)};
}

}  // namespace

Caption ReadCaption(const Json &o, const std::string &prefix) {
    if (!o.is_object()) {
        throw UsageError(prefix + "caption: '" + ValueText(o) +
                         "' is not a caption ({\"text\": ...})");
    }
    for (const auto &[key, value] : o.items()) {
        if (kFields.count(key) == 0) {
            throw UsageError(prefix + Printable(key) + ": not a field of a caption");
        }
    }
    Caption c;
    if (!o.contains("text")) {
        throw UsageError(prefix + "text: the caption options need the caption's text");
    }
    c.text = ToText(prefix + "text", o["text"]);
    if (c.text.empty()) {
        throw UsageError(prefix + "text: the caption is empty");
    }
    if (c.text.find('\0') != std::string::npos) {
        throw UsageError(prefix + "text: the caption holds a NUL character");
    }
    c.fields = Template::Read(prefix + "text", c.text);
    if (o.contains("at")) {
        c.at = ToPoint(prefix + "at", o["at"]);
    }
    if (o.contains("size")) {
        c.size = FloatIn(prefix + "size", o["size"], 1.0f, 4096.0f);
    }
    if (o.contains("space")) {
        c.space = FloatIn(prefix + "space", o["space"], 0.0f, 10.0f);
    }
    if (o.contains("classic")) {
        c.classic = ToBool(prefix + "classic", o["classic"]);
    }
    if (o.contains("anchor")) {
        const std::string name = ToText(prefix + "anchor", o["anchor"]);
        for (const NamedAnchor &a : kAnchors) {
            if (a.name == name) {
                c.anchor = a.anchor;
            }
        }
        if (!c.anchor) {
            Refuse(prefix + "anchor", o["anchor"],
                   "one of top-left, top, top-right, left, center, right, bottom-left, bottom, "
                   "bottom-right");
        }
    }
    ZAVInitTextStyle(&c.style);
    if (c.classic) {
        for (const char *option : kTypographicOnly) {
            if (o.contains(option)) {
                throw UsageError(prefix + option +
                                 " is for the typographic caption; classic draws the component's "
                                 "own caption (text_color blue, green or red)");
            }
        }
        if (o.contains("text_color")) {
            c.classicColor = ToClassicColor(prefix + "text_color", o["text_color"]);
        }
    } else {
        ReadTypographic(c, o, prefix);
    }
    return c;
}

std::optional<std::string> CaptionMisses(const Caption &caption, Size size) {
    if (!caption.anchor) {
        const Point at = caption.at.value_or(kDefaultStart);
        if (at.x >= 0 && at.x < size.width && at.y >= 0 && at.y < size.height) {
            return std::nullopt;
        }
        return "the caption start " + std::to_string(at.x) + "," + std::to_string(at.y) +
               " lies outside the " + std::to_string(size.width) + " x " +
               std::to_string(size.height) + " picture";
    }
    const CaptionAnchor a = *caption.anchor;
    const int32_t dx = caption.at ? caption.at->x : 0;
    const int32_t dy = caption.at ? caption.at->y : 0;
    const int64_t limitX = a.horizontal == ZAV_ANCHOR_CENTER ? size.width / 2 : size.width;
    const int64_t limitY = a.vertical == 0 ? size.height / 2 : size.height;
    const auto within = [](int64_t d, int64_t limit) { return d >= -limit && d <= limit; };
    const bool centredX = a.horizontal == ZAV_ANCHOR_CENTER;
    const bool centredY = a.vertical == 0;
    if ((centredX ? within(dx, limitX) : dx >= 0 && dx < limitX) &&
        (centredY ? within(dy, limitY) : dy >= 0 && dy < limitY)) {
        return std::nullopt;
    }
    return "the caption offset " + std::to_string(dx) + "," + std::to_string(dy) +
           " from the anchor lies outside the " + std::to_string(size.width) + " x " +
           std::to_string(size.height) + " picture";
}

int32_t MeasureCaption(ZAVImageObject *obj, const Caption &caption, Size size,
                       ZAVTextMetrics &metrics) {
    if (caption.classic) {
        return ZAV_TEXT_REFUSED;
    }
    const Point at = CaptionPoint(caption, size);
    ZAVTextStyle style = caption.style;
    style.font = caption.font ? caption.font->c_str() : nullptr;
    return ZAVMeasureTextUtf8(obj, caption.text.c_str(), at.x, at.y, &style, &metrics);
}

std::optional<std::string> DrawCaption(ZAVImageObject *obj, const ZAVImageStruct &image,
                                       const Caption &caption, const std::string &text) {
    const Point at = CaptionPoint(caption, Size{image.width, image.height});
    if (caption.classic) {
        if (ZAVPutTextToImageUtf8(obj, &image, text.c_str(), at.x, at.y, caption.classicColor,
                                  caption.size, caption.space.value_or(0.1f), 0.0f) != 0) {
            return "no font could be opened for the caption";
        }
        return std::nullopt;
    }
    ZAVTextStyle style = caption.style;  // the font name lives in the caption, not the style
    style.font = caption.font ? caption.font->c_str() : nullptr;
    switch (ZAVDrawTextUtf8(obj, &image, text.c_str(), at.x, at.y, &style)) {
        case ZAV_TEXT_OK:
            return std::nullopt;
        case ZAV_TEXT_INCOMPLETE:
            return "the caption is incomplete: no font could be opened, or memory ran out";
        case ZAV_TEXT_TOO_LARGE:
            return "the caption is beyond its limits (characters, lines, size or glyphs)";
        default:
            return "the caption was refused";
    }
}

}  // namespace zav::job
