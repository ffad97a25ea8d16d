// HarfBuzz's view of a font file read on demand: the face's table directory read once, each table
// read whole when HarfBuzz first asks for it (HarfBuzz keeps it while its face lives).
#pragma once

#include <hb.h>

#include "text/font_file.h"

namespace zav {

// HarfBuzz's font over face faceIndex of an OpenType or TrueType file or collection (any other
// file has no tables). It keeps its own reference to the file. Null when memory runs out or the
// table directory cannot be read.
hb_font_t *MakeShaperFont(const FontFileRef &file, long faceIndex) noexcept;

// Whether one of the font's tables could not be read (the file cut short on disk, or memory ran
// out) since it was made: HarfBuzz took it for a missing table, so what it shaped is not to be
// trusted, nor the font from then on.
bool ShaperTablesFailed(hb_font_t *font) noexcept;

}  // namespace zav
