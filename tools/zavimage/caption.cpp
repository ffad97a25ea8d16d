#include "tools/zavimage/caption.h"

#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "tools/zavimage/display.h"
#include "tools/zavimage/geometry.h"
#include "tools/zavimage/image.h"

namespace zavtool {
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

// The margin an anchored caption keeps from the edges it is anchored to, when --at is not given.
constexpr int32_t kMargin = 10;

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

std::optional<uint32_t> ToColor(std::string_view text) {
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

uint32_t ParseColor(std::string_view option, std::string_view text) {
    if (const std::optional<uint32_t> rgb = ToColor(text)) {
        return *rgb;
    }
    throw UsageError(std::string(option) + ": '" + Printable(text) + "' is not " + kColorHelp);
}

// 0 to 1, or 0% to 100%.
float ParseOpacity(std::string_view option, std::string_view text) {
    if (!text.empty() && text.back() == '%') {
        const std::string_view number = text.substr(0, text.size() - 1);
        try {
            return ParseFloatIn(option, number, 0.0f, 100.0f) / 100.0f;
        } catch (const UsageError &) {
        }
    } else {
        try {
            return ParseFloatIn(option, text, 0.0f, 1.0f);
        } catch (const UsageError &) {
        }
    }
    throw UsageError(std::string(option) + ": '" + Printable(text) +
                     "' is not an opacity from 0 to 1 or from 0% to 100%");
}

// "A,B" into A and B; "A" into A and none.
std::pair<std::string_view, std::optional<std::string_view>> SplitPair(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) {
        return {text, std::nullopt};
    }
    return {text.substr(0, comma), text.substr(comma + 1)};
}

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
void CheckFont(const std::string &font) {
    struct stat st {};
    const bool exists = ::stat(font.c_str(), &st) == 0;
    const bool looksLikeFile = font.find('/') != std::string::npos || EndsWith(font, ".ttf") ||
                               EndsWith(font, ".otf") || EndsWith(font, ".ttc") ||
                               EndsWith(font, ".pfb") || EndsWith(font, ".woff");
    if (font.empty()) {
        throw UsageError("--font: give a font file or a fontconfig pattern");
    }
    if (!exists && looksLikeFile) {
        throw UsageError("--font: '" + Printable(font) +
                         "': " + PathProblem(font).value_or("cannot be read"));
    }
    if (exists && !S_ISREG(st.st_mode)) {
        throw UsageError("--font: '" + Printable(font) + "' is not a file");
    }
}

// The option that only the typographic caption takes, of those given; none when none was given.
std::optional<std::string_view> TypographicOptionGiven(const Caption &c) {
    if (c.opacity) {
        return "--opacity";
    }
    if (c.outline) {
        return "--outline";
    }
    if (c.background) {
        return "--background";
    }
    if (c.font) {
        return "--font";
    }
    if (c.anchor) {
        return "--anchor";
    }
    return std::nullopt;
}

void FinishClassic(Caption &c) {
    if (auto option = TypographicOptionGiven(c)) {
        throw UsageError(std::string(*option) +
                         " is for the typographic caption; --classic draws the component's own "
                         "caption (--text-color blue, green or red)");
    }
    if (!c.colorName.empty()) {
        c.classicColor = ParseTextColor("--text-color", c.colorName);
    }
}

void FinishTypographic(Caption &c) {
    ZAVTextStyle &s = c.style;
    ZAVInitTextStyle(&s);
    if (c.size > 1024.0f) {
        throw UsageError(
            "--size: the typographic caption is 1 to 1024 pixels (--classic takes up "
            "to 4096)");
    }
    s.pixelSize = c.size;
    s.color = 0xFF0000;
    if (!c.colorName.empty()) {
        // the classic codes keep their colours
        static constexpr uint32_t kCodes[] = {0x0000FF, 0x00FF00, 0xFF0000};
        const std::string_view name = c.colorName;
        s.color = name == "0" || name == "1" || name == "2" ? kCodes[name[0] - '0']
                                                            : ParseColor("--text-color", name);
    }
    s.opacity = c.opacity.value_or(1.0f);
    s.letterSpacing = c.space.value_or(0.0f) * c.size;
    if (c.outline) {
        const auto [width, color] = SplitPair(*c.outline);
        s.outlineWidth = ParseFloatIn("--outline", width, 0.0f, 64.0f);
        s.outlineColor = color ? ParseColor("--outline", *color) : 0x000000;
        s.outlineOpacity = s.opacity;
    }
    if (c.background) {
        const auto [color, opacity] = SplitPair(*c.background);
        s.backgroundColor = ParseColor("--background", color);
        s.backgroundOpacity = opacity ? ParseOpacity("--background", *opacity) : 1.0f;
    }
    if (c.font) {
        CheckFont(*c.font);
    }
    if (c.anchor) {
        s.hAnchor = c.anchor->horizontal;
        s.vAnchor = c.anchor->vertical > 0 ? ZAV_ANCHOR_BOTTOM : ZAV_ANCHOR_TOP;
    } else {
        s.hAnchor = ZAV_ANCHOR_LEFT;
        s.vAnchor = ZAV_ANCHOR_BASELINE;
    }
    // One measure before any work: the font opens, and the block's height centres it.
    Object obj;
    ZAVTextMetrics m{};
    ZAVTextStyle withFont = s;
    withFont.font = c.font ? c.font->c_str() : nullptr;
    const int32_t measured = ZAVMeasureTextUtf8(obj.get(), c.text.c_str(), 0, 0, &withFont, &m);
    if (measured == ZAV_TEXT_REFUSED) {
        throw UsageError("the caption's style was refused");
    }
    if (measured != ZAV_TEXT_OK && c.font) {
        throw UsageError("--font: '" + Printable(*c.font) + "' cannot be opened as a font");
    }
    c.blockHeight = m.boxHeight + (s.backgroundOpacity > 0.0f ? 2 * s.backgroundPadding : 0);
}

}  // namespace

bool IsColorName(std::string_view text) {
    return ToColor(text).has_value();
}

bool ReadCaptionOption(std::string_view option, ArgReader &args, Caption &caption) {
    if (option == "--text") {
        caption.text = std::string(args.Value(option));
        if (caption.text.empty()) {
            throw UsageError("--text: the caption is empty");
        }
    } else if (option == "--at") {
        caption.at = ParsePoint(option, args.Value(option));
    } else if (option == "--size") {
        caption.size = ParseFloatIn(option, args.Value(option), 1.0f, 4096.0f);
    } else if (option == "--space") {
        caption.space = ParseFloatIn(option, args.Value(option), 0.0f, 10.0f);
    } else if (option == "--text-color") {
        caption.colorName = std::string(args.Value(option));
        if (caption.colorName.empty()) {
            throw UsageError("--text-color: give " + std::string(kColorHelp));
        }
    } else if (option == "--opacity") {
        caption.opacity = ParseOpacity(option, args.Value(option));
    } else if (option == "--outline") {
        caption.outline = std::string(args.Value(option));
    } else if (option == "--background") {
        caption.background = std::string(args.Value(option));
    } else if (option == "--font") {
        caption.font = std::string(args.Value(option));
    } else if (option == "--anchor") {
        const std::string_view name = args.Value(option);
        for (const NamedAnchor &a : kAnchors) {
            if (a.name == name) {
                caption.anchor = a.anchor;
            }
        }
        if (!caption.anchor) {
            throw UsageError("--anchor: '" + Printable(name) +
                             "' is not one of top-left, top, top-right, left, center, right, "
                             "bottom-left, bottom, bottom-right");
        }
    } else if (option == "--classic") {
        args.Flag(option);
        caption.classic = true;
    } else {
        return false;
    }
    return true;
}

void FinishCaption(Caption &caption) {
    if (caption.classic) {
        FinishClassic(caption);
    } else {
        FinishTypographic(caption);
    }
}

// The point (x, y) handed to the library: with an anchor, the same point of the picture moved
// inward by --at (default: the margin from the edges, nothing from a middle); without, --at.
static Point CaptionPoint(const Caption &c, Size size) {
    if (!c.anchor) {
        return c.at.value_or(Point{10, 40});
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

std::optional<std::string> CaptionMisses(const Caption &caption, Size size) {
    if (!caption.anchor) {
        return CaptionStartMisses(caption.at.value_or(Point{10, 40}), size);
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

std::optional<std::string> DrawCaption(ZAVImageObject *obj, const ZAVImageStruct &image,
                                       const Caption &caption) {
    const Point at = CaptionPoint(caption, Size{image.width, image.height});
    if (caption.classic) {
        if (ZAVPutTextToImageUtf8(obj, &image, caption.text.c_str(), at.x, at.y,
                                  caption.classicColor, caption.size, caption.space.value_or(0.1f),
                                  0.0f) != 0) {
            return "no font could be opened for the caption";
        }
        return std::nullopt;
    }
    ZAVTextStyle style = caption.style;  // the font name lives in the caption, not the style
    style.font = caption.font ? caption.font->c_str() : nullptr;
    switch (ZAVDrawTextUtf8(obj, &image, caption.text.c_str(), at.x, at.y, &style)) {
        case ZAV_TEXT_OK:
            return std::nullopt;
        case ZAV_TEXT_INCOMPLETE:
            return "the caption is incomplete: no font could be opened, or memory ran out";
        default:
            return "the caption was refused";
    }
}

}  // namespace zavtool
