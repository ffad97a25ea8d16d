#include "tests/support/text_oracle.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <locale.h>

#include <stdexcept>

namespace zavtest {
namespace {

int Ones(const std::vector<uint8_t> &ink) {
    int n = 0;
    for (uint8_t v : ink) {
        n += v;
    }
    return n;
}

}  // namespace

FontFile MatchFont(const char *family, const char *lang) {
    FontFile out;
    FcConfig *config = FcInitLoadConfigAndFonts();
    FcPattern *pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(family));
    if (lang != nullptr) {
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8 *>(lang));
    }
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern *match = FcFontMatch(config, pattern, &result);
    FcChar8 *file = nullptr;
    if (match != nullptr && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        out.path = reinterpret_cast<const char *>(file);
        FcPatternGetInteger(match, FC_INDEX, 0, &out.index);
    }
    if (match != nullptr) {
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    return out;
}

int OracleGlyph::InkCount() const {
    return Ones(ink);
}

FreeTypeOracle::FreeTypeOracle(const FontFile &font, int pixelSize) {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        throw std::runtime_error("FreeType");
    }
    if (FT_New_Face(library, font.path.c_str(), font.index, &face) != 0) {
        FT_Done_FreeType(library);
        throw std::runtime_error("face");
    }
    FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(pixelSize), 0);
    m_library = library;
    m_face = face;
}

FreeTypeOracle::~FreeTypeOracle() {
    FT_Done_Face(static_cast<FT_Face>(m_face));
    FT_Done_FreeType(static_cast<FT_Library>(m_library));
}

OracleGlyph FreeTypeOracle::Glyph(uint32_t code) const {
    return Render(FT_Get_Char_Index(static_cast<FT_Face>(m_face), code));
}

OracleGlyph FreeTypeOracle::MissingGlyph() const {
    return Render(0);
}

OracleGlyph FreeTypeOracle::Render(unsigned index) const {
    FT_Face face = static_cast<FT_Face>(m_face);
    OracleGlyph g;
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) != 0 ||
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) != 0) {
        throw std::runtime_error("glyph");
    }
    const FT_Bitmap &b = face->glyph->bitmap;
    if (b.pixel_mode != FT_PIXEL_MODE_MONO && b.rows != 0) {
        throw std::runtime_error("the test fonts give one-bit bitmaps");
    }
    g.rows = static_cast<int>(b.rows);
    g.width = static_cast<int>(b.width);
    g.ink.assign(static_cast<std::size_t>(g.rows) * g.width, 0);
    for (int r = 0; r < g.rows; ++r) {
        const unsigned char *row = b.buffer + static_cast<long>(r) * b.pitch;
        for (int c = 0; c < g.width; ++c) {
            g.ink[static_cast<std::size_t>(r) * g.width + c] = (row[c / 8] >> (7 - c % 8)) & 1;
        }
    }
    return g;
}

int InkMap::Count() const {
    return Ones(ink);
}

void InkMap::Place(const OracleGlyph &g, int x, int y, bool bottomLeftOrigin) {
    for (int r = 0; r < g.rows; ++r) {
        // Distance of bitmap row r above the bottom row.
        const int up = g.rows - 1 - r;
        const int ty = bottomLeftOrigin ? y + up : y - up;
        for (int c = 0; c < g.width; ++c) {
            const int tx = x + c;
            if (g.Ink(r, c) && tx >= 0 && tx < width && ty >= 0 && ty < height) {
                ink[static_cast<std::size_t>(ty) * width + tx] = 1;
            }
        }
    }
}

int Step(const OracleGlyph &g, double fontSize, double spaceRatio, double gapRatio) {
    // FreeType renders a space as one pixel without ink: a blank
    const int width = g.InkCount() == 0 ? 0 : g.width;
    const double a =
        width != 0 ? width + gapRatio * fontSize : spaceRatio * fontSize + gapRatio * fontSize;
    return static_cast<int>(a);
}

InkMap ExpectedLine(const FreeTypeOracle &oracle, const std::vector<uint32_t> &codes, int width,
                    int height, int x, int y, double fontSize, double spaceRatio, double gapRatio) {
    InkMap map(width, height);
    for (uint32_t code : codes) {
        const OracleGlyph g = code == 0 ? oracle.MissingGlyph() : oracle.Glyph(code);
        map.Place(g, x, y);
        x += Step(g, fontSize, spaceRatio, gapRatio);
    }
    return map;
}

const FontFile &CaptionFont() {
    static const FontFile f = MatchFont("SimHei", "zh-cn");
    return f;
}

const FontFile &Latin() {
    static const FontFile f = MatchFont("DejaVu Sans", nullptr);
    return f;
}

bool GbkLocaleAvailable() {
    locale_t l = newlocale(LC_CTYPE_MASK, "zh_CN.GBK", static_cast<locale_t>(0));
    if (l == static_cast<locale_t>(0)) {
        return false;
    }
    freelocale(l);
    return true;
}

}  // namespace zavtest
