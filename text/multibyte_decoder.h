// Narrow text to character codes: the user's default encoding, or UTF-8.
#pragma once

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cwchar>

#include <locale.h>

namespace zav {

// A character code that selects the font's missing-glyph shape (glyph index 0).
inline constexpr uint32_t kMissingGlyphCode = 0xFFFFFFFFu;

enum class TextEncoding {
    kUserDefault,  // LC_CTYPE of the environment (LC_ALL, LC_CTYPE, LANG); plain ASCII as UTF-8
    kUtf8,
};

struct DecodedChar {
    uint32_t code = 0;  // kMissingGlyphCode for a sequence that is not a character
    uint32_t length = 1;
};

// Decodes one text. Never touches the process locale: the user's default encoding is used through
// a locale object of the calling thread, switched in only around each conversion, with a
// conversion state of this decoder's own.
class MultibyteDecoder {
  public:
    explicit MultibyteDecoder(TextEncoding encoding) noexcept;

    // The character at p, where p[0] is not zero and `available` bytes precede the terminating
    // zero. A byte below 0x80 is a character of its own. A lead byte takes as many bytes as its
    // character has; a sequence that is not a character (or is cut short by the terminating zero)
    // takes the lead byte and the byte after it, unless that is the terminating zero, and decodes
    // as kMissingGlyphCode.
    DecodedChar Next(const unsigned char *p, std::size_t available) noexcept;

  private:
    bool m_utf8 = true;
    locale_t m_locale = nullptr;
    std::mbstate_t m_state{};
};

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF): the character's length,
// or 0 when the bytes do not start a complete character within `available`.
std::size_t DecodeUtf8(const unsigned char *p, std::size_t available, uint32_t *code) noexcept;

}  // namespace zav
