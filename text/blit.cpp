#include "text/blit.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace zav {
namespace {

// Rounds to nearest (ties to even) and saturates to an integer element type; NaN becomes 0.
template <typename T>
T SaturateInteger(double v) noexcept {
    if (std::isnan(v)) {
        return 0;
    }
    const double r = std::nearbyint(v);
    if (r <= static_cast<double>(std::numeric_limits<T>::min())) {
        return std::numeric_limits<T>::min();
    }
    if (r >= static_cast<double>(std::numeric_limits<T>::max())) {
        return std::numeric_limits<T>::max();
    }
    return static_cast<T>(r);
}

template <typename T>
T Saturate(double v) noexcept {
    if constexpr (std::is_same_v<T, double>) {
        return v;
    } else if constexpr (std::is_same_v<T, float>) {
        return std::isnan(v) ? static_cast<float>(v)
                             : static_cast<float>(std::clamp(v, -double{FLT_MAX}, double{FLT_MAX}));
    } else {
        return SaturateInteger<T>(v);
    }
}

// The visible part of a glyph: bitmap rows [rowBegin, rowEnd) and columns [colBegin, colEnd).
struct Visible {
    int32_t rowBegin, rowEnd, colBegin, colEnd;
    bool Empty() const noexcept { return rowBegin >= rowEnd || colBegin >= colEnd; }
};

Visible ClipGlyph(const ImageHeader &image, ImageOrigin origin, const GlyphBitmap &glyph,
                  int64_t penX, int64_t penY) noexcept {
    const int64_t rows = glyph.rows;
    // Image row of bitmap-loop step i: penY - rows + 1 + i (top-left) or penY + i (bottom-left).
    const int64_t firstRow = origin == ImageOrigin::kTopLeft ? penY - rows + 1 : penY;
    const int64_t rowBegin = std::max<int64_t>(0, -firstRow);
    const int64_t rowEnd = std::min<int64_t>(rows, image.height - firstRow);
    const int64_t colBegin = std::max<int64_t>(0, -penX);
    const int64_t colEnd = std::min<int64_t>(glyph.width, image.width - penX);
    Visible v;
    v.rowBegin = static_cast<int32_t>(std::clamp<int64_t>(rowBegin, 0, rows));
    v.rowEnd = static_cast<int32_t>(std::clamp<int64_t>(rowEnd, 0, rows));
    v.colBegin = static_cast<int32_t>(std::clamp<int64_t>(colBegin, 0, glyph.width));
    v.colEnd = static_cast<int32_t>(std::clamp<int64_t>(colEnd, 0, glyph.width));
    return v;
}

// Calls put(pixel address) for every visible ink pixel. Bytes without ink are skipped whole.
template <typename Put>
void ForEachInkPixel(const ImageHeader &image, ImageOrigin origin, const GlyphBitmap &glyph,
                     int32_t penX, int32_t penY, int64_t pixelBytes, Put &&put) noexcept {
    const Visible v = ClipGlyph(image, origin, glyph, penX, penY);
    if (v.Empty()) {
        return;
    }
    const bool topLeft = origin == ImageOrigin::kTopLeft;
    const int64_t firstRow = topLeft ? int64_t{penY} - glyph.rows + 1 : int64_t{penY};
    const int32_t firstByte = v.colBegin >> 3;
    const int32_t lastByte = (v.colEnd - 1) >> 3;
    // Masks of the columns inside [colBegin, colEnd) in the first and last byte.
    const uint32_t firstMask = 0xFFu >> (v.colBegin & 7);
    const uint32_t lastMask = (0xFF00u >> (((v.colEnd - 1) & 7) + 1)) & 0xFFu;
    for (int32_t i = v.rowBegin; i < v.rowEnd; ++i) {
        const int32_t s = topLeft ? i : glyph.rows - 1 - i;
        const uint8_t *bits = glyph.bits.data() + static_cast<std::size_t>(s) * glyph.pitch;
        uint8_t *row = image.Row(static_cast<int32_t>(firstRow + i));
        for (int32_t b = firstByte; b <= lastByte; ++b) {
            uint32_t byte = bits[b];
            if (b == firstByte) {
                byte &= firstMask;
            }
            if (b == lastByte) {
                byte &= lastMask;
            }
            while (byte != 0) {
                const int bit = __builtin_clz(byte) - 24;  // 0 = most significant = leftmost
                byte &= ~(0x80u >> bit);
                put(row + (int64_t{penX} + int64_t{b} * 8 + bit) * pixelBytes);
            }
        }
    }
}

template <typename T>
void BlitTyped(const ImageHeader &image, ImageOrigin origin, const GlyphBitmap &glyph, int32_t penX,
               int32_t penY, const TextColour &colour, float opacity) noexcept {
    const int n = image.nChannels;
    const int64_t pixelBytes = int64_t{n} * static_cast<int64_t>(sizeof(T));
    if (opacity == 1.0f) {
        T ink[4];
        for (int c = 0; c < 4; ++c) {
            ink[c] = Saturate<T>(colour.val[c]);
        }
        if constexpr (sizeof(T) == 1) {
            // The common case: direct byte stores.
            uint8_t b[4];
            std::memcpy(b, ink, 4);
            switch (n) {
                case 1:
                    ForEachInkPixel(image, origin, glyph, penX, penY, 1,
                                    [&](uint8_t *p) { p[0] = b[0]; });
                    return;
                case 3:
                    ForEachInkPixel(image, origin, glyph, penX, penY, 3, [&](uint8_t *p) {
                        p[0] = b[0];
                        p[1] = b[1];
                        p[2] = b[2];
                    });
                    return;
                case 4: {
                    uint32_t word;
                    std::memcpy(&word, b, 4);
                    ForEachInkPixel(image, origin, glyph, penX, penY, 4,
                                    [&](uint8_t *p) { std::memcpy(p, &word, 4); });
                    return;
                }
                default:
                    break;
            }
        }
        ForEachInkPixel(image, origin, glyph, penX, penY, pixelBytes, [&](uint8_t *p) {
            std::memcpy(p, ink, static_cast<std::size_t>(pixelBytes));
        });
        return;
    }
    const double o = opacity;
    ForEachInkPixel(image, origin, glyph, penX, penY, pixelBytes, [&](uint8_t *p) {
        for (int c = 0; c < n; ++c) {
            T current;
            std::memcpy(&current, p + c * sizeof(T), sizeof(T));
            const T blended =
                Saturate<T>(o * colour.val[c] + (1.0 - o) * static_cast<double>(current));
            std::memcpy(p + c * sizeof(T), &blended, sizeof(T));
        }
    });
}

}  // namespace

void BlitGlyph(const ImageHeader &image, ImageOrigin origin, const GlyphBitmap &glyph, int32_t penX,
               int32_t penY, const TextColour &colour, float opacity) noexcept {
    if (!image.IsProcessable() || glyph.rows <= 0 || glyph.width <= 0 ||
        glyph.bits.size() < static_cast<std::size_t>(glyph.rows) * glyph.pitch ||
        glyph.pitch < (glyph.width + 7) / 8) {
        return;
    }
    switch (image.depth) {
        case ZAV_DEPTH_8U:
            BlitTyped<uint8_t>(image, origin, glyph, penX, penY, colour, opacity);
            break;
        case ZAV_DEPTH_8S:
            BlitTyped<int8_t>(image, origin, glyph, penX, penY, colour, opacity);
            break;
        case ZAV_DEPTH_16S:
            BlitTyped<int16_t>(image, origin, glyph, penX, penY, colour, opacity);
            break;
        case ZAV_DEPTH_32S:
            BlitTyped<int32_t>(image, origin, glyph, penX, penY, colour, opacity);
            break;
        case ZAV_DEPTH_32F:
            BlitTyped<float>(image, origin, glyph, penX, penY, colour, opacity);
            break;
        case ZAV_DEPTH_64F:
            BlitTyped<double>(image, origin, glyph, penX, penY, colour, opacity);
            break;
        default:
            break;
    }
}

}  // namespace zav
