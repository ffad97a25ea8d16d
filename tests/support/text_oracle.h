// FreeType itself as the oracle for captions: which bits a glyph has and where they must land.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace zavtest {

struct FontFile {
    std::string path;
    int index = 0;
};

// fontconfig's best match for a family and language (the caption font: "SimHei", "zh-cn").
FontFile MatchFont(const char *family, const char *lang);

// A glyph as FreeType renders it one bit per pixel (default load flags).
struct OracleGlyph {
    int rows = 0;
    int width = 0;
    std::vector<uint8_t> ink;  // rows * width, 1 for ink, top row first

    bool Ink(int r, int c) const { return ink[static_cast<std::size_t>(r) * width + c] != 0; }
    int InkCount() const;
};

class FreeTypeOracle {
  public:
    FreeTypeOracle(const FontFile &font, int pixelSize);
    ~FreeTypeOracle();
    FreeTypeOracle(const FreeTypeOracle &) = delete;
    FreeTypeOracle &operator=(const FreeTypeOracle &) = delete;

    OracleGlyph Glyph(uint32_t code) const;  // through the face's character map
    OracleGlyph MissingGlyph() const;        // glyph index 0

  private:
    OracleGlyph Render(unsigned index) const;
    void *m_library = nullptr;
    void *m_face = nullptr;
};

// Where ink must be: a width x height map of the image, top row first.
struct InkMap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> ink;

    InkMap(int w, int h) : width(w), height(h), ink(static_cast<std::size_t>(w) * h, 0) {}
    bool At(int x, int y) const { return ink[static_cast<std::size_t>(y) * width + x] != 0; }
    int Count() const;

    // Marks the glyph with its bottom row on row y and its left column on column x, clipped.
    void Place(const OracleGlyph &g, int x, int y, bool bottomLeftOrigin = false);
};

// Pen steps as a caption makes them: width + gap * size, or space * size + gap * size for a glyph
// without ink, truncated.
int Step(const OracleGlyph &g, double fontSize, double spaceRatio, double gapRatio);

// Where the ink of a line must be in a width x height image: the glyphs of `codes` (0 stands for
// the missing glyph) placed from (x, y) on, the pen moving by Step after each.
InkMap ExpectedLine(const FreeTypeOracle &oracle, const std::vector<uint32_t> &codes, int width,
                    int height, int x, int y, double fontSize, double spaceRatio, double gapRatio);

// The caption font (fontconfig's SimHei match for zh-cn) and a Latin face (DejaVu Sans), looked up
// once.
const FontFile &CaptionFont();
const FontFile &Latin();

// Whether the locale zh_CN.GBK is installed (scripts/setup.sh generates it).
bool GbkLocaleAvailable();

// Sets an environment variable for one scope (text decoding reads LC_ALL and friends from the
// environment; the process locale is untouched).
class ScopedEnv {
  public:
    ScopedEnv(const char *name, const char *value) : m_name(name) {
        if (const char *old = std::getenv(name)) {
            m_old = old;
        }
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (m_old) {
            setenv(m_name.c_str(), m_old->c_str(), 1);
        } else {
            unsetenv(m_name.c_str());
        }
    }

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

}  // namespace zavtest
