#include "text/font_catalog.h"

#include <fontconfig/fontconfig.h>

#include <atomic>
#include <mutex>
#include <new>
#include <unordered_map>

namespace zav {
namespace {

std::atomic<uint64_t> g_lookups{0};
std::atomic<uint64_t> g_configurations{0};

// The file and face index a matched font names; nothing when it names no file (or memory runs
// out).
std::optional<FontLocation> LocationOf(FcPattern *font) noexcept {
    FcChar8 *file = nullptr;
    int index = 0;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || file == nullptr ||
        file[0] == 0) {
        return std::nullopt;
    }
    if (FcPatternGetInteger(font, FC_INDEX, 0, &index) != FcResultMatch) {
        index = 0;
    }
    try {
        return FontLocation{reinterpret_cast<const char *>(file), index};
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

// The captions' fontconfig configuration. Every use holds m_mutex. A configuration in which no
// font was found is dropped, so that fonts installed (or a configuration mended) later are found
// by the next lookup.
class FontCatalog {
  public:
    static FontCatalog &Shared() noexcept {
        // Made in static storage, without allocating, and never destroyed (threads still drawing
        // at exit use it).
        alignas(FontCatalog) static unsigned char storage[sizeof(FontCatalog)];
        static FontCatalog *catalog = new (storage) FontCatalog();
        return *catalog;
    }

    std::optional<FontLocation> Match(FcPattern *pattern) noexcept {
        std::lock_guard<std::mutex> lock(m_mutex);
        FcConfig *config = Config();
        if (config == nullptr) {
            return std::nullopt;
        }
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern *match = FcFontMatch(config, pattern, &result);
        std::optional<FontLocation> found;
        if (match != nullptr) {
            found = LocationOf(match);
            FcPatternDestroy(match);
        } else if (result == FcResultNoMatch) {
            Drop();  // no font at all
        }
        return found;
    }

    // *failed is set when the lookup could not be made (memory, no configuration, no fonts).
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
        if (fonts->nfont == 0) {
            Drop();
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
                found = LocationOf(fonts->fonts[i]);
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
            g_configurations.fetch_add(1, std::memory_order_relaxed);
        }
        return m_config;
    }

    void Drop() noexcept {
        if (m_sorted != nullptr) {
            FcFontSetDestroy(m_sorted);
            m_sorted = nullptr;
        }
        if (m_config != nullptr) {
            FcConfigDestroy(m_config);
            m_config = nullptr;
        }
        m_fallbacks.clear();
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

}  // namespace

const FontLocation *SystemCaptionFont() noexcept {
    g_lookups.fetch_add(1, std::memory_order_relaxed);
    // A match is kept for the life of the process (never destroyed, so threads still drawing at
    // exit are safe); no match is not kept.
    static std::atomic<const FontLocation *> location{nullptr};
    static std::mutex mutex;
    if (const FontLocation *found = location.load(std::memory_order_acquire)) {
        return found;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (location.load(std::memory_order_relaxed) == nullptr) {
        FcPattern *pattern = FcPatternCreate();
        if (pattern != nullptr &&
            FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>("SimHei")) &&
            FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8 *>("zh-cn"))) {
            if (std::optional<FontLocation> match = FontCatalog::Shared().Match(pattern)) {
                location.store(new (std::nothrow) FontLocation(std::move(*match)),
                               std::memory_order_release);
            }
        }
        if (pattern != nullptr) {
            FcPatternDestroy(pattern);
        }
    }
    return location.load(std::memory_order_relaxed);
}

std::optional<FontLocation> MatchFontPattern(const char *patternText) noexcept {
    g_lookups.fetch_add(1, std::memory_order_relaxed);
    FcPattern *pattern = FcNameParse(reinterpret_cast<const FcChar8 *>(patternText));
    if (pattern == nullptr) {
        return std::nullopt;
    }
    std::optional<FontLocation> found = FontCatalog::Shared().Match(pattern);
    FcPatternDestroy(pattern);
    return found;
}

std::optional<FontLocation> FallbackFontFor(uint32_t code) noexcept {
    g_lookups.fetch_add(1, std::memory_order_relaxed);
    bool failed = false;
    return FontCatalog::Shared().Fallback(code, &failed);
}

FontCatalogCounts FontCatalogActivity() noexcept {
    return {g_lookups.load(std::memory_order_relaxed),
            g_configurations.load(std::memory_order_relaxed)};
}

}  // namespace zav
