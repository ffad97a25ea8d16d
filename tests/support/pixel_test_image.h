// A caller-allocated buffer in the component's layout, sized exactly (no byte after the last row)
// so that the sanitizer sees any access past it, with helpers to reach pixels.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "zavimage/zavimage.h"

namespace pixeltest {

inline int64_t StrideOf(int32_t width, int32_t depth, int32_t channels) {
    const int64_t bits = depth & 0x7FFFFFFF;
    const int64_t n = channels > 1 ? channels : 1;
    return ((bits * width * n + 7) / 8 + 3) & ~int64_t{3};
}

class TestImage {
  public:
    TestImage(int32_t width, int32_t height, int32_t depth, int32_t channels, uint32_t seed = 1)
        : size_(static_cast<std::size_t>(StrideOf(width, depth, channels) * height)) {
        record_.width = width;
        record_.height = height;
        record_.depth = depth;
        record_.channels = channels;
        record_.data = static_cast<uint8_t *>(::operator new(size_ ? size_ : 1, kAlign));
        std::mt19937 rng(seed);
        for (std::size_t i = 0; i < size_; ++i) {
            record_.data[i] = static_cast<uint8_t>(rng());
        }
    }
    ~TestImage() { ::operator delete(record_.data, kAlign); }
    TestImage(const TestImage &) = delete;
    TestImage &operator=(const TestImage &) = delete;

    ZAVImageStruct *Record() { return &record_; }
    const ZAVImageStruct &record() const { return record_; }
    uint8_t *Data() const { return record_.data; }
    std::size_t Size() const { return size_; }
    int64_t Stride() const { return StrideOf(record_.width, record_.depth, record_.channels); }
    int32_t PixelBytes() const {
        return (record_.channels > 1 ? record_.channels : 1) * ((record_.depth & 0x7FFFFFFF) / 8);
    }
    uint8_t *Pixel(int32_t x, int32_t y) const {
        return record_.data + Stride() * y + int64_t{x} * PixelBytes();
    }
    std::vector<uint8_t> Bytes() const { return {record_.data, record_.data + size_}; }
    void Fill(uint8_t value) { std::memset(record_.data, value, size_); }

  private:
    static constexpr std::align_val_t kAlign{64};
    ZAVImageStruct record_{};
    std::size_t size_;
};

// The resize rule written out directly.
inline int64_t NearestIndex(int64_t d, int64_t srcSize, int64_t dstSize) {
    const int64_t s = (2 * d * srcSize + dstSize - 1) / (2 * dstSize);
    return s > srcSize - 1 ? s - 1 : s;
}

}  // namespace pixeltest
