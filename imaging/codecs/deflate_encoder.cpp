// Each block is read twice. The first pass finds the runs with SSE2 compares of sixteen bytes
// against the same bytes one and `pixelBytes` places earlier, and counts the symbols; the codes
// are then built (Huffman's construction, limited to 15 bits by moving leaves down a level, as
// miniz does), the block's cost as stored, with fixed codes and with its own codes compared, and
// the second pass writes the cheapest through a 64-bit bit buffer, three literals a store.
#include "imaging/codecs/deflate_encoder.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zav {

namespace {

constexpr unsigned kMinStart = 4;       // a run is started when this many bytes repeat
constexpr unsigned kMaxMatch = 258;     // the longest match deflate codes
constexpr unsigned kStoredMax = 65535;  // the most bytes of a stored block
// The most bytes a block with its own codes covers: a piece longer than this is cut into blocks.
constexpr std::size_t kBlockBytes = std::size_t{1} << 17;
constexpr int kLitLenSymbols = 286;
constexpr int kFixedLitLenSymbols = 288;
constexpr int kDistSymbols = 30;
constexpr int kCodeLengthSymbols = 19;
constexpr unsigned kMaxBits = 15;
constexpr unsigned kMaxCodeLengthBits = 7;
// The order in which the code length code's lengths are sent.
constexpr uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// A match length's symbol (less 257), its extra bits and their value.
struct LengthCode {
    uint8_t symbol;
    uint8_t extraBits;
    uint8_t extra;
};

constexpr std::array<LengthCode, kMaxMatch + 1> MakeLengthCodes() {
    constexpr uint16_t base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    constexpr uint8_t bits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    std::array<LengthCode, kMaxMatch + 1> codes{};
    for (unsigned length = 3; length <= kMaxMatch; ++length) {
        unsigned s = 28;
        while (base[s] > length) {
            --s;
        }
        codes[length] = {static_cast<uint8_t>(s), bits[s], static_cast<uint8_t>(length - base[s])};
    }
    return codes;
}
constexpr std::array<LengthCode, kMaxMatch + 1> kLengthCodes = MakeLengthCodes();

inline void StoreLittleEndian64(uint8_t *p, uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(p, &v, 8);
#else
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
#endif
}

unsigned Reverse(unsigned code, unsigned length) {
    unsigned r = 0;
    for (unsigned i = 0; i < length; ++i, code >>= 1) {
        r = (r << 1) | (code & 1);
    }
    return r;
}

// Code lengths, at most `limit` bits, for the `count` symbols' frequencies: a complete code when
// two or more symbols occur (the caller sees to that), nothing for symbols that do not.
void BuildLengths(const uint32_t *freq, int count, unsigned limit, uint8_t *lengths) {
    std::memset(lengths, 0, static_cast<std::size_t>(count));
    uint32_t order[kLitLenSymbols];  // symbols that occur, rarest first
    int used = 0;
    for (int s = 0; s < count; ++s) {
        if (freq[s] != 0) {
            order[used++] = static_cast<uint32_t>(s);
        }
    }
    if (used == 0) {
        return;
    }
    if (used == 1) {
        lengths[order[0]] = 1;
        return;
    }
    std::sort(order, order + used, [freq](uint32_t a, uint32_t b) {
        return freq[a] != freq[b] ? freq[a] < freq[b] : a < b;
    });
    // Huffman's construction with two queues: the sorted leaves and the internal nodes, which
    // are made in increasing weight.
    uint64_t weight[2 * kLitLenSymbols];
    uint16_t parent[2 * kLitLenSymbols];
    for (int i = 0; i < used; ++i) {
        weight[i] = freq[order[i]];
    }
    int leaf = 0;
    int node = used;
    int next = used;
    const auto take = [&]() {
        if (leaf < used && (node >= next || weight[leaf] <= weight[node])) {
            return leaf++;
        }
        return node++;
    };
    for (; next < 2 * used - 1; ++next) {
        const int a = take();
        const int b = take();
        weight[next] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<uint16_t>(next);
    }
    // Depths from the root down, reusing the weights.
    unsigned counts[33] = {};
    weight[2 * used - 2] = 0;
    for (int i = 2 * used - 3; i >= 0; --i) {
        weight[i] = weight[parent[i]] + 1;
        if (i < used) {
            ++counts[std::min<uint64_t>(weight[i], 32)];
        }
    }
    // Leaves below the limit go up to it; then leaves move down a level until the code is
    // complete again.
    for (unsigned d = limit + 1; d <= 32; ++d) {
        counts[limit] += counts[d];
        counts[d] = 0;
    }
    uint64_t total = 0;
    for (unsigned d = 1; d <= limit; ++d) {
        total += uint64_t{counts[d]} << (limit - d);
    }
    while (total > (uint64_t{1} << limit)) {
        --counts[limit];
        for (unsigned d = limit - 1; d > 0; --d) {
            if (counts[d] != 0) {
                --counts[d];
                counts[d + 1] += 2;
                break;
            }
        }
        --total;
    }
    // The rarest symbols take the longest codes.
    int i = 0;
    for (unsigned d = limit; d >= 1; --d) {
        for (unsigned k = 0; k < counts[d]; ++k) {
            lengths[order[i++]] = static_cast<uint8_t>(d);
        }
    }
}

// Canonical codes for the lengths, bit-reversed to be sent first bit first.
void BuildCodes(const uint8_t *lengths, int count, uint16_t *codes) {
    unsigned perLength[kMaxBits + 1] = {};
    for (int s = 0; s < count; ++s) {
        ++perLength[lengths[s]];
    }
    perLength[0] = 0;
    unsigned next[kMaxBits + 2] = {};
    for (unsigned d = 1; d <= kMaxBits; ++d) {
        next[d + 1] = (next[d] + perLength[d]) << 1;
    }
    for (int s = 0; s < count; ++s) {
        if (lengths[s] != 0) {
            codes[s] = static_cast<uint16_t>(Reverse(next[lengths[s]]++, lengths[s]));
        }
    }
}

// Bytes from `at` on (before `end`) equal to those `distance` before them.
inline std::size_t RunLength(const uint8_t *at, const uint8_t *end, std::size_t distance) {
    const uint8_t *p = at;
#if defined(__SSE2__)
    while (end - p >= 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p - distance));
        const unsigned differ =
            ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFFu;
        if (differ != 0) {
            return static_cast<std::size_t>(p - at) + static_cast<unsigned>(__builtin_ctz(differ));
        }
        p += 16;
    }
#endif
    while (p < end && *p == p[-static_cast<std::ptrdiff_t>(distance)]) {
        ++p;
    }
    return static_cast<std::size_t>(p - at);
}

// Bit i set when byte i of the 32 from `p` equals the byte `distance` before it.
inline uint32_t EqualMask(const uint8_t *p, std::size_t distance) {
#if defined(__SSE2__)
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p - distance));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 - distance));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, c))) |
           (static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, d))) << 16);
#else
    uint32_t mask = 0;
    for (int i = 0; i < 32; ++i) {
        mask |= static_cast<uint32_t>(p[i] == p[i - static_cast<std::ptrdiff_t>(distance)]) << i;
    }
    return mask;
#endif
}

// Bit i set where `kMinStart` bits from bit i on are set.
inline uint32_t Starts(uint32_t equal) {
    uint32_t s = equal;
    for (unsigned k = 1; k < kMinStart; ++k) {
        s &= equal >> k;
    }
    return s;
}

}  // namespace

// Literals (`literals` bytes from where the previous run ended), then a match of `length` bytes
// (none when 0) `distance` back.
struct RowDeflater::Run {
    uint32_t literals;
    uint16_t length;
    uint16_t distance;
};

RowDeflater::~RowDeflater() {
    std::free(m_runs);
    std::free(m_out);
}

bool RowDeflater::Init(std::size_t maxPiece, unsigned pixelBytes) noexcept {
    if (maxPiece > (std::size_t{1} << 31) || pixelBytes < 1 || pixelBytes > 4) {
        return false;
    }
    std::free(m_runs);
    std::free(m_out);
    m_pixelBytes = pixelBytes;
    m_maxPiece = maxPiece;
    m_started = false;
    m_seenData = false;
    m_adler = 1;
    m_bits = 0;
    m_bitCount = 0;
    // A piece is never larger than stored: its bytes, five for each stored block (each block of
    // kBlockBytes makes one more), the stream's head and tail, a byte of bits left over and the
    // 8-byte stores' slack.
    m_outCapacity = maxPiece + 5 * (maxPiece / kStoredMax + maxPiece / kBlockBytes + 2) + 32;
    m_runs =
        static_cast<Run *>(std::malloc((std::min(maxPiece, kBlockBytes) / 3 + 2) * sizeof(Run)));
    m_out = static_cast<uint8_t *>(std::malloc(m_outCapacity));
    m_at = m_out;
    return m_runs != nullptr && m_out != nullptr;
}

void RowDeflater::Take() noexcept {
    m_at = m_out;
}

inline void RowDeflater::Flush() noexcept {
    StoreLittleEndian64(m_at, m_bits);
    m_at += m_bitCount >> 3;
    m_bits = (m_bitCount & ~7u) == 64 ? 0 : m_bits >> (m_bitCount & ~7u);
    m_bitCount &= 7;
}

inline void RowDeflater::Put(uint64_t bits, unsigned count) noexcept {
    m_bits |= bits << m_bitCount;
    m_bitCount += count;
    Flush();
}

void RowDeflater::AlignToByte() noexcept {
    if (m_bitCount != 0) {
        m_bitCount = 8;
        Flush();
    }
}

void RowDeflater::Compress(const uint8_t *data, std::size_t size, bool last) noexcept {
    if (!m_started) {
        m_at[0] = 0x78;  // deflate, 32 KiB window
        m_at[1] = 0x01;  // no dictionary, fastest; the check bits make 0x7801 a multiple of 31
        m_at += 2;
        m_started = true;
    }
    m_adler = libdeflate_adler32(m_adler, data, size);
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(size - at, kBlockBytes);
        CompressBlock(data + at, n, last && at + n == size);
        m_seenData = m_seenData || n != 0;
        at += n;
    } while (at < size);
    if (last) {
        AlignToByte();
        for (int shift = 24; shift >= 0; shift -= 8) {
            *m_at++ = static_cast<uint8_t>(m_adler >> shift);
        }
    }
}

void RowDeflater::CompressBlock(const uint8_t *data, std::size_t size, bool last) noexcept {
    // First pass: the runs.
    const std::size_t far = m_pixelBytes;
    std::size_t runs = 0;
    std::size_t literalsFrom = 0;
    for (std::size_t i = 0; i < size;) {
        uint32_t nearEqual = EqualMask(data + i, 1);
        uint32_t farEqual = far > 1 ? EqualMask(data + i, far) : 0;
        if (size - i < 32) {
            const uint32_t inside = (uint32_t{1} << (size - i)) - 1;
            nearEqual &= inside;
            farEqual &= inside;
        }
        if (i == 0 && !m_seenData) {  // nothing before the first byte
            nearEqual &= ~uint32_t{1};
            farEqual &= ~((uint32_t{1} << far) - 1);
        }
        const uint32_t starts = (Starts(nearEqual) | Starts(farEqual)) & 0xFFFFu;
        if (starts == 0) {
            i += 16;
            continue;
        }
        const std::size_t at = i + static_cast<unsigned>(__builtin_ctz(starts));
        const std::size_t nearRun = RunLength(data + at, data + size, 1);
        const bool farReaches = far > 1 && (m_seenData || at >= far);
        const std::size_t farRun = farReaches ? RunLength(data + at, data + size, far) : 0;
        std::size_t length = std::max(nearRun, farRun);
        const uint16_t distance = static_cast<uint16_t>(nearRun >= farRun ? 1 : far);
        uint32_t literals = static_cast<uint32_t>(at - literalsFrom);
        i = at + length;
        literalsFrom = i;
        while (length >= 3) {
            // Never leave one or two bytes that no match can take.
            std::size_t piece = std::min<std::size_t>(length, kMaxMatch);
            if (length > kMaxMatch && length - kMaxMatch < 3) {
                piece = length - 3;
            }
            m_runs[runs++] = {literals, static_cast<uint16_t>(piece), distance};
            literals = 0;
            length -= piece;
        }
        if (length != 0) {  // at most two bytes left: literals before the next run
            literalsFrom -= length;
        }
    }
    m_runs[runs++] = {static_cast<uint32_t>(size - std::min(size, literalsFrom)), 0, 0};

    // The counts.
    uint32_t litFreq[kLitLenSymbols] = {};
    uint32_t distFreq[kDistSymbols] = {};
    {
        uint32_t parts[4][256] = {};
        const uint8_t *p = data;
        for (std::size_t r = 0; r < runs; ++r) {
            const Run &run = m_runs[r];
            const uint8_t *end = p + run.literals;
            for (; end - p >= 4; p += 4) {
                ++parts[0][p[0]];
                ++parts[1][p[1]];
                ++parts[2][p[2]];
                ++parts[3][p[3]];
            }
            for (; p < end; ++p) {
                ++parts[0][*p];
            }
            if (run.length != 0) {
                ++litFreq[257 + kLengthCodes[run.length].symbol];
                ++distFreq[run.distance - 1];
                p += run.length;
            }
        }
        for (int s = 0; s < 256; ++s) {
            litFreq[s] = parts[0][s] + parts[1][s] + parts[2][s] + parts[3][s];
        }
    }
    litFreq[256] = 1;
    // Two symbols at least in every code, so that each is complete.
    if (std::count_if(litFreq, litFreq + kLitLenSymbols, [](uint32_t f) { return f != 0; }) < 2) {
        litFreq[0] = 1;
    }
    if (distFreq[0] == 0) {
        distFreq[0] = 1;
    }
    if (std::count_if(distFreq, distFreq + kDistSymbols, [](uint32_t f) { return f != 0; }) < 2) {
        distFreq[distFreq[1] == 0 ? 1 : 0] = 1;
    }

    uint8_t litLengths[kFixedLitLenSymbols] = {};
    uint8_t distLengths[kDistSymbols];
    BuildLengths(litFreq, kLitLenSymbols, kMaxBits, litLengths);
    BuildLengths(distFreq, kDistSymbols, kMaxBits, distLengths);
    int litCount = kLitLenSymbols;
    while (litCount > 257 && litLengths[litCount - 1] == 0) {
        --litCount;
    }
    int distCount = kDistSymbols;
    while (distCount > 1 && distLengths[distCount - 1] == 0) {
        --distCount;
    }

    // The code lengths of both codes as one run-length coded sequence: a token is the symbol in
    // the low byte and the extra bits' value above it.
    uint8_t all[kLitLenSymbols + kDistSymbols];
    std::memcpy(all, litLengths, static_cast<std::size_t>(litCount));
    std::memcpy(all + litCount, distLengths, static_cast<std::size_t>(distCount));
    const int total = litCount + distCount;
    uint16_t tokens[kLitLenSymbols + kDistSymbols];
    int tokenCount = 0;
    uint32_t clFreq[kCodeLengthSymbols] = {};
    for (int i = 0; i < total;) {
        const uint8_t v = all[i];
        int run = 1;
        while (i + run < total && all[i + run] == v) {
            ++run;
        }
        i += run;
        if (v == 0) {
            while (run >= 11) {
                const int n = std::min(run, 138);
                tokens[tokenCount++] = static_cast<uint16_t>(18 | ((n - 11) << 8));
                run -= n;
            }
            if (run >= 3) {
                tokens[tokenCount++] = static_cast<uint16_t>(17 | ((run - 3) << 8));
                run = 0;
            }
        } else {
            tokens[tokenCount++] = v;
            --run;
            while (run >= 3) {
                const int n = std::min(run, 6);
                tokens[tokenCount++] = static_cast<uint16_t>(16 | ((n - 3) << 8));
                run -= n;
            }
        }
        for (; run > 0; --run) {
            tokens[tokenCount++] = v;
        }
    }
    for (int t = 0; t < tokenCount; ++t) {
        ++clFreq[tokens[t] & 0xFF];
    }
    if (std::count_if(clFreq, clFreq + kCodeLengthSymbols, [](uint32_t f) { return f != 0; }) < 2) {
        clFreq[clFreq[0] == 0 ? 0 : 1] += 1;
    }
    uint8_t clLengths[kCodeLengthSymbols];
    BuildLengths(clFreq, kCodeLengthSymbols, kMaxCodeLengthBits, clLengths);
    int clCount = kCodeLengthSymbols;
    while (clCount > 4 && clLengths[kCodeLengthOrder[clCount - 1]] == 0) {
        --clCount;
    }

    // The costs in bits of the three kinds of block.
    constexpr uint8_t kTokenExtra[kCodeLengthSymbols] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                         0, 0, 0, 0, 0, 0, 2, 3, 7};
    uint64_t dynamicBits = 3 + 5 + 5 + 4 + 3 * static_cast<uint64_t>(clCount);
    for (int t = 0; t < tokenCount; ++t) {
        const unsigned s = tokens[t] & 0xFF;
        dynamicBits += clLengths[s] + kTokenExtra[s];
    }
    uint64_t fixedBits = 3;
    uint64_t extraBits = 0;
    for (int s = 0; s < kLitLenSymbols; ++s) {
        dynamicBits += uint64_t{litFreq[s]} * litLengths[s];
        fixedBits += uint64_t{litFreq[s]} * (s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8);
        if (s >= 257) {
            constexpr uint8_t kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                            2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
            extraBits += uint64_t{litFreq[s]} * kExtra[s - 257];
        }
    }
    for (int s = 0; s < kDistSymbols; ++s) {
        dynamicBits += uint64_t{distFreq[s]} * distLengths[s];
        fixedBits += uint64_t{distFreq[s]} * 5;
    }
    dynamicBits += extraBits;
    fixedBits += extraBits;
    const uint64_t storedBits =
        (size / kStoredMax + 1) * (3 + 7 + 32) + 8 * static_cast<uint64_t>(size);

    if (storedBits <= std::min(dynamicBits, fixedBits)) {
        std::size_t at = 0;
        do {
            const std::size_t n = std::min<std::size_t>(size - at, kStoredMax);
            const bool final = last && at + n == size;
            Put(final ? 1 : 0, 3);
            AlignToByte();
            m_at[0] = static_cast<uint8_t>(n);
            m_at[1] = static_cast<uint8_t>(n >> 8);
            m_at[2] = static_cast<uint8_t>(~n);
            m_at[3] = static_cast<uint8_t>(~n >> 8);
            std::memcpy(m_at + 4, data + at, n);
            m_at += 4 + n;
            at += n;
        } while (at < size);
        return;
    }

    const bool fixed = fixedBits <= dynamicBits;
    if (fixed) {
        // The fixed code has two symbols more, never sent, that shape the codes of the others.
        for (int s = 0; s < kFixedLitLenSymbols; ++s) {
            litLengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        }
        std::fill(distLengths, distLengths + kDistSymbols, uint8_t{5});
        Put((last ? 1 : 0) | (1 << 1), 3);
    } else {
        Put((last ? 1 : 0) | (2 << 1), 3);
        Put(static_cast<uint64_t>(litCount - 257) | static_cast<uint64_t>(distCount - 1) << 5 |
                static_cast<uint64_t>(clCount - 4) << 10,
            14);
        for (int i = 0; i < clCount; ++i) {
            Put(clLengths[kCodeLengthOrder[i]], 3);
        }
        uint16_t clCodes[kCodeLengthSymbols] = {};
        BuildCodes(clLengths, kCodeLengthSymbols, clCodes);
        for (int t = 0; t < tokenCount; ++t) {
            const unsigned s = tokens[t] & 0xFF;
            Put(clCodes[s] | (static_cast<uint64_t>(tokens[t] >> 8) << clLengths[s]),
                clLengths[s] + kTokenExtra[s]);
        }
    }
    uint16_t litCodes[kFixedLitLenSymbols] = {};
    uint16_t distCodes[kDistSymbols] = {};
    BuildCodes(litLengths, fixed ? kFixedLitLenSymbols : kLitLenSymbols, litCodes);
    BuildCodes(distLengths, kDistSymbols, distCodes);
    // A literal's code and length in one word; a match's length code and extra bits, and its
    // distance code, in one.
    uint32_t literal[256];
    for (int s = 0; s < 256; ++s) {
        literal[s] = litCodes[s] | (uint32_t{litLengths[s]} << 16);
    }

    const uint8_t *p = data;
    uint64_t bits = m_bits;
    unsigned count = m_bitCount;
    uint8_t *out = m_at;
    const auto flush = [&]() {
        StoreLittleEndian64(out, bits);
        out += count >> 3;
        bits = (count & ~7u) == 64 ? 0 : bits >> (count & ~7u);
        count &= 7;
    };
    for (std::size_t r = 0; r < runs; ++r) {
        const Run &run = m_runs[r];
        const uint8_t *end = p + run.literals;
        for (; end - p >= 3; p += 3) {
            const uint32_t a = literal[p[0]];
            const uint32_t b = literal[p[1]];
            const uint32_t c = literal[p[2]];
            bits |= uint64_t{a & 0xFFFF} << count;
            count += a >> 16;
            bits |= uint64_t{b & 0xFFFF} << count;
            count += b >> 16;
            bits |= uint64_t{c & 0xFFFF} << count;
            count += c >> 16;
            flush();
        }
        for (; p < end; ++p) {
            const uint32_t a = literal[*p];
            bits |= uint64_t{a & 0xFFFF} << count;
            count += a >> 16;
        }
        flush();
        if (run.length != 0) {
            const LengthCode &lc = kLengthCodes[run.length];
            const unsigned symbol = 257u + lc.symbol;
            bits |= uint64_t{litCodes[symbol]} << count;
            count += litLengths[symbol];
            bits |= uint64_t{lc.extra} << count;
            count += lc.extraBits;
            const unsigned d = run.distance - 1u;  // distances 1 to 4 have no extra bits
            bits |= uint64_t{distCodes[d]} << count;
            count += distLengths[d];
            flush();
            p += run.length;
        }
    }
    bits |= uint64_t{litCodes[256]} << count;  // the end of the block
    count += litLengths[256];
    flush();
    m_bits = bits;
    m_bitCount = count;
    m_at = out;
}

}  // namespace zav
