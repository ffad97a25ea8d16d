#include "text/font_locator.h"

#include <fontconfig/fontconfig.h>

#include <mutex>
#include <new>

namespace zav {
namespace {

// A private fontconfig configuration, used once and destroyed: the process-wide one (and any host
// use of it) is left alone.
FontLocation *LocateCaptionFont() noexcept {
    FcConfig *config = FcInitLoadConfigAndFonts();
    if (config == nullptr) {
        return nullptr;
    }
    FontLocation *found = nullptr;
    FcPattern *pattern = FcPatternCreate();
    if (pattern != nullptr) {
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>("SimHei"));
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8 *>("zh-cn"));
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern *match = FcFontMatch(config, pattern, &result);
        if (match != nullptr) {
            FcChar8 *file = nullptr;
            int index = 0;
            if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr &&
                file[0] != 0) {
                if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) {
                    index = 0;
                }
                try {
                    found = new FontLocation{reinterpret_cast<const char *>(file), index};
                } catch (const std::bad_alloc &) {
                    found = nullptr;
                }
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return found;
}

}  // namespace

const FontLocation *SystemCaptionFont() noexcept {
    // Kept for the life of the process (never destroyed, so threads still drawing at exit are
    // safe).
    static std::once_flag once;
    static const FontLocation *location = nullptr;
    try {
        std::call_once(once, [] { location = LocateCaptionFont(); });
    } catch (...) {
        return nullptr;
    }
    return location;
}

}  // namespace zav
