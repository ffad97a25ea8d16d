#include "text/typo_caption.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "imaging/buffer/image_record.h"
#include "text/coverage_blend.h"
#include "text/coverage_glyph.h"
#include "text/font_fallback.h"
#include "text/line_shaping.h"
#include "text/multibyte_decoder.h"

namespace zav {
namespace {

constexpr float kMaxPixelSize = ZAV_TEXT_MAX_PIXEL_SIZE;
constexpr float kMaxOutline = ZAV_TEXT_MAX_OUTLINE;
constexpr int32_t kMaxPadding = 1024;
constexpr uint64_t kMaxCoverageBytes = static_cast<uint64_t>(ZAV_TEXT_MAX_COVERAGE_BYTES);

// The style's values, checked and in the units the layout uses.
struct Style {
    const char *font = nullptr;
    long faceIndex = 0;
    int32_t pixelSize = 0;
    uint32_t color = 0, outlineColor = 0, backgroundColor = 0;
    float opacity = 1, outlineOpacity = 1, backgroundOpacity = 0;
    int64_t letterSpacing = 0;  // 26.6
    double lineSpacing = 1;
    int32_t hAnchor = 0, vAnchor = 0;
    bool mono = false;
    int32_t outline = 0;  // 26.6
    int32_t padding = 0;
};

bool Finite(float v) noexcept {
    return std::isfinite(v);
}

// The style checked: ZAV_TEXT_OK with *out filled, ZAV_TEXT_REFUSED for values that mean nothing,
// ZAV_TEXT_TOO_LARGE for a pixel size or outline beyond the limits.
int32_t CheckStyle(const ZAVTextStyle *s, Style *out) noexcept {
    if (s == nullptr || s->structSize < sizeof(ZAVTextStyle)) {
        return ZAV_TEXT_REFUSED;
    }
    Style &st = *out;
    if (!Finite(s->pixelSize) || s->pixelSize < 1.0f || !Finite(s->letterSpacing) ||
        std::fabs(s->letterSpacing) > 4096.0f || !Finite(s->lineSpacing) || s->lineSpacing < 0.0f ||
        s->lineSpacing > 100.0f || !Finite(s->outlineWidth) || s->outlineWidth < 0.0f ||
        s->hAnchor < ZAV_ANCHOR_LEFT || s->hAnchor > ZAV_ANCHOR_RIGHT ||
        s->vAnchor < ZAV_ANCHOR_TOP || s->vAnchor > ZAV_ANCHOR_BOTTOM || s->backgroundPadding < 0 ||
        s->backgroundPadding > kMaxPadding || s->faceIndex < 0) {
        return ZAV_TEXT_REFUSED;
    }
    if (s->pixelSize > kMaxPixelSize || s->outlineWidth > kMaxOutline) {
        return ZAV_TEXT_TOO_LARGE;
    }
    st.font = s->font;
    st.faceIndex = s->faceIndex;
    st.pixelSize = static_cast<int32_t>(std::lround(s->pixelSize));
    st.color = s->color;
    st.opacity = s->opacity;
    st.outlineColor = s->outlineColor;
    st.outlineOpacity = s->outlineOpacity;
    st.backgroundColor = s->backgroundColor;
    st.backgroundOpacity = s->backgroundOpacity;
    st.letterSpacing = std::lround(s->letterSpacing * 64.0f);
    st.lineSpacing = s->lineSpacing;
    st.hAnchor = s->hAnchor;
    st.vAnchor = s->vAnchor;
    st.mono = (s->flags & ZAV_TEXT_MONO) != 0;
    st.outline = static_cast<int32_t>(std::lround(s->outlineWidth * 64.0f));
    st.padding = s->backgroundPadding;
    return ZAV_TEXT_OK;
}

// Whether a text stays within the limits on characters, lines and coverage, told from its bytes
// before any work: ZAV_TEXT_OK or ZAV_TEXT_TOO_LARGE. The coverage counts each distinct character
// that may draw (a space or a line feed does not) as a square of the pixel size with the outline
// on each side, `spread` bytes a pixel, twice with an outline.
int32_t CheckTextLimits(const char *text, const Style &st, uint8_t spread) {
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    std::size_t left = std::strlen(text);
    uint64_t characters = 0, lines = 1;
    std::unordered_set<uint32_t> distinct;
    while (left > 0) {
        uint32_t code = 0;
        std::size_t length = DecodeUtf8(p, left, &code);
        if (length == 0) {
            code = 0xFFFD;
            length = 1;
        }
        p += length;
        left -= length;
        if (++characters > ZAV_TEXT_MAX_CHARACTERS) {
            return ZAV_TEXT_TOO_LARGE;
        }
        if (code == '\n') {
            if (++lines > ZAV_TEXT_MAX_LINES) {
                return ZAV_TEXT_TOO_LARGE;
            }
        } else if (code != ' ' && code != '\r' && code != '\t') {
            distinct.insert(code);
        }
    }
    const uint64_t side =
        static_cast<uint64_t>(st.pixelSize) + 2 * static_cast<uint64_t>((st.outline + 63) / 64) + 2;
    const uint64_t perGlyph = side * side * spread * (st.outline > 0 ? 2 : 1);
    return distinct.size() * perGlyph > kMaxCoverageBytes ? ZAV_TEXT_TOO_LARGE : ZAV_TEXT_OK;
}

// The text's lines as code points: split at LF (a CR before it is dropped), invalid UTF-8 as
// U+FFFD (one per lead byte and its continuation bytes).
std::vector<std::u32string> SplitLines(const char *text) {
    std::vector<std::u32string> lines(1);
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    std::size_t left = std::strlen(text);
    while (left > 0) {
        uint32_t code = 0;
        std::size_t length = DecodeUtf8(p, left, &code);
        if (length == 0) {
            code = 0xFFFD;
            length = 1;
            while (length < left && length < 4 && (p[length] & 0xC0) == 0x80) {
                ++length;
            }
        }
        p += length;
        left -= length;
        if (code == '\n') {
            if (!lines.back().empty() && lines.back().back() == U'\r') {
                lines.back().pop_back();
            }
            lines.emplace_back();
        } else {
            lines.back().push_back(static_cast<char32_t>(code));
        }
    }
    if (!lines.back().empty() && lines.back().back() == U'\r') {
        lines.back().pop_back();
    }
    return lines;
}

int64_t RoundDiv64(int64_t v) noexcept {
    return v >= 0 ? (v + 32) / 64 : -((-v + 32) / 64);
}

int64_t FloorDiv64(int64_t v) noexcept {
    return v >= 0 ? v / 64 : -((-v + 63) / 64);
}

int32_t Saturate32(int64_t v) noexcept {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

struct Placed {
    std::shared_ptr<const GlyphBitmap> glyph;
    int64_t x = 0, y = 0;  // top-left pixel of the glyph's box
};

struct Box {
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    bool Empty() const noexcept { return x0 >= x1 || y0 >= y1; }
    void Add(int64_t ax0, int64_t ay0, int64_t ax1, int64_t ay1) noexcept {
        x0 = std::min(x0, ax0);
        y0 = std::min(y0, ay0);
        x1 = std::max(x1, ax1);
        y1 = std::max(y1, ay1);
    }
};

struct Layout {
    std::vector<Placed> glyphs;
    Box ink;
    int64_t left = 0, top = 0, width = 0, height = 0, baseline = 0;
    int32_t lines = 0;
    bool incomplete = false;
    bool tooLarge = false;  // the glyphs' coverage passed the limit after all (wide glyphs)
    uint8_t spread = 1;     // coverage bytes a pixel: the buffer's channels when drawing
};

// Lays the lines out: line i's baseline lies i line heights below the first; each line is aligned
// in the block as the anchor says; the block is placed so that its anchor point is (x, y).
bool LayOut(const std::vector<std::u32string> &lines, const FontSource &primary, const Style &st,
            int32_t x, int32_t y, Layout *out) {
    ThreadFace *face = AcquireThreadFace(primary.id, primary.path.c_str());
    if (face == nullptr ||
        SetThreadFaceSizeOrStrike(*face, st.pixelSize) == SizeResult::kNoMemory) {
        return false;
    }
    // A font of bitmap strikes has the metrics of its strike: scaled to the size asked for.
    const FT_Size_Metrics &m = face->face->size->metrics;
    const double scale = face->strike ? face->strikeScale : 1.0;
    const int64_t ascent = std::llround(static_cast<double>(m.ascender) * scale / 64.0);
    const int64_t descent = std::llround(static_cast<double>(-m.descender) * scale / 64.0);
    const int64_t lineHeight =
        std::llround(static_cast<double>(m.height) * scale * st.lineSpacing / 64.0);

    LineShaper shaper(primary, st.pixelSize, st.letterSpacing);
    std::vector<ShapedLine> shaped(lines.size());
    int64_t widest = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!shaper.Shape(lines[i], &shaped[i])) {
            return false;
        }
        widest = std::max(widest, shaped[i].advance);
    }
    const int64_t n = static_cast<int64_t>(lines.size());
    out->lines = Saturate32(n);
    out->width = RoundDiv64(widest);
    out->height = ascent + descent + (n - 1) * lineHeight;
    out->left = int64_t{x} - (st.hAnchor == ZAV_ANCHOR_CENTER  ? out->width / 2
                              : st.hAnchor == ZAV_ANCHOR_RIGHT ? out->width
                                                               : 0);
    out->top = st.vAnchor == ZAV_ANCHOR_TOP        ? int64_t{y}
               : st.vAnchor == ZAV_ANCHOR_BASELINE ? int64_t{y} - ascent
                                                   : int64_t{y} - out->height;
    out->baseline = out->top + ascent;

    const GlyphKind kind = st.mono ? GlyphKind::kCoverageMono : GlyphKind::kCoverage;
    const std::vector<FontSource> &fonts = shaper.Fonts();
    // Each distinct glyph is loaded once a call, also those too large for the shared cache, and
    // the coverage kept for the call is counted.
    std::unordered_map<uint64_t, GlyphLoad> loaded;
    uint64_t coverageBytes = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int64_t slack = widest - shaped[i].advance;  // 26.6
        const int64_t lineLeft = out->left * 64 + (st.hAnchor == ZAV_ANCHOR_CENTER  ? slack / 2
                                                   : st.hAnchor == ZAV_ANCHOR_RIGHT ? slack
                                                                                    : 0);
        const int64_t baseline = out->baseline + static_cast<int64_t>(i) * lineHeight;
        for (const ShapedGlyph &g : shaped[i].glyphs) {
            GlyphKey key;
            key.font = fonts[g.font].id;
            key.pixelSize = st.pixelSize;
            key.code = g.index;
            key.kind = kind;
            key.outline = st.outline;
            key.spread = out->spread;
            const uint64_t id = (uint64_t{g.font} << 32) | g.index;
            auto found = loaded.find(id);
            if (found == loaded.end()) {
                GlyphLoad fresh = LoadCoverageGlyph(fonts[g.font], key);
                if (fresh.glyph != nullptr) {
                    coverageBytes += fresh.glyph->bits.size() + fresh.glyph->stroke.size();
                    if (coverageBytes > kMaxCoverageBytes) {
                        out->tooLarge = true;
                        return true;
                    }
                }
                found = loaded.emplace(id, std::move(fresh)).first;
            }
            GlyphLoad load = found->second;
            out->incomplete = out->incomplete || load.failed;
            if (load.glyph == nullptr || load.glyph->width <= 0) {
                continue;
            }
            Placed p;
            p.x = FloorDiv64(lineLeft + g.x + 32) + load.glyph->left;  // the pen rounded
            p.y = baseline + RoundDiv64(g.y) - load.glyph->top;
            out->ink.Add(p.x, p.y, p.x + load.glyph->width, p.y + load.glyph->rows);
            p.glyph = std::move(load.glyph);
            out->glyphs.push_back(std::move(p));
        }
    }
    return true;
}

// The glyph's row spans of one layer (0 fill, 2 stroke), or null when it has none.
const uint16_t *Spans(const GlyphBitmap &g, std::size_t layer) noexcept {
    return g.spans.size() == static_cast<std::size_t>(g.rows) * 4 ? g.spans.data() + layer
                                                                  : nullptr;
}

void Draw(const ImageHeader &image, const Layout &layout, const Style &st) {
    const int32_t channels = image.nChannels;
    if (st.backgroundOpacity > 0.0f) {
        BlendRectangle(image, layout.left - st.padding, layout.top - st.padding,
                       layout.left + layout.width + st.padding,
                       layout.top + layout.height + st.padding,
                       MakeBlendColour(st.backgroundColor, st.backgroundOpacity, channels));
    }
    // Outlines of all glyphs first, so that no outline covers a neighbour's body.
    if (st.outline > 0) {
        const BlendColour outline = MakeBlendColour(st.outlineColor, st.outlineOpacity, channels);
        for (const Placed &p : layout.glyphs) {
            if (!p.glyph->stroke.empty()) {
                BlendCoverage(image, p.x, p.y, p.glyph->stroke.data(), p.glyph->width,
                              p.glyph->rows, outline, Spans(*p.glyph, 2), layout.spread);
            }
        }
    }
    const BlendColour fill = MakeBlendColour(st.color, st.opacity, channels);
    for (const Placed &p : layout.glyphs) {
        BlendCoverage(image, p.x, p.y, p.glyph->bits.data(), p.glyph->width, p.glyph->rows, fill,
                      Spans(*p.glyph, 0), layout.spread);
    }
}

void FillMetrics(const Layout &layout, ZAVTextMetrics *m) noexcept {
    *m = ZAVTextMetrics{};
    if (!layout.ink.Empty()) {
        m->inkX = Saturate32(layout.ink.x0);
        m->inkY = Saturate32(layout.ink.y0);
        m->inkWidth = Saturate32(layout.ink.x1 - layout.ink.x0);
        m->inkHeight = Saturate32(layout.ink.y1 - layout.ink.y0);
    }
    m->boxX = Saturate32(layout.left);
    m->boxY = Saturate32(layout.top);
    m->boxWidth = Saturate32(layout.width);
    m->boxHeight = Saturate32(layout.height);
    m->advanceWidth = Saturate32(layout.width);
    m->baseline = Saturate32(layout.baseline);
    m->lineCount = layout.lines;
}

int32_t Run(const ZAVImageStruct *record, const char *text, int32_t x, int32_t y, const Style &st,
            const std::string *objectFontPath, ZAVTextMetrics *metrics) {
    ImageHeader image;
    if (record != nullptr) {
        image = WrapImageRecord(*record);
        if (!IsBlendable(image)) {
            return ZAV_TEXT_REFUSED;
        }
    }
    if (metrics != nullptr) {
        *metrics = ZAVTextMetrics{};
    }
    const std::optional<FontSource> primary = OpenNamedFont(st.font, st.faceIndex, objectFontPath);
    if (!primary) {
        return ZAV_TEXT_INCOMPLETE;
    }
    Layout layout;
    layout.spread = record != nullptr ? static_cast<uint8_t>(image.nChannels) : 1;
    if (!LayOut(SplitLines(text), *primary, st, x, y, &layout)) {
        return ZAV_TEXT_INCOMPLETE;
    }
    if (layout.tooLarge) {
        return ZAV_TEXT_TOO_LARGE;  // nothing drawn, no metrics
    }
    if (metrics != nullptr) {
        FillMetrics(layout, metrics);
    }
    if (record != nullptr) {
        Draw(image, layout, st);
    }
    return layout.incomplete ? ZAV_TEXT_INCOMPLETE : ZAV_TEXT_OK;
}

}  // namespace

void DefaultTextStyle(ZAVTextStyle *style) noexcept {
    *style = ZAVTextStyle{};
    style->structSize = sizeof(ZAVTextStyle);
    style->pixelSize = 24.0f;
    style->opacity = 1.0f;
    style->lineSpacing = 1.0f;
    style->hAnchor = ZAV_ANCHOR_LEFT;
    style->vAnchor = ZAV_ANCHOR_BASELINE;
    style->outlineOpacity = 1.0f;
    style->backgroundPadding = 4;
}

int32_t TypoCaption(const ZAVImageStruct *image, const char *text, int32_t x, int32_t y,
                    const ZAVTextStyle *style, const std::string *objectFontPath,
                    ZAVTextMetrics *metrics) noexcept {
    Style st;
    const int32_t checked = CheckStyle(style, &st);
    if (text == nullptr || checked == ZAV_TEXT_REFUSED ||
        (image == nullptr && metrics == nullptr)) {
        return ZAV_TEXT_REFUSED;
    }
    if (checked != ZAV_TEXT_OK) {
        return checked;
    }
    try {
        uint8_t spread = 1;
        if (image != nullptr) {
            const ImageHeader header = WrapImageRecord(*image);
            if (!IsBlendable(header)) {
                return ZAV_TEXT_REFUSED;
            }
            spread = static_cast<uint8_t>(header.nChannels);
        }
        if (const int32_t limits = CheckTextLimits(text, st, spread); limits != ZAV_TEXT_OK) {
            return limits;
        }
        return Run(image, text, x, y, st, objectFontPath, metrics);
    } catch (const std::bad_alloc &) {
        return ZAV_TEXT_INCOMPLETE;
    }
}

int32_t TextWithinLimits(const char *text, const ZAVTextStyle *style, int32_t channels) noexcept {
    Style st;
    const int32_t checked = CheckStyle(style, &st);
    if (text == nullptr || checked == ZAV_TEXT_REFUSED ||
        (channels != 1 && channels != 3 && channels != 4)) {
        return ZAV_TEXT_REFUSED;
    }
    if (checked != ZAV_TEXT_OK) {
        return checked;
    }
    try {
        return CheckTextLimits(text, st, static_cast<uint8_t>(channels));
    } catch (const std::bad_alloc &) {
        return ZAV_TEXT_INCOMPLETE;
    }
}

}  // namespace zav
