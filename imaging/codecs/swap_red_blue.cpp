#include "imaging/codecs/swap_red_blue.h"

#include <immintrin.h>

namespace zav {

namespace {

void SwapRedBlueScalar(const uint8_t *src, uint8_t *dst, std::size_t pixels) {
    for (std::size_t x = 0; x < pixels; ++x) {
        const uint8_t first = src[3 * x];
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = first;
    }
}

// Five pixels a step through one byte shuffle; each 16-byte load and store reaches one byte past
// them, so the last few pixels of a row go the scalar way. In place, every load precedes the store
// that overwrites its bytes, and the byte past the five pixels is stored back as it was read.
__attribute__((target("ssse3"))) void SwapRedBlueSsse3(const uint8_t *src, uint8_t *dst,
                                                       std::size_t pixels) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t x = 0;
    for (; x + 6 <= pixels; x += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 3 * x), _mm_shuffle_epi8(v, order));
    }
    SwapRedBlueScalar(src + 3 * x, dst + 3 * x, pixels - x);
}

}  // namespace

void SwapRedBlue(const uint8_t *src, uint8_t *dst, std::size_t pixels) {
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        SwapRedBlueSsse3(src, dst, pixels);
    } else {
        SwapRedBlueScalar(src, dst, pixels);
    }
}

}  // namespace zav
