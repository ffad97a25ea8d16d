// The caption operation: one line of text in one of three colours, drawn into a caller's buffer.
#pragma once

#include <cstdint>
#include <string>

#include "text/blit.h"
#include "text/multibyte_decoder.h"
#include "zavimage/zavimage.h"

namespace zav {

// Colour codes: 0 blue, 1 green, 2 red in a blue-green-red buffer; every other code as 0.
TextColour CaptionColour(int32_t color) noexcept;

// Draws pText with its first glyph's left column on x and every glyph's bottom row on y. The font
// is the file fontPath (kDefaultFontPath when null), face 0, or else the system's caption font.
// Returns 1 when no font can be opened (nothing drawn) or a glyph could not be rendered for lack of
// memory (left out), else 0: also when the record cannot be
// drawn into, the pixel size (fSize truncated) is below 1 or the start point is outside the buffer,
// all of which draw nothing.
int32_t PutCaption(const ZAVImageStruct *pImage, const uint8_t *pText, int32_t x, int32_t y,
                   int32_t color, float fSize, float fCharSpace, float transparency,
                   const std::string *fontPath, TextEncoding encoding) noexcept;

}  // namespace zav
