// Test pictures: 8-bit pixels in rows padded to 4 bytes as the component lays out its buffers,
// the patterns that fill them, and comparisons.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/codecs/codec.h"

namespace zavtest {

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 3;
    std::size_t step = 0;  // (width * channels + 3) & ~3
    std::vector<uint8_t> bytes;

    Picture() = default;
    // Rows of zeros.
    Picture(int32_t w, int32_t h, int32_t c)
        : width(w), height(h), channels(c), step((static_cast<std::size_t>(w) * c + 3) & ~3u) {
        bytes.assign(step * h, 0);
    }
    // The bytes as given (rows with their padding, or none yet).
    Picture(int32_t w, int32_t h, int32_t c, std::vector<uint8_t> data)
        : width(w),
          height(h),
          channels(c),
          step((static_cast<std::size_t>(w) * c + 3) & ~3u),
          bytes(std::move(data)) {}

    std::size_t Stride() const { return step; }
    uint8_t *Row(int32_t y) { return bytes.data() + step * y; }
    const uint8_t *Row(int32_t y) const { return bytes.data() + step * y; }
    uint8_t &At(int32_t x, int32_t y, int32_t c) { return Row(y)[x * channels + c]; }
    uint8_t At(int32_t x, int32_t y, int32_t c) const { return Row(y)[x * channels + c]; }

    // What a writer is asked to write for this picture.
    zav::WriteRequest Request(float quality = 2.0f) const {
        zav::WriteRequest r;
        r.pixels = bytes.data();
        r.step = step;
        r.width = width;
        r.height = height;
        r.color = channels == 3;
        r.quality = quality;
        return r;
    }
};

// A picture with varied content: gradients and a few hard edges. Padding bytes hold 0xA5.
inline Picture Pattern(int32_t w, int32_t h, int32_t channels, uint32_t seed = 1) {
    Picture p(w, h, channels);
    std::fill(p.bytes.begin(), p.bytes.end(), uint8_t{0xA5});
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            for (int32_t c = 0; c < channels; ++c) {
                uint32_t v = (x * (37 + 11 * c) + y * (53 + 7 * c) + seed * 29 * (c + 1)) & 0xFF;
                if (((x / 5) + (y / 3)) % 7 == 0) {
                    v ^= 0x80;
                }
                p.At(x, y, c) = static_cast<uint8_t>(v);
            }
        }
    }
    return p;
}

// A picture whose samples differ from pixel to pixel and channel to channel; padding bytes hold
// 0xEE so that a reader of padding shows up.
inline Picture RampPattern(int32_t width, int32_t height, int32_t channels) {
    Picture p(width, height, channels);
    std::fill(p.bytes.begin(), p.bytes.end(), uint8_t{0xEE});
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            for (int32_t c = 0; c < channels; ++c) {
                p.At(x, y, c) = static_cast<uint8_t>(x * 37 + y * 91 + c * 53 + 11);
            }
        }
    }
    return p;
}

// A colour picture drawn from a palette of `colors` BGR colours.
inline Picture PalettePattern(int32_t width, int32_t height, int colors) {
    Picture p(width, height, 3);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int i = (x * 7 + y * 3) % colors;
            uint8_t *px = p.Row(y) + 3 * x;
            px[0] = static_cast<uint8_t>(i * 67 + 5);
            px[1] = static_cast<uint8_t>(255 - i * 29);
            px[2] = static_cast<uint8_t>(i * 151 + 90);
        }
    }
    return p;
}

// The picture as 3-channel BGR (gray samples repeated), as a load gives it.
inline Picture AsColor(const Picture &p) {
    if (p.channels == 3) {
        return p;
    }
    Picture out(p.width, p.height, 3);
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                out.At(x, y, c) = p.At(x, y, 0);
            }
        }
    }
    return out;
}

// True when both pictures have the same geometry and pixels (padding ignored).
inline ::testing::AssertionResult SamePixels(const Picture &a, const Picture &b) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) {
        return ::testing::AssertionFailure()
               << "geometry " << a.width << "x" << a.height << "x" << a.channels << " vs "
               << b.width << "x" << b.height << "x" << b.channels;
    }
    for (int32_t y = 0; y < a.height; ++y) {
        for (int32_t x = 0; x < a.width * a.channels; ++x) {
            if (a.Row(y)[x] != b.Row(y)[x]) {
                return ::testing::AssertionFailure()
                       << "byte " << x << " of row " << y << ": " << int{a.Row(y)[x]} << " vs "
                       << int{b.Row(y)[x]};
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// Largest absolute difference of two pictures of the same geometry (255 when they differ in it).
inline int MaxDifference(const Picture &a, const Picture &b) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) {
        return 255;
    }
    int worst = 0;
    for (int32_t y = 0; y < a.height; ++y) {
        for (int32_t x = 0; x < a.width * a.channels; ++x) {
            worst = std::max(worst, std::abs(int{a.Row(y)[x]} - int{b.Row(y)[x]}));
        }
    }
    return worst;
}

}  // namespace zavtest
