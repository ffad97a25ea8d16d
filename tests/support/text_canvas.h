// A pixel buffer laid out as a record describes it, with guard bytes around it.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/support/text_oracle.h"
#include "zavimage/zavimage.h"

namespace zavtest {

class Canvas {
  public:
    static constexpr int kGuard = 64;

    Canvas(int width, int height, int depth, int channels, uint8_t fill = 0)
        : m_width(width), m_height(height), m_depth(depth), m_channels(channels) {
        const long bits = depth & 0x7FFFFFFF;
        m_stride = ((bits * width * channels + 7) / 8 + 3) & ~3L;
        m_storage.assign(static_cast<std::size_t>(m_stride * height + 2 * kGuard), 0xA5);
        std::memset(Data(), fill, static_cast<std::size_t>(m_stride * height));
    }

    uint8_t *Data() { return m_storage.data() + kGuard; }
    const uint8_t *Data() const { return m_storage.data() + kGuard; }
    long Stride() const { return m_stride; }
    ZAVImageStruct Record() {
        return ZAVImageStruct{m_width, m_height, m_depth, m_channels, Data()};
    }
    uint8_t *Pixel(int x, int y) {
        return Data() + y * m_stride + static_cast<long>(x) * m_channels * ((m_depth & 0xFF) / 8);
    }
    const uint8_t *Pixel(int x, int y) const { return const_cast<Canvas *>(this)->Pixel(x, y); }

    bool GuardsIntact() const {
        for (int k = 0; k < kGuard; ++k) {
            if (m_storage[k] != 0xA5 || m_storage[m_storage.size() - 1 - k] != 0xA5) {
                return false;
            }
        }
        return true;
    }

    // 8-bit buffers: where any channel differs from `background`.
    InkMap Changed(uint8_t background) const {
        InkMap map(m_width, m_height);
        for (int y = 0; y < m_height; ++y) {
            for (int x = 0; x < m_width; ++x) {
                for (int c = 0; c < m_channels; ++c) {
                    if (Pixel(x, y)[c] != background) {
                        map.ink[static_cast<std::size_t>(y) * m_width + x] = 1;
                    }
                }
            }
        }
        return map;
    }

    bool SameBytes(const Canvas &other) const { return m_storage == other.m_storage; }

  private:
    int m_width, m_height, m_depth, m_channels;
    long m_stride = 0;
    std::vector<uint8_t> m_storage;
};

// The first place two ink maps differ, for failure messages; empty when they agree.
inline std::string FirstDifference(const InkMap &actual, const InkMap &expected) {
    for (int y = 0; y < expected.height; ++y) {
        for (int x = 0; x < expected.width; ++x) {
            if (actual.At(x, y) != expected.At(x, y)) {
                return "at (" + std::to_string(x) + ", " + std::to_string(y) + "): drawn " +
                       std::to_string(actual.At(x, y)) + ", expected " +
                       std::to_string(expected.At(x, y));
            }
        }
    }
    return "";
}

}  // namespace zavtest
