#include "text/coverage_blend.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zav {
namespace {

constexpr uint32_t kFull = 255u * 255u;
constexpr int64_t kChunk = 128;

// (v a + d (65025 - a)) / 65025 rounded to nearest: 65025 is odd, so no value lies half way.
inline uint8_t Mix(uint32_t v, uint32_t d, uint32_t a) noexcept {
    return static_cast<uint8_t>((v * a + d * (kFull - a) + kFull / 2) / kFull);
}

// An opaque colour over `bytes` bytes with one coverage byte each. (v c + d (255 - c)) / 255
// rounded to nearest is (t + (t >> 8)) >> 8 with t = v c + d (255 - c) + 128, exactly for every
// 8-bit v, d and c: the value Mix gives with a = 255 c. Sixteen bytes at a time with GCC's vector
// extension (SIMD where the target has it); the last sixteen are computed from the bytes as they
// were before the loop and stored after it, so no byte-by-byte tail is needed.
void BlendOpaqueBytes(uint8_t *__restrict p, const uint8_t *__restrict c, int64_t bytes,
                      const uint8_t *__restrict pattern) noexcept {
    using Bytes = uint8_t __attribute__((vector_size(16)));
    using Words = uint16_t __attribute__((vector_size(32)));
    const auto blend16 = [&](int64_t j) {
        Bytes a8, d8, v8;
        std::memcpy(&a8, c + j, 16);
        std::memcpy(&d8, p + j, 16);
        std::memcpy(&v8, pattern + j, 16);
        const Words a = __builtin_convertvector(a8, Words);
        const Words t = __builtin_convertvector(v8, Words) * a +
                        __builtin_convertvector(d8, Words) * (255 - a) + 128;
        return __builtin_convertvector((t + (t >> 8)) >> 8, Bytes);
    };
    if (bytes < 16) {
        for (int64_t j = 0; j < bytes; ++j) {
            const uint16_t a = c[j];
            const uint16_t t = static_cast<uint16_t>(pattern[j] * a + p[j] * (255 - a) + 128);
            p[j] = static_cast<uint8_t>((t + (t >> 8)) >> 8);
        }
        return;
    }
    const Bytes last = blend16(bytes - 16);
    for (int64_t j = 0; j + 16 <= bytes; j += 16) {
        const Bytes r = blend16(j);
        std::memcpy(p + j, &r, 16);
    }
    std::memcpy(p + bytes - 16, &last, 16);
}

// Coverage is one byte a pixel (spread false) or one a channel; the pattern repeats the colour.
template <int Channels>
void BlendRows(const ImageHeader &image, int64_t x, int64_t y, const uint8_t *coverage,
               int64_t stride, int32_t width, int32_t rows, const BlendColour &colour,
               const uint16_t *spans, bool spread) noexcept {
    const int64_t c0 = std::max<int64_t>(0, -x);
    const int64_t c1 = std::min<int64_t>(width, int64_t{image.width} - x);
    const int64_t r0 = std::max<int64_t>(0, -y);
    const int64_t r1 = std::min<int64_t>(rows, int64_t{image.height} - y);
    if (c0 >= c1 || r0 >= r1) {
        return;
    }
    const int64_t step = spread ? Channels : 1;  // coverage bytes a pixel
    const uint32_t opacity = colour.opacity;
    if (opacity == 255 && coverage != nullptr) {
        uint8_t pattern[kChunk * Channels];
        uint8_t spreadRow[kChunk * Channels];
        for (int64_t i = 0, n = std::min<int64_t>(kChunk, c1 - c0); i < n; ++i) {
            for (int k = 0; k < Channels; ++k) {
                pattern[i * Channels + k] = colour.value[k];
            }
        }
        for (int64_t r = r0; r < r1; ++r) {
            const int64_t b = spans != nullptr ? std::max<int64_t>(c0, spans[4 * r]) : c0;
            const int64_t e = spans != nullptr ? std::min<int64_t>(c1, spans[4 * r + 1]) : c1;
            const uint8_t *cov = coverage + r * stride + b * step;
            uint8_t *p = image.Row(static_cast<int32_t>(y + r)) + (x + b) * Channels;
            for (int64_t done = 0, n = e - b; done < n; done += kChunk) {
                const int64_t m = std::min<int64_t>(kChunk, n - done);
                const uint8_t *c = cov + done * step;
                if (step != Channels) {
                    for (int64_t i = 0; i < m; ++i) {
                        for (int k = 0; k < Channels; ++k) {
                            spreadRow[i * Channels + k] = c[i];
                        }
                    }
                    c = spreadRow;
                }
                BlendOpaqueBytes(p + done * Channels, c, m * Channels, pattern);
            }
        }
        return;
    }
    for (int64_t r = r0; r < r1; ++r) {
        const uint8_t *cov = coverage != nullptr ? coverage + r * stride : nullptr;
        uint8_t *p = image.Row(static_cast<int32_t>(y + r)) + (x + c0) * Channels;
        for (int64_t c = c0; c < c1; ++c, p += Channels) {
            const uint32_t a = (cov != nullptr ? cov[c * step] : 255u) * opacity;
            if (a == 0) {
                continue;
            }
            for (int k = 0; k < Channels; ++k) {
                p[k] = a == kFull ? colour.value[k] : Mix(colour.value[k], p[k], a);
            }
        }
    }
}

void Blend(const ImageHeader &image, int64_t x, int64_t y, const uint8_t *coverage, int64_t stride,
           int32_t width, int32_t rows, const BlendColour &colour, const uint16_t *spans = nullptr,
           bool spread = false) noexcept {
    if (!IsBlendable(image) || width <= 0 || rows <= 0 || colour.opacity == 0) {
        return;
    }
    switch (image.nChannels) {
        case 1:
            BlendRows<1>(image, x, y, coverage, stride, width, rows, colour, spans, spread);
            break;
        case 3:
            BlendRows<3>(image, x, y, coverage, stride, width, rows, colour, spans, spread);
            break;
        case 4:
            BlendRows<4>(image, x, y, coverage, stride, width, rows, colour, spans, spread);
            break;
        default:
            break;
    }
}

}  // namespace

BlendColour MakeBlendColour(uint32_t rgb, float opacity, int32_t channels) noexcept {
    BlendColour c;
    const uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    if (channels == 1) {
        c.value[0] = static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
    } else {
        c.value[0] = static_cast<uint8_t>(b);
        c.value[1] = static_cast<uint8_t>(g);
        c.value[2] = static_cast<uint8_t>(r);
        c.value[3] = 255;
    }
    const float o = std::isnan(opacity) ? 0.0f : std::clamp(opacity, 0.0f, 1.0f);
    c.opacity = static_cast<uint32_t>(std::lround(o * 255.0f));
    return c;
}

bool IsBlendable(const ImageHeader &image) noexcept {
    return image.depth == ZAV_DEPTH_8U && !image.oversized && image.imageData != nullptr &&
           image.width >= 1 && image.height >= 1 &&
           (image.nChannels == 1 || image.nChannels == 3 || image.nChannels == 4);
}

void BlendCoverage(const ImageHeader &image, int64_t x, int64_t y, const uint8_t *coverage,
                   int32_t width, int32_t rows, const BlendColour &colour, const uint16_t *spans,
                   int32_t coverageChannels) noexcept {
    if (coverage != nullptr && (coverageChannels == 1 || coverageChannels == image.nChannels)) {
        Blend(image, x, y, coverage, int64_t{width} * coverageChannels, width, rows, colour, spans,
              coverageChannels != 1);
    }
}

void BlendRectangle(const ImageHeader &image, int64_t x0, int64_t y0, int64_t x1, int64_t y1,
                    const BlendColour &colour) noexcept {
    // Clipped here first so that the extent fits the 32-bit width of a coverage map.
    x0 = std::max<int64_t>(x0, -1);
    y0 = std::max<int64_t>(y0, -1);
    x1 = std::min<int64_t>(x1, int64_t{image.width} + 1);
    y1 = std::min<int64_t>(y1, int64_t{image.height} + 1);
    if (x0 < x1 && y0 < y1) {
        Blend(image, x0, y0, nullptr, 0, static_cast<int32_t>(x1 - x0),
              static_cast<int32_t>(y1 - y0), colour);
    }
}

}  // namespace zav
