// Draws a narrow multibyte string into an image glyph by glyph with a FreeType face.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "imaging/buffer/image_record.h"
#include "text/blit.h"
#include "text/font.h"
#include "text/multibyte_decoder.h"

namespace zav {

// The spacing values, all in pixels or fractions of fontSize.
struct SizeParams {
    double fontSize = 0.0;    // the size the spacing rules use
    double spaceRatio = 0.5;  // advance of a blank, as a fraction of fontSize
    double gapRatio = 100.0;  // extra gap after every character, as a fraction of fontSize
    double spare = 0.0;       // kept; nothing reads it
};

struct PenPosition {
    int32_t x = 0;  // column of a glyph's left edge
    int32_t y = 0;  // row of a glyph's bottom edge
};

// Raised when FreeType cannot be started or the font file cannot be opened as a face.
class FontOpenError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Glyphs are rendered one bit per pixel at the pixel size given at construction (or to
// ResetParameters), and their ink is put into the image with their bottom row on the pen's row and
// their left column on the pen's column. After each character the pen moves right by the bitmap's
// width (or spaceRatio * fontSize for a blank) plus gapRatio * fontSize, truncated toward zero.
// Bitmaps come from a process-wide cache; the face is the calling thread's own. One renderer is
// used by one thread at a time.
class GlyphTextRenderer {
  public:
    // Opens face 0 (or faceIndex) of the font file; throws FontOpenError when it cannot.
    GlyphTextRenderer(const char *fontPath, int32_t pixelSize);
    GlyphTextRenderer(const char *fontPath, long faceIndex, int32_t pixelSize);
    // A face already opened by OpenFontSource.
    GlyphTextRenderer(FontSource font, int32_t pixelSize) noexcept;
    virtual ~GlyphTextRenderer();

    GlyphTextRenderer(const GlyphTextRenderer &) = delete;
    GlyphTextRenderer &operator=(const GlyphTextRenderer &) = delete;

    // Copies each input that is not null; the four size values are kept as absolute values.
    // The glyphs keep the pixel size they had: a new fontSize changes the spacing only.
    void SetParameters(const int32_t *optionCode, const SizeParams *sizeParams,
                       const bool *optionFlag, const float *opacity) noexcept;

    // Every parameter back to its default, with fontSize and the glyphs' pixel size set to
    // pixelSize. A pixel size below 1 renders every glyph as a blank.
    void ResetParameters(int32_t pixelSize) noexcept;

    // Draws the zero-terminated text from the position on. Returns -1 for a null image or text,
    // otherwise the text's length in bytes (saturated to INT32_MAX). The text is read up to its
    // terminating zero and never beyond. An image that is not processable is not drawn into.
    int32_t DrawString(const ImageHeader *image, const char *text, PenPosition position,
                       const TextColour &colour,
                       ImageOrigin origin = ImageOrigin::kTopLeft) noexcept;

    // Draws one character (kMissingGlyphCode: the missing-glyph shape) and moves pen.x on.
    void DrawGlyph(const ImageHeader *image, uint32_t code, PenPosition &pen,
                   const TextColour &colour, ImageOrigin origin = ImageOrigin::kTopLeft) noexcept;

    // How DrawString decodes bytes of 0x80 and above (the user's default encoding unless set).
    void SetTextEncoding(TextEncoding encoding) noexcept { m_encoding = encoding; }

    int32_t OptionCode() const noexcept { return m_optionCode; }
    const SizeParams &Sizes() const noexcept { return m_sizeParams; }
    bool OptionFlag() const noexcept { return m_optionFlag; }
    float Opacity() const noexcept { return m_opacity; }
    int32_t PixelSize() const noexcept { return m_pixelSize; }
    // Whether some glyph drawn so far could not be rendered for lack of memory (drawn as a blank).
    bool GlyphFailed() const noexcept { return m_glyphFailed; }

  private:
    // Pen step after a glyph of bitmap width `width`, truncated toward zero.
    int32_t Advance(int32_t width) const noexcept;

    FontSource m_font;
    int32_t m_pixelSize = 0;
    int32_t m_optionCode = 0;
    SizeParams m_sizeParams;
    bool m_optionFlag = false;
    float m_opacity = 1.0f;
    TextEncoding m_encoding = TextEncoding::kUserDefault;
    bool m_glyphFailed = false;
};

}  // namespace zav
