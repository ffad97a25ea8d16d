// One character rasterised at one pixel size: a one-bit-per-pixel bitmap and its metrics.
#pragma once

#include <cstdint>
#include <vector>

namespace zav {

// A character code that selects the font's missing-glyph shape (glyph index 0).
inline constexpr uint32_t kMissingGlyphCode = 0xFFFFFFFFu;

struct GlyphBitmap {
    int32_t rows = 0;
    int32_t width = 0;  // pixels per row; 0 for a blank
    int32_t pitch = 0;  // bytes per row: (width + 7) / 8; rows are stored top row first
    int32_t left = 0;   // the font's bearings and advance, kept with the bitmap
    int32_t top = 0;
    int64_t advance26_6 = 0;
    std::vector<uint8_t> bits;  // rows * pitch bytes, most significant bit = leftmost pixel

    bool Ink(int32_t row, int32_t column) const noexcept {
        return (bits[static_cast<std::size_t>(row) * static_cast<std::size_t>(pitch) +
                     static_cast<std::size_t>(column >> 3)] &
                (0x80u >> (column & 7))) != 0;
    }
};

}  // namespace zav
