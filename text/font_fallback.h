// Fonts of typographic captions: the font a caption names (file or fontconfig pattern), and for a
// character it lacks, the best installed font that has it (FallbackFontFor).
#pragma once

#include <optional>
#include <string>

#include "text/font.h"
#include "text/font_catalog.h"

namespace zav {

// The font a style names: spec null gives the classic caption's search (the object's font file,
// else kDefaultFontPath, else the system's caption font); a spec containing '/' or naming an
// existing file (of any kind: a folder or a FIFO is then refused, never taken for a pattern)
// opens that file's face faceIndex; anything else is a fontconfig pattern ("DejaVu Sans:bold",
// ":lang=ar") matched against the installed fonts. Nothing when no font opens.
std::optional<FontSource> OpenNamedFont(const char *spec, long faceIndex,
                                        const std::string *objectFontPath) noexcept;

}  // namespace zav
