#include "text/font_fallback.h"

#include <sys/stat.h>

#include <cstring>

namespace zav {
namespace {

bool Exists(const char *path) noexcept {
    struct stat st;
    return stat(path, &st) == 0;
}

}  // namespace

std::optional<FontSource> OpenNamedFont(const char *spec, long faceIndex,
                                        const std::string *objectFontPath) noexcept {
    if (spec == nullptr) {
        bool noMemory = false;
        std::optional<FontSource> font = OpenFontSource(
            objectFontPath != nullptr ? objectFontPath->c_str() : kDefaultFontPath, 0, &noMemory);
        if (!font && !noMemory) {
            if (const FontLocation *system = SystemCaptionFont()) {
                font = OpenFontSource(system->path.c_str(), system->faceIndex);
            }
        }
        return font;
    }
    if (std::strchr(spec, '/') != nullptr || Exists(spec)) {
        return OpenFontSource(spec, faceIndex);
    }
    const std::optional<FontLocation> match = MatchFontPattern(spec);
    return match ? OpenFontSource(match->path.c_str(), match->faceIndex) : std::nullopt;
}

}  // namespace zav
