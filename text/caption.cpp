#include "text/caption.h"

#include <optional>

#include "imaging/buffer/image_record.h"
#include "text/font.h"
#include "text/font_catalog.h"
#include "text/renderer.h"

namespace zav {
namespace {

// The object's font file, else the literal default, then the system's caption font. A first
// font that failed for lack of memory is not replaced by another one.
std::optional<FontSource> OpenCaptionFont(const std::string *fontPath) noexcept {
    bool noMemory = false;
    std::optional<FontSource> font =
        OpenFontSource(fontPath != nullptr ? fontPath->c_str() : kDefaultFontPath, 0, &noMemory);
    if (!font && !noMemory) {
        if (const FontLocation *system = SystemCaptionFont()) {
            font = OpenFontSource(system->path.c_str(), system->faceIndex);
        }
    }
    return font;
}

}  // namespace

TextColour CaptionColour(int32_t color) noexcept {
    TextColour c;
    switch (color) {
        case 1:
            c.val[1] = 255.0;
            break;
        case 2:
            c.val[2] = 255.0;
            break;
        default:
            c.val[0] = 255.0;
            break;
    }
    return c;
}

int32_t PutCaption(const ZAVImageStruct *pImage, const uint8_t *pText, int32_t x, int32_t y,
                   int32_t color, float fSize, float fCharSpace, float transparency,
                   const std::string *fontPath, TextEncoding encoding) noexcept {
    if (pImage == nullptr) {
        return 0;
    }
    const ImageHeader header = WrapImageRecord(*pImage);
    if (!header.IsProcessable() || !(fSize >= 1.0f)) {
        return 0;
    }
    const int32_t pixelSize =
        fSize >= 2147483648.0f ? INT32_MAX : static_cast<int32_t>(fSize);  // truncated
    std::optional<FontSource> font = OpenCaptionFont(fontPath);
    if (!font) {
        return 1;
    }
    GlyphTextRenderer renderer(std::move(*font), pixelSize);
    renderer.SetTextEncoding(encoding);
    // The space ratio is 0.1 and the gap ratio fCharSpace; transparency is kept and never read.
    const SizeParams sizes{fSize, 0.1, fCharSpace, transparency};
    const float opacity = 1.0f;
    renderer.SetParameters(nullptr, &sizes, nullptr, &opacity);
    if (x >= 0 && x < pImage->width && y >= 0 && y < pImage->height) {
        renderer.DrawString(&header, reinterpret_cast<const char *>(pText), PenPosition{x, y},
                            CaptionColour(color));
    }
    // A glyph that memory did not suffice for was left out: reported as a missing font is.
    return renderer.GlyphFailed() ? 1 : 0;
}

}  // namespace zav
