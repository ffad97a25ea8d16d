// FreeType's monochrome rendering of one character.
#pragma once

#include <cstdint>

#include "text/font.h"
#include "text/glyph_bitmap.h"

namespace zav {

// Renders the character with the face at the pixel size (width pixelSize, height equal to it):
// the character map's glyph (index 0, the missing-glyph shape, for a code the font lacks and for
// kMissingGlyphCode), loaded with the default flags and rendered one bit per pixel. An embedded
// bitmap that is not one bit per
// pixel is thresholded at half coverage. A bitmap without ink comes out blank (width 0), as does a
// glyph that FreeType cannot size, load or render. False only when memory runs out.
bool RasteriseGlyph(ThreadFace &face, int32_t pixelSize, uint32_t code, GlyphBitmap *out) noexcept;

}  // namespace zav
