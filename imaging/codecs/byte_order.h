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

// For the 48 bytes of 16 pixels held in three registers: the byte shuffle that takes each output
// register's bytes from input register `from` (-128, a zero, where they come from another one).
struct RedBlueShuffles {
    alignas(16) int8_t index[3][3][16];
};

constexpr RedBlueShuffles MakeRedBlueShuffles() {
    RedBlueShuffles s{};
    for (int out = 0; out < 3; ++out) {
        for (int from = 0; from < 3; ++from) {
            for (int i = 0; i < 16; ++i) {
                const int j = 16 * out + i;
                const int source = j % 3 == 0 ? j + 2 : j % 3 == 2 ? j - 2 : j;
                s.index[out][from][i] =
                    static_cast<int8_t>(source / 16 == from ? source % 16 : -128);
            }
        }
    }
    return s;
}

inline constexpr RedBlueShuffles kRedBlueShuffles = MakeRedBlueShuffles();

// Sixteen pixels a step: three 16-byte loads, then three stores, each output register gathered by
// byte shuffles from the input registers it draws on. Steps do not overlap and each loads before
// it stores, so that in place no load waits for an earlier store; the last pixels of a row go the
// scalar way.
__attribute__((target("ssse3"))) inline void SwapRedBlueSsse3(const uint8_t *src, uint8_t *dst,
                                                              std::size_t pixels) noexcept {
    const auto *m = reinterpret_cast<const __m128i *>(&kRedBlueShuffles.index[0][0][0]);
    std::size_t x = 0;
    for (; x + 16 <= pixels; x += 16) {
        const auto *in = reinterpret_cast<const __m128i *>(src + 3 * x);
        const __m128i a = _mm_loadu_si128(in);
        const __m128i b = _mm_loadu_si128(in + 1);
        const __m128i c = _mm_loadu_si128(in + 2);
        const __m128i out0 = _mm_or_si128(_mm_shuffle_epi8(a, _mm_load_si128(m + 0)),
                                          _mm_shuffle_epi8(b, _mm_load_si128(m + 1)));
        const __m128i out1 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, _mm_load_si128(m + 3)),
                                                       _mm_shuffle_epi8(b, _mm_load_si128(m + 4))),
                                          _mm_shuffle_epi8(c, _mm_load_si128(m + 5)));
        const __m128i out2 = _mm_or_si128(_mm_shuffle_epi8(b, _mm_load_si128(m + 7)),
                                          _mm_shuffle_epi8(c, _mm_load_si128(m + 8)));
        auto *out = reinterpret_cast<__m128i *>(dst + 3 * x);
        _mm_storeu_si128(out, out0);
        _mm_storeu_si128(out + 1, out1);
        _mm_storeu_si128(out + 2, out2);
    }
    SwapRedBlueScalar(src + 3 * x, dst + 3 * x, pixels - x);
}

// Thirty-two pixels a step, the same shuffles on both halves of 32-byte registers: each half
// holds one run of sixteen pixels (its three 16-byte pieces loaded into the halves of three
// registers), so no shuffle crosses halves and the step needs as many shuffles as one of sixteen.
[[gnu::always_inline]] __attribute__((target("avx2"))) inline __m256i LoadHalves(
    const uint8_t *low) noexcept {
    const auto *p = reinterpret_cast<const __m128i *>(low);
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(p)),
                                   _mm_loadu_si128(p + 3), 1);
}

[[gnu::always_inline]] __attribute__((target("avx2"))) inline void StoreHalves(uint8_t *low,
                                                                               __m256i v) noexcept {
    auto *p = reinterpret_cast<__m128i *>(low);
    _mm_storeu_si128(p, _mm256_castsi256_si128(v));
    _mm_storeu_si128(p + 3, _mm256_extracti128_si256(v, 1));
}

// Thirty-two pixels a step, the same shuffles on both halves of 32-byte registers: each half
// holds one run of sixteen pixels (its three 16-byte pieces loaded into the halves of three
// registers), so no shuffle crosses halves and the step needs as many shuffles as one of sixteen.
__attribute__((target("avx2"))) inline void SwapRedBlueAvx2(const uint8_t *src, uint8_t *dst,
                                                            std::size_t pixels) noexcept {
    const auto *m = reinterpret_cast<const __m128i *>(&kRedBlueShuffles.index[0][0][0]);
    const __m256i m0 = _mm256_broadcastsi128_si256(_mm_load_si128(m + 0));
    const __m256i m1 = _mm256_broadcastsi128_si256(_mm_load_si128(m + 1));
    const __m256i m3 = _mm256_broadcastsi128_si256(_mm_load_si128(m + 3));
    const __m256i m4 = _mm256_broadcastsi128_si256(_mm_load_si128(m + 4));
    const __m256i m5 = _mm256_broadcastsi128_si256(_mm_load_si128(m + 5));
    const __m256i m7 = _mm256_broadcastsi128_si256(_mm_load_si128(m + 7));
    const __m256i m8 = _mm256_broadcastsi128_si256(_mm_load_si128(m + 8));
    std::size_t x = 0;
    for (; x + 32 <= pixels; x += 32) {
        const uint8_t *in = src + 3 * x;
        const __m256i a = LoadHalves(in);
        const __m256i b = LoadHalves(in + 16);
        const __m256i c = LoadHalves(in + 32);
        const __m256i out0 =
            _mm256_or_si256(_mm256_shuffle_epi8(a, m0), _mm256_shuffle_epi8(b, m1));
        const __m256i out1 =
            _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a, m3), _mm256_shuffle_epi8(b, m4)),
                            _mm256_shuffle_epi8(c, m5));
        const __m256i out2 =
            _mm256_or_si256(_mm256_shuffle_epi8(b, m7), _mm256_shuffle_epi8(c, m8));
        uint8_t *out = dst + 3 * x;
        StoreHalves(out, out0);
        StoreHalves(out + 16, out1);
        StoreHalves(out + 32, out2);
    }
    SwapRedBlueSsse3(src + 3 * x, dst + 3 * x, pixels - x);
}

}  // namespace detail

// Writes `pixels` pixels of 3 samples from `src` to `dst` with the first and third sample of each
// pixel exchanged. `src` and `dst` may be the same row (in place), but must not overlap otherwise.
inline void SwapRedBlue(const uint8_t *src, uint8_t *dst, std::size_t pixels) noexcept {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (avx2) {
        detail::SwapRedBlueAvx2(src, dst, pixels);
    } else if (ssse3) {
        detail::SwapRedBlueSsse3(src, dst, pixels);
    } else {
        detail::SwapRedBlueScalar(src, dst, pixels);
    }
}

}  // namespace zav
