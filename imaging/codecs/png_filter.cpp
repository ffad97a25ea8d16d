// Every filter of a row is computed in one pass, sixteen bytes a step in SSE2 registers (Paeth's
// predictor in 16-bit lanes), into scratch rows, while the magnitudes are summed; the winner is
// then copied out. Without SSE2 the same goes a byte at a time.
#include "imaging/codecs/png_filter.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "imaging/buffer/aligned_alloc.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zav {

namespace {

#if defined(__SSE2__)

inline __m128i Load(const uint8_t *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

inline void Store(uint8_t *p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

inline __m128i Abs16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Paeth's predictor for eight bytes widened to 16 bits.
inline __m128i PaethHalf(__m128i a, __m128i b, __m128i c) {
    const __m128i fromA = _mm_sub_epi16(b, c);
    const __m128i fromB = _mm_sub_epi16(a, c);
    const __m128i pa = Abs16(fromA);
    const __m128i pb = Abs16(fromB);
    const __m128i pc = Abs16(_mm_add_epi16(fromA, fromB));
    const __m128i smallest = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
    return Select(_mm_cmpeq_epi16(smallest, pa), a, Select(_mm_cmpeq_epi16(smallest, pb), b, c));
}

// Sums of the magnitudes of sixteen differences, in the two 64-bit halves.
inline __m128i Magnitudes(__m128i r, __m128i keep) {
    const __m128i magnitude = _mm_min_epu8(r, _mm_sub_epi8(_mm_setzero_si128(), r));
    return _mm_sad_epu8(_mm_and_si128(magnitude, keep), _mm_setzero_si128());
}

inline uint64_t Total(__m128i sums) {
    alignas(16) uint64_t halves[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(halves), sums);
    return halves[0] + halves[1];
}

#else

inline int Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) {
        return a;
    }
    return pb <= pc ? b : c;
}

// The magnitude of a difference read as a signed byte.
inline unsigned Magnitude(uint8_t r) {
    return r < 128 ? r : 256u - r;
}

#endif

}  // namespace

PngRowFilter::~PngRowFilter() {
    AlignedFree(m_scratch);
}

bool PngRowFilter::Init(std::size_t length, unsigned pixelBytes) noexcept {
    if (length > (SIZE_MAX - kPngFilterMargin) / 4 - kPngFilterMargin) {
        return false;
    }
    AlignedFree(m_scratch);
    m_length = length;
    m_pixelBytes = pixelBytes;
    m_scratch = static_cast<uint8_t *>(AlignedAlloc(4 * (length + kPngFilterMargin)));
    return m_scratch != nullptr;
}

void PngRowFilter::Filter(const uint8_t *row, const uint8_t *prior, uint8_t *out) noexcept {
    const std::size_t length = m_length;
    const std::size_t bpp = m_pixelBytes;
    const std::size_t pitch = length + kPngFilterMargin;
    uint8_t *sub = m_scratch;
    uint8_t *up = sub + pitch;
    uint8_t *average = up + pitch;
    uint8_t *paeth = average + pitch;
    uint64_t sums[5] = {};
#if defined(__SSE2__)
    alignas(16) static const uint8_t kKeep[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    __m128i total[5] = {zero, zero, zero, zero, zero};
    for (std::size_t i = 0; i < length; i += 16) {
        const __m128i keep = Load(kKeep + (length - i >= 16 ? 0 : 16 - (length - i)));
        const __m128i x = Load(row + i);
        const __m128i a = Load(row + i - bpp);
        const __m128i b = Load(prior + i);
        const __m128i c = Load(prior + i - bpp);
        const __m128i s = _mm_sub_epi8(x, a);
        const __m128i u = _mm_sub_epi8(x, b);
        const __m128i v = _mm_sub_epi8(
            x, _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one)));
        const __m128i predictor =
            _mm_packus_epi16(PaethHalf(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                                       _mm_unpacklo_epi8(c, zero)),
                             PaethHalf(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                       _mm_unpackhi_epi8(c, zero)));
        const __m128i p = _mm_sub_epi8(x, predictor);
        Store(sub + i, s);
        Store(up + i, u);
        Store(average + i, v);
        Store(paeth + i, p);
        total[0] = _mm_add_epi64(total[0], Magnitudes(x, keep));
        total[1] = _mm_add_epi64(total[1], Magnitudes(s, keep));
        total[2] = _mm_add_epi64(total[2], Magnitudes(u, keep));
        total[3] = _mm_add_epi64(total[3], Magnitudes(v, keep));
        total[4] = _mm_add_epi64(total[4], Magnitudes(p, keep));
    }
    for (int f = 0; f < 5; ++f) {
        sums[f] = Total(total[f]);
    }
#else
    for (std::size_t i = 0; i < length; ++i) {
        const int x = row[i];
        const int a = row[i - bpp];
        const int b = prior[i];
        const int c = prior[i - bpp];
        sub[i] = static_cast<uint8_t>(x - a);
        up[i] = static_cast<uint8_t>(x - b);
        average[i] = static_cast<uint8_t>(x - ((a + b) >> 1));
        paeth[i] = static_cast<uint8_t>(x - Paeth(a, b, c));
        sums[0] += Magnitude(row[i]);
        sums[1] += Magnitude(sub[i]);
        sums[2] += Magnitude(up[i]);
        sums[3] += Magnitude(average[i]);
        sums[4] += Magnitude(paeth[i]);
    }
#endif
    int best = 0;
    for (int f = 1; f < 5; ++f) {
        if (sums[f] < sums[best]) {
            best = f;
        }
    }
    out[0] = static_cast<uint8_t>(best);
    std::memcpy(out + 1, best == 0 ? row : m_scratch + (best - 1) * pitch, length);
}

}  // namespace zav
