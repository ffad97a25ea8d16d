// The installed fonts as fontconfig lists them: the classic caption's system font, fonts named
// by pattern, and for a character a caption's fonts lack, the best installed font that has it.
// One fontconfig configuration serves them all, loaded on the first lookup (never before: a
// caption whose fonts are given as files and have every character it draws never starts
// fontconfig) and kept; the process-wide configuration, and any host use of it, are left alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zav {

struct FontLocation {
    std::string path;
    long faceIndex = 0;
};

// fontconfig's best match for the family SimHei with language zh-cn, and the face index it names.
// Safe from any thread. A match, once found, is kept for the life of the process; when fontconfig
// names no font file (or memory runs out) the result is null and the next call looks again.
const FontLocation *SystemCaptionFont() noexcept;

// The font file and face index a fontconfig pattern ("DejaVu Sans:bold", ":lang=ar") names;
// nothing when no font is installed (or memory runs out).
std::optional<FontLocation> MatchFontPattern(const char *pattern) noexcept;

// fontconfig's best sans-serif font whose character set has the character, as a font file and
// face index. Answers are kept per character (a bounded cache); a lookup that fails for lack of
// memory is not kept. Nothing when no installed font has the character.
std::optional<FontLocation> FallbackFontFor(uint32_t code) noexcept;

// How many lookups the three functions above have been asked for in this process, and how many
// configurations were loaded for them.
struct FontCatalogCounts {
    uint64_t lookups = 0;
    uint64_t configurations = 0;
};
FontCatalogCounts FontCatalogActivity() noexcept;

}  // namespace zav
