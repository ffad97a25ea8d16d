// Turning a buffer upside down in place.
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/ops/flip.h"

#include "imaging/buffer/image_record.h"

namespace zav {
namespace {

// Exchanges n bytes between two rows that do not overlap.
void SwapBytes(uint8_t *a, uint8_t *b, std::size_t n) noexcept {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 32 <= n; i += 32) {
        auto *pa = reinterpret_cast<__m128i *>(a + i);
        auto *pb = reinterpret_cast<__m128i *>(b + i);
        const __m128i a0 = _mm_loadu_si128(pa);
        const __m128i a1 = _mm_loadu_si128(pa + 1);
        const __m128i b0 = _mm_loadu_si128(pb);
        const __m128i b1 = _mm_loadu_si128(pb + 1);
        _mm_storeu_si128(pa, b0);
        _mm_storeu_si128(pa + 1, b1);
        _mm_storeu_si128(pb, a0);
        _mm_storeu_si128(pb + 1, a1);
    }
#endif
    for (; i + 8 <= n; i += 8) {
        uint64_t ta;
        uint64_t tb;
        std::memcpy(&ta, a + i, 8);
        std::memcpy(&tb, b + i, 8);
        std::memcpy(a + i, &tb, 8);
        std::memcpy(b + i, &ta, 8);
    }
    for (; i < n; ++i) {
        const uint8_t t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

}  // namespace

void ReverseRows(uint8_t *first, std::size_t step, std::size_t rowBytes,
                 std::size_t count) noexcept {
    if (count < 2) {
        return;
    }
    for (std::size_t top = 0, bottom = count - 1; top < bottom; ++top, --bottom) {
        SwapBytes(first + top * step, first + bottom * step, rowBytes);
    }
}

void FlipImageRows(uint8_t *imageData, int32_t width, int32_t height, int32_t depth,
                   int32_t channels) noexcept {
    const ImageHeader image = WrapImageRecord(width, height, depth, channels, imageData);
    if (!image.IsProcessable()) {
        return;
    }
    // Only the pixel bytes of each row move; the padding at the row ends stays where it is.
    const auto pixelBytes = static_cast<std::size_t>(width) *
                            static_cast<std::size_t>(image.nChannels) *
                            static_cast<std::size_t>(image.ElementBytes());
    ReverseRows(image.Row(0), static_cast<std::size_t>(image.widthStep), pixelBytes,
                static_cast<std::size_t>(height));
}

}  // namespace zav
