// Fonts of typographic captions: the font a caption names (file or fontconfig pattern), and for a
// character it lacks, the best installed font that has it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "text/font.h"

namespace zav {

// The font a style names: spec null gives the classic caption's search (the object's font file,
// else kDefaultFontPath, else the system's caption font); a spec containing '/' or naming an
// existing file opens that file's face faceIndex; anything else is a fontconfig pattern ("DejaVu
// Sans:bold", ":lang=ar") matched against the installed fonts. Nothing when no font opens.
std::optional<FontSource> OpenNamedFont(const char *spec, long faceIndex,
                                        const std::string *objectFontPath) noexcept;

// fontconfig's best sans-serif font whose character set has the character, as a font file and
// face index. Answers are kept per character (a bounded cache); a lookup that fails for lack of
// memory is not kept. Nothing when no installed font has the character.
std::optional<FontLocation> FallbackFontFor(uint32_t code) noexcept;

}  // namespace zav
