// Glyphs of typographic captions: a glyph index rendered as coverage, with or without an outline.
#pragma once

#include "text/glyph.h"

namespace zav {

// Renders glyph index key.code at key.pixelSize: anti-aliased with light hinting (kCoverage) or
// one bit per pixel with monochrome hinting (kCoverageMono, coverage 0 or 255). With key.outline
// (64ths of a pixel) the stroke layer holds the shape grown by that radius (FreeType's stroker,
// round joins): drawn below the glyph, it shows as a border. A glyph without ink is kEmpty.
RenderResult RenderCoverageGlyph(ThreadFace &face, const GlyphKey &key, GlyphBitmap *out) noexcept;

// The glyph from the shared cache, rendered on a miss; a glyph of spread 2 to 4 whose spread 1
// (one coverage byte a pixel: what measuring a caption renders) is cached is made from it, each
// byte repeated, the same bytes rendering gives.
GlyphLoad LoadCoverageGlyph(const FontSource &font, const GlyphKey &key) noexcept;

}  // namespace zav
