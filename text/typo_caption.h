// The typographic caption: lines of UTF-8 text laid out on the font's baseline with shaping,
// fallback fonts, any colour, an outline and a background box, anchored at a point.
#pragma once

#include <cstdint>
#include <string>

#include "zavimage/zavimage.h"

namespace zav {

// Draws (image not null) or measures (metrics not null) the text. objectFontPath is the object's
// own first font file for a style without a font. Returns a ZAV_TEXT_* code.
int32_t TypoCaption(const ZAVImageStruct *image, const char *text, int32_t x, int32_t y,
                    const ZAVTextStyle *style, const std::string *objectFontPath,
                    ZAVTextMetrics *metrics) noexcept;

// Whether the text in the style stays within the caption's limits when drawn on a buffer of
// `channels` channels, told from its bytes alone: ZAV_TEXT_OK, ZAV_TEXT_TOO_LARGE, or
// ZAV_TEXT_REFUSED for a style, text or channel count refused.
int32_t TextWithinLimits(const char *text, const ZAVTextStyle *style, int32_t channels) noexcept;

// The defaults ZAVInitTextStyle gives.
void DefaultTextStyle(ZAVTextStyle *style) noexcept;

}  // namespace zav
