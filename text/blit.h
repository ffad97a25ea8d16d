// Puts the ink of a glyph bitmap into an image.
#pragma once

#include <cstdint>

#include "imaging/buffer/image_record.h"
#include "text/glyph.h"

namespace zav {

// Row order of the image the text is drawn into. Top-left is the buffer layout of every record;
// in a bottom-left image row 0 is the bottom row, so glyphs are stored upside down.
enum class ImageOrigin { kTopLeft, kBottomLeft };

// A colour of four values, channel 0 first, in the element's own value range.
struct TextColour {
    double val[4] = {0.0, 0.0, 0.0, 0.0};
};

// Draws the glyph's ink with its bottom row on row penY and its left column on column penX.
// Ink pixels outside the image are skipped one by one. Each ink pixel's own channels become
// opacity * colour + (1 - opacity) * old, rounded and saturated to the element type; with opacity
// 1 they become the colour, whatever they held. Nothing else is written. The image must be
// processable (ImageHeader::IsProcessable); anything else is left alone.
void BlitGlyph(const ImageHeader &image, ImageOrigin origin, const GlyphBitmap &glyph, int32_t penX,
               int32_t penY, const TextColour &colour, float opacity) noexcept;

}  // namespace zav
