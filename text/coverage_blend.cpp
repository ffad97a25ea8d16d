#include "text/coverage_blend.h"

#include <algorithm>
#include <cmath>

namespace zav {
namespace {

constexpr uint32_t kFull = 255u * 255u;

// (v a + d (65025 - a)) / 65025 rounded to nearest: 65025 is odd, so no value lies half way.
inline uint8_t Mix(uint32_t v, uint32_t d, uint32_t a) noexcept {
    return static_cast<uint8_t>((v * a + d * (kFull - a) + kFull / 2) / kFull);
}

template <int Channels>
void BlendRows(const ImageHeader &image, int64_t x, int64_t y, const uint8_t *coverage,
               int64_t stride, int32_t width, int32_t rows, const BlendColour &colour) noexcept {
    const int64_t c0 = std::max<int64_t>(0, -x);
    const int64_t c1 = std::min<int64_t>(width, int64_t{image.width} - x);
    const int64_t r0 = std::max<int64_t>(0, -y);
    const int64_t r1 = std::min<int64_t>(rows, int64_t{image.height} - y);
    if (c0 >= c1 || r0 >= r1) {
        return;
    }
    const uint32_t opacity = colour.opacity;
    for (int64_t r = r0; r < r1; ++r) {
        const uint8_t *cov = coverage != nullptr ? coverage + r * stride : nullptr;
        uint8_t *p = image.Row(static_cast<int32_t>(y + r)) + (x + c0) * Channels;
        for (int64_t c = c0; c < c1; ++c, p += Channels) {
            const uint32_t a = (cov != nullptr ? cov[c] : 255u) * opacity;
            if (a == 0) {
                continue;
            }
            if (a == kFull) {
                for (int k = 0; k < Channels; ++k) {
                    p[k] = colour.value[k];
                }
                continue;
            }
            for (int k = 0; k < Channels; ++k) {
                p[k] = Mix(colour.value[k], p[k], a);
            }
        }
    }
}

void Blend(const ImageHeader &image, int64_t x, int64_t y, const uint8_t *coverage, int64_t stride,
           int32_t width, int32_t rows, const BlendColour &colour) noexcept {
    if (!IsBlendable(image) || width <= 0 || rows <= 0 || colour.opacity == 0) {
        return;
    }
    switch (image.nChannels) {
        case 1:
            BlendRows<1>(image, x, y, coverage, stride, width, rows, colour);
            break;
        case 3:
            BlendRows<3>(image, x, y, coverage, stride, width, rows, colour);
            break;
        case 4:
            BlendRows<4>(image, x, y, coverage, stride, width, rows, colour);
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
                   int32_t width, int32_t rows, const BlendColour &colour) noexcept {
    if (coverage != nullptr) {
        Blend(image, x, y, coverage, width, width, rows, colour);
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
