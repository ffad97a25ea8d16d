// Byte order in files: little- and big-endian fields, and the order of the colour samples in a
// pixel (files store red, green, blue; buffers hold blue, green, red).
#pragma once

#include <cstddef>
#include <cstdint>

#include <immintrin.h>

namespace zav {

inline uint16_t LoadLittleEndian16(const uint8_t *p) noexcept {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t LoadLittleEndian32(const uint8_t *p) noexcept {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline uint16_t LoadBigEndian16(const uint8_t *p) noexcept {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t LoadBigEndian32(const uint8_t *p) noexcept {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// A field of a file whose byte order is known only when it is read (TIFF).
inline uint16_t Load16(const uint8_t *p, bool bigEndian) noexcept {
    return bigEndian ? LoadBigEndian16(p) : LoadLittleEndian16(p);
}

inline uint32_t Load32(const uint8_t *p, bool bigEndian) noexcept {
    return bigEndian ? LoadBigEndian32(p) : LoadLittleEndian32(p);
}

inline void StoreLittleEndian16(uint8_t *p, uint16_t v) noexcept {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void StoreLittleEndian32(uint8_t *p, uint32_t v) noexcept {
    StoreLittleEndian16(p, static_cast<uint16_t>(v));
    StoreLittleEndian16(p + 2, static_cast<uint16_t>(v >> 16));
}

inline void StoreBigEndian32(uint8_t *p, uint32_t v) noexcept {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

namespace detail {

inline void SwapRedBlueScalar(const uint8_t *src, uint8_t *dst, std::size_t pixels) noexcept {
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
__attribute__((target("ssse3"))) inline void SwapRedBlueSsse3(const uint8_t *src, uint8_t *dst,
                                                              std::size_t pixels) noexcept {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t x = 0;
    for (; x + 6 <= pixels; x += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 3 * x), _mm_shuffle_epi8(v, order));
    }
    SwapRedBlueScalar(src + 3 * x, dst + 3 * x, pixels - x);
}

}  // namespace detail

// Writes `pixels` pixels of 3 samples from `src` to `dst` with the first and third sample of each
// pixel exchanged. `src` and `dst` may be the same row (in place), but must not overlap otherwise.
inline void SwapRedBlue(const uint8_t *src, uint8_t *dst, std::size_t pixels) noexcept {
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        detail::SwapRedBlueSsse3(src, dst, pixels);
    } else {
        detail::SwapRedBlueScalar(src, dst, pixels);
    }
}

}  // namespace zav
