// A caller-allocated buffer in the component's layout, sized exactly (no byte after the last row)
// so that the sanitizer sees any access past it, with helpers to reach pixels.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "zavimage/zavimage.h"

namespace zavtest {

inline int64_t StrideOf(int32_t width, int32_t depth, int32_t channels) {
    const int64_t bits = depth & 0x7FFFFFFF;
    const int64_t n = channels > 1 ? channels : 1;
    return ((bits * width * n + 7) / 8 + 3) & ~int64_t{3};
}

class TestImage {
  public:
    TestImage(int32_t width, int32_t height, int32_t depth, int32_t channels, uint32_t seed = 1)
        : m_size(static_cast<std::size_t>(StrideOf(width, depth, channels) * height)) {
        m_record.width = width;
        m_record.height = height;
        m_record.depth = depth;
        m_record.channels = channels;
        m_record.data = static_cast<uint8_t *>(::operator new(m_size ? m_size : 1, kAlign));
        std::mt19937 rng(seed);
        for (std::size_t i = 0; i < m_size; ++i) {
            m_record.data[i] = static_cast<uint8_t>(rng());
        }
    }
    ~TestImage() { ::operator delete(m_record.data, kAlign); }
    TestImage(const TestImage &) = delete;
    TestImage &operator=(const TestImage &) = delete;

    ZAVImageStruct *Record() { return &m_record; }
    const ZAVImageStruct &record() const { return m_record; }
    uint8_t *Data() const { return m_record.data; }
    std::size_t Size() const { return m_size; }
    int64_t Stride() const { return StrideOf(m_record.width, m_record.depth, m_record.channels); }
    int32_t PixelBytes() const {
        return (m_record.channels > 1 ? m_record.channels : 1) *
               ((m_record.depth & 0x7FFFFFFF) / 8);
    }
    uint8_t *Pixel(int32_t x, int32_t y) const {
        return m_record.data + Stride() * y + int64_t{x} * PixelBytes();
    }
    std::vector<uint8_t> Bytes() const { return {m_record.data, m_record.data + m_size}; }
    void Fill(uint8_t value) { std::memset(m_record.data, value, m_size); }

  private:
    static constexpr std::align_val_t kAlign{64};
    ZAVImageStruct m_record{};
    std::size_t m_size;
};

// The resize rule written out directly.
inline int64_t NearestIndex(int64_t d, int64_t srcSize, int64_t dstSize) {
    const int64_t s = (2 * d * srcSize + dstSize - 1) / (2 * dstSize);
    return s > srcSize - 1 ? s - 1 : s;
}

}  // namespace zavtest
