#include "text/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "text/glyph.h"

namespace zav {
namespace {

FontSource OpenOrThrow(const char *fontPath, long faceIndex) {
    std::optional<FontSource> font = OpenFontSource(fontPath, faceIndex);
    if (!font) {
        throw FontOpenError("font file cannot be opened");
    }
    return std::move(*font);
}

int32_t SaturateToInt32(double v) noexcept {
    if (v >= 2147483647.0) {
        return INT32_MAX;
    }
    if (v <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(v);  // truncates toward zero
}

}  // namespace

GlyphTextRenderer::GlyphTextRenderer(const char *fontPath, int32_t pixelSize)
    : GlyphTextRenderer(fontPath, 0, pixelSize) {}

GlyphTextRenderer::GlyphTextRenderer(const char *fontPath, long faceIndex, int32_t pixelSize)
    : GlyphTextRenderer(OpenOrThrow(fontPath, faceIndex), pixelSize) {}

GlyphTextRenderer::GlyphTextRenderer(FontSource font, int32_t pixelSize) noexcept
    : m_font(std::move(font)) {
    ResetParameters(pixelSize);
}

GlyphTextRenderer::~GlyphTextRenderer() = default;

void GlyphTextRenderer::SetParameters(const int32_t *optionCode, const SizeParams *sizeParams,
                                      const bool *optionFlag, const float *opacity) noexcept {
    if (optionCode != nullptr) {
        m_optionCode = *optionCode;
    }
    if (sizeParams != nullptr) {
        m_sizeParams.fontSize = std::fabs(sizeParams->fontSize);
        m_sizeParams.spaceRatio = std::fabs(sizeParams->spaceRatio);
        m_sizeParams.gapRatio = std::fabs(sizeParams->gapRatio);
        m_sizeParams.spare = std::fabs(sizeParams->spare);
    }
    if (optionFlag != nullptr) {
        m_optionFlag = *optionFlag;
    }
    if (opacity != nullptr) {
        m_opacity = *opacity;
    }
}

void GlyphTextRenderer::ResetParameters(int32_t pixelSize) noexcept {
    m_sizeParams = SizeParams{};
    m_sizeParams.fontSize = static_cast<double>(pixelSize);
    m_optionCode = 0;
    m_optionFlag = false;
    m_opacity = 1.0f;
    m_pixelSize = pixelSize;
}

int32_t GlyphTextRenderer::Advance(int32_t width) const noexcept {
    const double fontSize = m_sizeParams.fontSize;
    const double gap = m_sizeParams.gapRatio * fontSize;
    double a = width != 0 ? width + gap : m_sizeParams.spaceRatio * fontSize + gap;
    if (std::isnan(a)) {
        a = width;  // a spacing that is not a number adds nothing
    }
    return SaturateToInt32(a);
}

void GlyphTextRenderer::DrawGlyph(const ImageHeader *image, uint32_t code, PenPosition &pen,
                                  const TextColour &colour, ImageOrigin origin) noexcept {
    const GlyphLoad load = LoadGlyph(m_font, m_pixelSize, code);
    const std::shared_ptr<const GlyphBitmap> &glyph = load.glyph;
    m_glyphFailed = m_glyphFailed || load.failed;
    int32_t width = 0;
    if (glyph != nullptr) {
        width = glyph->width;
        if (image != nullptr) {
            BlitGlyph(*image, origin, *glyph, pen.x, pen.y, colour, m_opacity);
        }
    }
    const int64_t x = int64_t{pen.x} + Advance(width);
    pen.x = static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
}

int32_t GlyphTextRenderer::DrawString(const ImageHeader *image, const char *text,
                                      PenPosition position, const TextColour &colour,
                                      ImageOrigin origin) noexcept {
    if (image == nullptr || text == nullptr) {
        return -1;
    }
    const std::size_t length = std::strlen(text);
    if (image->IsProcessable()) {
        // Every step is non-negative once the pixel size and all size values are: past the right
        // edge nothing more can be drawn.
        const bool forwardOnly = m_pixelSize >= 0 && m_sizeParams.fontSize >= 0 &&
                                 m_sizeParams.spaceRatio >= 0 && m_sizeParams.gapRatio >= 0;
        const auto *bytes = reinterpret_cast<const unsigned char *>(text);
        MultibyteDecoder decoder(m_encoding);
        PenPosition pen = position;
        for (std::size_t i = 0; i < length;) {
            if (forwardOnly && pen.x >= image->width) {
                break;
            }
            const DecodedChar c = decoder.Next(bytes + i, length - i);
            DrawGlyph(image, c.code, pen, colour, origin);
            i += c.length;
        }
    }
    return length > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(length);
}

}  // namespace zav
