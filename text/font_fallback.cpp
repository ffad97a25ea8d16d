#include "text/font_fallback.h"

#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

namespace zav {
namespace {

// One fontconfig configuration for the process's typographic captions, loaded on first use and
// kept (the process-wide one, and any host use of it, are left alone). Every use holds m_mutex.
class FontCatalog {
  public:
    static FontCatalog &Shared() noexcept {
        static FontCatalog *catalog = new FontCatalog();  // never destroyed
        return *catalog;
    }

    std::optional<FontLocation> Match(const char *patternText) noexcept {
        std::lock_guard<std::mutex> lock(m_mutex);
        FcConfig *config = Config();
        FcPattern *pattern = config != nullptr
                                 ? FcNameParse(reinterpret_cast<const FcChar8 *>(patternText))
                                 : nullptr;
        if (pattern == nullptr) {
            return std::nullopt;
        }
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern *match = FcFontMatch(config, pattern, &result);
        std::optional<FontLocation> found;
        if (match != nullptr) {
            found = FontLocationOf(match);
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
        return found;
    }

    // *failed is set when the lookup could not be made (memory, no configuration).
    std::optional<FontLocation> Fallback(uint32_t code, bool *failed) noexcept {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (const auto it = m_fallbacks.find(code); it != m_fallbacks.end()) {
            return it->second;
        }
        *failed = true;
        const FcFontSet *fonts = Sorted();
        if (fonts == nullptr) {
            return std::nullopt;
        }
        // The first font of the sans-serif order that has the character: fontconfig ranks the
        // character set before the family, so this is the font it sorts first for a pattern
        // holding that character, without a query (and its sort of every font) per character.
        // "No font has it" is an answer too, kept like any other.
        *failed = false;
        std::optional<FontLocation> found;
        for (int i = 0; i < fonts->nfont && !found && !*failed; ++i) {
            FcCharSet *has = nullptr;
            FcBool scalable = FcFalse;
            if (FcPatternGetCharSet(fonts->fonts[i], FC_CHARSET, 0, &has) == FcResultMatch &&
                FcCharSetHasChar(has, code) &&
                (FcPatternGetBool(fonts->fonts[i], FC_SCALABLE, 0, &scalable) != FcResultMatch ||
                 scalable)) {
                found = FontLocationOf(fonts->fonts[i]);
                *failed = !found;
            }
        }
        if (!*failed) {
            try {
                if (m_fallbacks.size() >= kMaxFallbacks) {
                    m_fallbacks.clear();
                }
                m_fallbacks.emplace(code, found);
            } catch (const std::bad_alloc &) {
                // not kept
            }
        }
        return found;
    }

  private:
    static constexpr std::size_t kMaxFallbacks = 4096;

    FcConfig *Config() noexcept {
        if (m_config == nullptr) {
            m_config = FcInitLoadConfigAndFonts();  // null: tried again next time
        }
        return m_config;
    }

    // Every installed font in fontconfig's order for a sans-serif pattern, sorted once (null:
    // tried again next time).
    const FcFontSet *Sorted() noexcept {
        if (m_sorted != nullptr) {
            return m_sorted;
        }
        FcConfig *config = Config();
        FcPattern *pattern = config != nullptr ? FcPatternCreate() : nullptr;
        if (pattern != nullptr &&
            FcPatternAddString(pattern, FC_FAMILY,
                               reinterpret_cast<const FcChar8 *>("sans-serif"))) {
            FcConfigSubstitute(config, pattern, FcMatchPattern);
            FcDefaultSubstitute(pattern);
            FcResult result = FcResultNoMatch;
            m_sorted = FcFontSort(config, pattern, FcFalse, nullptr, &result);
        }
        if (pattern != nullptr) {
            FcPatternDestroy(pattern);
        }
        return m_sorted;
    }

    std::mutex m_mutex;
    FcConfig *m_config = nullptr;
    FcFontSet *m_sorted = nullptr;
    std::unordered_map<uint32_t, std::optional<FontLocation>> m_fallbacks;
};

bool IsFile(const char *path) noexcept {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
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
    if (std::strchr(spec, '/') != nullptr || IsFile(spec)) {
        return OpenFontSource(spec, faceIndex);
    }
    const std::optional<FontLocation> match = FontCatalog::Shared().Match(spec);
    return match ? OpenFontSource(match->path.c_str(), match->faceIndex) : std::nullopt;
}

std::optional<FontLocation> FallbackFontFor(uint32_t code) noexcept {
    bool failed = false;
    return FontCatalog::Shared().Fallback(code, &failed);
}

}  // namespace zav
