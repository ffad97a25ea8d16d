// One line of text to positioned glyphs: fonts chosen per character (with fallback), runs ordered
// by the bidirectional algorithm (FriBidi) and shaped by HarfBuzz.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "text/font.h"

struct hb_buffer_t;

namespace zav {

struct ShapedGlyph {
    uint32_t font = 0;   // index into LineShaper::Fonts()
    uint32_t index = 0;  // glyph index in that font
    int64_t x = 0;       // 26.6 from the line's left end
    int64_t y = 0;       // 26.6 below the baseline (negative: above)
};

struct ShapedLine {
    std::vector<ShapedGlyph> glyphs;  // left to right
    int64_t advance = 0;              // 26.6
};

// Shapes lines with one primary font at one pixel size, on the calling thread. A character the
// primary font lacks comes from the font FallbackFontFor names (added to Fonts()); marks stay with
// the font of the character they sit on when it has them.
class LineShaper {
  public:
    LineShaper(FontSource primary, int32_t pixelSize, int64_t letterSpacing) noexcept;
    ~LineShaper();
    LineShaper(const LineShaper &) = delete;
    LineShaper &operator=(const LineShaper &) = delete;

    // False when memory ran out or a font file could not be read (out is then incomplete).
    bool Shape(const std::u32string &chars, ShapedLine *out) noexcept;

    const std::vector<FontSource> &Fonts() const noexcept { return m_fonts; }

  private:
    struct hb_font_t *Shaper(uint32_t font) noexcept;
    bool Has(uint32_t font, uint32_t code) noexcept;
    // Whether the font's shaper met a table it could not read (then the shaping fails).
    bool TablesFailed(uint32_t font) noexcept;
    uint32_t FontFor(uint32_t code, uint32_t previous, bool mark) noexcept;
    bool ShapeInto(const std::u32string &chars, ShapedLine *out);

    std::vector<FontSource> m_fonts;
    std::vector<struct hb_font_t *> m_shapers;           // referenced; null until first needed
    std::unordered_map<uint32_t, uint32_t> m_fallbacks;  // character to font
    int32_t m_pixelSize = 0;
    int64_t m_letterSpacing = 0;
    hb_buffer_t *m_buffer = nullptr;
    bool m_failed = false;
};

}  // namespace zav
