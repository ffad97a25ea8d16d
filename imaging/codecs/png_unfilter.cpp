// Rows of 3 and 4 bytes a pixel (8-bit RGB and RGBA, by far the commonest) take one pixel a step
// in SSE2 registers for the three filters that depend on the pixel to the left; the other widths,
// and "up" for every width, go a byte at a time (the compiler vectorizes "up").
#include "imaging/codecs/png_unfilter.h"

#include "imaging/codecs/byte_order.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zav {

namespace {

inline uint8_t Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) {
        return static_cast<uint8_t>(a);
    }
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

void SubBytes(uint8_t *row, std::size_t length, unsigned bpp) {
    for (std::size_t i = bpp; i < length; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
    }
}

void AverageBytes(uint8_t *row, const uint8_t *prior, std::size_t length, unsigned bpp) {
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned left = i >= bpp ? row[i - bpp] : 0u;
        row[i] = static_cast<uint8_t>(row[i] + ((left + prior[i]) >> 1));
    }
}

void PaethBytes(uint8_t *row, const uint8_t *prior, std::size_t length, unsigned bpp) {
    for (std::size_t i = 0; i < length; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int c = i >= bpp ? prior[i - bpp] : 0;
        row[i] = static_cast<uint8_t>(row[i] + Paeth(a, prior[i], c));
    }
}

#if defined(__SSE2__)

// One pixel of 3 or 4 bytes in the low bytes of a register; never touches bytes past the pixel.
// Three bytes are put together in general registers: through memory (memcpy into a word) the
// load would wait for two narrower stores to forward, a dozen cycles on every pixel.
template <unsigned kBpp>
inline __m128i LoadPixel(const uint8_t *p) {
    uint32_t v;
    if constexpr (kBpp == 4) {
        std::memcpy(&v, p, 4);
    } else {
        v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
    }
    return _mm_cvtsi32_si128(static_cast<int>(v));
}

template <unsigned kBpp>
inline void StorePixel(uint8_t *p, __m128i v) {
    const uint32_t bytes = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
    if constexpr (kBpp == 4) {
        std::memcpy(p, &bytes, 4);
    } else {
        p[0] = static_cast<uint8_t>(bytes);
        p[1] = static_cast<uint8_t>(bytes >> 8);
        p[2] = static_cast<uint8_t>(bytes >> 16);
    }
}

template <unsigned kBpp>
void SubPixels(uint8_t *row, std::size_t length) {
    __m128i a = _mm_setzero_si128();
    for (std::size_t i = 0; i < length; i += kBpp) {
        a = _mm_add_epi8(a, LoadPixel<kBpp>(row + i));
        StorePixel<kBpp>(row + i, a);
    }
}

template <unsigned kBpp>
void AveragePixels(uint8_t *row, const uint8_t *prior, std::size_t length) {
    const __m128i one = _mm_set1_epi8(1);
    __m128i a = _mm_setzero_si128();
    for (std::size_t i = 0; i < length; i += kBpp) {
        const __m128i b = LoadPixel<kBpp>(prior + i);
        // _mm_avg_epu8 rounds up; the filter rounds down.
        const __m128i average =
            _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        a = _mm_add_epi8(LoadPixel<kBpp>(row + i), average);
        StorePixel<kBpp>(row + i, a);
    }
}

inline __m128i Abs16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// The predictor in 16-bit lanes: a where |b - c| is smallest, else b where |a - c| is, else c.
template <unsigned kBpp>
void PaethPixels(uint8_t *row, const uint8_t *prior, std::size_t length) {
    const __m128i zero = _mm_setzero_si128();
    __m128i a = zero;
    __m128i c = zero;
    for (std::size_t i = 0; i < length; i += kBpp) {
        const __m128i b = _mm_unpacklo_epi8(LoadPixel<kBpp>(prior + i), zero);
        const __m128i fromA = _mm_sub_epi16(b, c);  // p - a
        const __m128i fromB = _mm_sub_epi16(a, c);  // p - b
        const __m128i pa = Abs16(fromA);
        const __m128i pb = Abs16(fromB);
        const __m128i pc = Abs16(_mm_add_epi16(fromA, fromB));
        const __m128i smallest = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
        const __m128i predictor =
            Select(_mm_cmpeq_epi16(smallest, pa), a, Select(_mm_cmpeq_epi16(smallest, pb), b, c));
        const __m128i restored =
            _mm_add_epi8(LoadPixel<kBpp>(row + i), _mm_packus_epi16(predictor, zero));
        StorePixel<kBpp>(row + i, restored);
        a = _mm_unpacklo_epi8(restored, zero);
        c = b;
    }
}

#endif

}  // namespace

bool UnfilterPngRow(uint8_t filter, uint8_t *row, const uint8_t *prior, std::size_t length,
                    unsigned pixelBytes) noexcept {
    switch (filter) {
        case 0:
            return true;
        case 2:
            for (std::size_t i = 0; i < length; ++i) {
                row[i] = static_cast<uint8_t>(row[i] + prior[i]);
            }
            return true;
        case 1:
        case 3:
        case 4:
            break;
        default:
            return false;
    }
#if defined(__SSE2__)
    // Whole pixels only: a row's length is a multiple of its pixel size at 8 bits.
    if ((pixelBytes == 3 || pixelBytes == 4) && length % pixelBytes == 0) {
        if (pixelBytes == 3) {
            filter == 1   ? SubPixels<3>(row, length)
            : filter == 3 ? AveragePixels<3>(row, prior, length)
                          : PaethPixels<3>(row, prior, length);
        } else {
            filter == 1   ? SubPixels<4>(row, length)
            : filter == 3 ? AveragePixels<4>(row, prior, length)
                          : PaethPixels<4>(row, prior, length);
        }
        return true;
    }
#endif
    if (filter == 1) {
        SubBytes(row, length, pixelBytes);
    } else if (filter == 3) {
        AverageBytes(row, prior, length, pixelBytes);
    } else {
        PaethBytes(row, prior, length, pixelBytes);
    }
    return true;
}

void PngRowToBgr(const uint8_t *row, unsigned pixelBytes, std::size_t width,
                 uint8_t *bgr) noexcept {
    switch (pixelBytes) {
        case 3:
            SwapRedBlue(row, bgr, width);
            return;
        case 4:
            for (std::size_t x = 0; x < width; ++x, row += 4, bgr += 3) {
                bgr[0] = row[2];
                bgr[1] = row[1];
                bgr[2] = row[0];
            }
            return;
        default:
            for (std::size_t x = 0; x < width; ++x, row += pixelBytes, bgr += 3) {
                bgr[0] = bgr[1] = bgr[2] = row[0];
            }
            return;
    }
}

}  // namespace zav
