#include "text/line_shaping.h"

#include <fribidi.h>
#include <hb.h>

#include <algorithm>
#include <mutex>
#include <new>

#include "text/font_fallback.h"
#include "text/font_tables.h"

namespace zav {
namespace {

bool Weak(hb_script_t s) noexcept {
    return s == HB_SCRIPT_COMMON || s == HB_SCRIPT_INHERITED || s == HB_SCRIPT_UNKNOWN;
}

// HarfBuzz makes some process-wide data on first use (Unicode functions, the shaper list, tag
// tables) and publishes it with atomics of its own, which a thread checker does not see (HarfBuzz
// is not built for it). Under ThreadSanitizer, one shaping under a mutex makes that data before
// any caption shapes, and every later caption takes the mutex once, so that each thread is ordered
// after that first shaping as the checker can see it. Elsewhere there is nothing to do (and the
// first caption does not pay for shaping five scripts it may not have).
void PrepareHarfBuzz() noexcept {
#if defined(__SANITIZE_THREAD__)
    static std::mutex mutex;
    static bool ready = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (ready) {
        return;
    }
    hb_buffer_t *buffer = hb_buffer_create();
    for (const hb_script_t script :
         {HB_SCRIPT_LATIN, HB_SCRIPT_ARABIC, HB_SCRIPT_DEVANAGARI, HB_SCRIPT_THAI, HB_SCRIPT_HAN}) {
        hb_buffer_clear_contents(buffer);
        const uint32_t text[] = {0x41, 0x627, 0x939, 0xE01, 0x4E2D};
        hb_buffer_add_utf32(buffer, text, 5, 0, 5);
        hb_buffer_set_direction(buffer, HB_DIRECTION_LTR);
        hb_buffer_set_script(buffer, script);
        hb_shape(hb_font_get_empty(), buffer, nullptr, 0);
    }
    hb_unicode_script(hb_unicode_funcs_get_default(), 0x41);
    ready = hb_buffer_allocation_successful(buffer);
    hb_buffer_destroy(buffer);
#endif
}

struct Run {
    uint32_t start = 0, length = 0;
    FriBidiLevel level = 0;
    uint32_t font = 0;
    hb_script_t script = HB_SCRIPT_COMMON;
};

}  // namespace

LineShaper::LineShaper(FontSource primary, int32_t pixelSize, int64_t letterSpacing) noexcept
    : m_pixelSize(pixelSize), m_letterSpacing(letterSpacing) {
    PrepareHarfBuzz();
    try {
        m_fonts.push_back(std::move(primary));
        m_shapers.push_back(nullptr);
    } catch (const std::bad_alloc &) {
        m_failed = true;
    }
    m_buffer = hb_buffer_create();
    if (!hb_buffer_allocation_successful(m_buffer)) {
        m_failed = true;
    }
}

LineShaper::~LineShaper() {
    for (hb_font_t *f : m_shapers) {
        if (f != nullptr) {
            hb_font_destroy(f);
        }
    }
    hb_buffer_destroy(m_buffer);
}

hb_font_t *LineShaper::Shaper(uint32_t font) noexcept {
    if (m_shapers[font] != nullptr) {
        return m_shapers[font];
    }
    const FontSource &source = m_fonts[font];
    ThreadFace *face = AcquireThreadFace(source.id, source.path.c_str());
    if (face == nullptr) {
        m_failed = true;
        return nullptr;
    }
    if (face->shaper == nullptr) {
        face->shaper = MakeShaperFont(face->file, source.id.faceIndex);
        if (face->shaper == nullptr) {
            m_failed = true;
            return nullptr;
        }
    }
    m_shapers[font] = hb_font_reference(face->shaper);
    return m_shapers[font];
}

bool LineShaper::Has(uint32_t font, uint32_t code) noexcept {
    hb_font_t *shaper = Shaper(font);
    hb_codepoint_t glyph = 0;
    const bool has =
        shaper != nullptr && hb_font_get_nominal_glyph(shaper, code, &glyph) && glyph != 0;
    return !TablesFailed(font) && has;
}

bool LineShaper::TablesFailed(uint32_t font) noexcept {
    if (m_shapers[font] == nullptr || !ShaperTablesFailed(m_shapers[font])) {
        return false;
    }
    // HarfBuzz keeps the table it could not have as missing: the thread's face and its shaper
    // are made afresh by the next caption.
    DiscardThreadFace(m_fonts[font].id);
    m_failed = true;
    return true;
}

uint32_t LineShaper::FontFor(uint32_t code, uint32_t previous, bool mark) noexcept {
    if (mark && Has(previous, code)) {
        return previous;
    }
    if (Has(0, code)) {
        return 0;
    }
    if (previous != 0 && Has(previous, code)) {
        return previous;
    }
    if (const auto it = m_fallbacks.find(code); it != m_fallbacks.end()) {
        return it->second;
    }
    uint32_t chosen = 0;  // no font has it: the primary font's missing-glyph shape
    if (const std::optional<FontLocation> where = FallbackFontFor(code)) {
        if (std::optional<FontSource> font =
                OpenFontSource(where->path.c_str(), where->faceIndex)) {
            const auto same = std::find_if(m_fonts.begin(), m_fonts.end(),
                                           [&](const FontSource &f) { return f.id == font->id; });
            try {
                if (same != m_fonts.end()) {
                    chosen = static_cast<uint32_t>(same - m_fonts.begin());
                } else {
                    m_fonts.push_back(std::move(*font));
                    m_shapers.push_back(nullptr);
                    chosen = static_cast<uint32_t>(m_fonts.size() - 1);
                }
            } catch (const std::bad_alloc &) {
                m_failed = true;
                return 0;
            }
            if (!Has(chosen, code)) {
                chosen = 0;
            }
        }
    }
    try {
        m_fallbacks.emplace(code, chosen);
    } catch (const std::bad_alloc &) {
        m_failed = true;
    }
    return chosen;
}

bool LineShaper::Shape(const std::u32string &chars, ShapedLine *out) noexcept {
    out->glyphs.clear();
    out->advance = 0;
    if (m_failed) {
        return false;
    }
    try {
        if (!ShapeInto(chars, out)) {
            m_failed = true;
        }
    } catch (const std::bad_alloc &) {
        m_failed = true;
    }
    return !m_failed;
}

bool LineShaper::ShapeInto(const std::u32string &chars, ShapedLine *out) {
    const std::size_t n = chars.size();
    if (n == 0) {
        return true;
    }
    if (n > static_cast<std::size_t>(INT32_MAX / 4)) {
        return false;
    }
    const auto *text = reinterpret_cast<const FriBidiChar *>(chars.data());
    std::vector<FriBidiCharType> types(n);
    std::vector<FriBidiBracketType> brackets(n);
    std::vector<FriBidiLevel> levels(n);
    fribidi_get_bidi_types(text, static_cast<FriBidiStrIndex>(n), types.data());
    fribidi_get_bracket_types(text, static_cast<FriBidiStrIndex>(n), types.data(), brackets.data());
    FriBidiParType direction = FRIBIDI_PAR_ON;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(),
                                            static_cast<FriBidiStrIndex>(n), &direction,
                                            levels.data()) == 0) {
        return false;
    }

    // Scripts: common and inherited characters take the script before them (at the start, the
    // first one after them).
    hb_unicode_funcs_t *unicode = hb_unicode_funcs_get_default();
    std::vector<hb_script_t> scripts(n);
    hb_script_t last = HB_SCRIPT_COMMON;
    for (std::size_t i = 0; i < n; ++i) {
        scripts[i] = hb_unicode_script(unicode, chars[i]);
        if (!Weak(scripts[i]) && Weak(last)) {
            for (std::size_t j = 0; j < i; ++j) {
                scripts[j] = Weak(scripts[j]) ? scripts[i] : scripts[j];
            }
        }
        if (Weak(scripts[i])) {
            scripts[i] = last;
        } else {
            last = scripts[i];
        }
    }

    // Runs of one level, font and script, in logical order.
    std::vector<Run> runs;
    uint32_t font = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const hb_unicode_general_category_t category =
            hb_unicode_general_category(unicode, chars[i]);
        const bool mark = category == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
                          category == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
                          category == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK;
        font = FontFor(chars[i], font, mark);
        if (m_failed) {
            return false;
        }
        if (runs.empty() || runs.back().level != levels[i] || runs.back().font != font ||
            runs.back().script != scripts[i]) {
            runs.push_back(Run{static_cast<uint32_t>(i), 0, levels[i], font, scripts[i]});
        }
        ++runs.back().length;
    }

    // Visual order: from the highest level down to the lowest odd one, every sequence of runs at
    // that level or above is reversed.
    int highest = 0, lowestOdd = 256;  // FriBidiLevel is a signed char
    for (const Run &r : runs) {
        highest = std::max<int>(highest, r.level);
        if ((r.level & 1) != 0) {
            lowestOdd = std::min<int>(lowestOdd, r.level);
        }
    }
    for (int level = highest; level >= lowestOdd && level > 0; --level) {
        for (std::size_t i = 0; i < runs.size();) {
            if (runs[i].level < level) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < runs.size() && runs[j].level >= level) {
                ++j;
            }
            std::reverse(runs.begin() + static_cast<std::ptrdiff_t>(i),
                         runs.begin() + static_cast<std::ptrdiff_t>(j));
            i = j;
        }
    }

    int64_t pen = 0;
    for (const Run &run : runs) {
        hb_font_t *shaper = Shaper(run.font);
        if (shaper == nullptr) {
            return false;
        }
        hb_font_set_scale(shaper, m_pixelSize * 64, m_pixelSize * 64);
        hb_buffer_clear_contents(m_buffer);
        // The whole line is context, so that joining across a run's ends is right.
        hb_buffer_add_utf32(m_buffer, reinterpret_cast<const uint32_t *>(chars.data()),
                            static_cast<int>(n), run.start, static_cast<int>(run.length));
        hb_buffer_set_direction(m_buffer,
                                (run.level & 1) != 0 ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        hb_buffer_set_script(m_buffer, run.script);
        hb_shape(shaper, m_buffer, nullptr, 0);
        if (!hb_buffer_allocation_successful(m_buffer) || TablesFailed(run.font)) {
            return false;
        }
        unsigned count = 0;
        const hb_glyph_info_t *info = hb_buffer_get_glyph_infos(m_buffer, &count);
        const hb_glyph_position_t *pos = hb_buffer_get_glyph_positions(m_buffer, &count);
        for (unsigned k = 0; k < count; ++k) {
            out->glyphs.push_back(ShapedGlyph{run.font, info[k].codepoint, pen + pos[k].x_offset,
                                              -int64_t{pos[k].y_offset}});
            pen += pos[k].x_advance;
            if (pos[k].x_advance != 0) {
                pen += m_letterSpacing;
            }
        }
    }
    out->advance = pen;
    return true;
}

}  // namespace zav
