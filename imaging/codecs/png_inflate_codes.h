// Deflate's codes for the streaming PNG decoder (png_inflate.cpp): the length and distance
// tables, decoding tables of 10 bits with subtables for longer codes, built as zlib accepts codes
// (complete, or a single one-bit code), and the copy of a match sixteen bytes a step.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zav::inflate_codes {

constexpr unsigned kRootBits = 10;
constexpr uint32_t kRootMask = (1u << kRootBits) - 1;
constexpr std::size_t kMaxMatch = 258;
// Bytes a match copy may store past its end, and the room kept free for one symbol's output.
constexpr std::size_t kCopySlack = 32;

// A table entry: the bits to consume (for a subtable link: its index bits), the kind, the value.
enum Kind : uint32_t { kLiteral = 0, kLength = 1, kEnd = 2, kLink = 3, kInvalid = 4 };
constexpr uint32_t Entry(Kind kind, uint32_t value, uint32_t bits) {
    return bits | (kind << 8) | (value << 16);
}
constexpr uint32_t kBad = Entry(kInvalid, 0, 0);

// Entries: the root and, at most, a 32-entry subtable for each symbol with a code over 10 bits.
constexpr std::size_t kLitLenEntries = (1u << kRootBits) + 288 * 32;
constexpr std::size_t kDistEntries = (1u << kRootBits) + 32 * 32;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

inline uint64_t LoadLittleEndian64(const uint8_t *p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
#else
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
#endif
}

// The entry a symbol of each alphabet decodes to, less its bits.
inline uint32_t LitLenEntry(unsigned s) {
    if (s < 256) {
        return Entry(kLiteral, s, 0);
    }
    if (s == 256) {
        return Entry(kEnd, 0, 0);
    }
    return s < 286 ? Entry(kLength, s - 257, 0) : kBad;
}
inline uint32_t DistEntry(unsigned s) {
    return s < 30 ? Entry(kLiteral, s, 0) : kBad;
}
inline uint32_t PlainEntry(unsigned s) {
    return Entry(kLiteral, s, 0);
}

// Builds the decoding table of the code with `lengths` (`count` symbols). False for a code that
// zlib refuses: over-subscribed, or incomplete unless it is one code of one bit (never for the
// code length code, `strict`). A code with no symbols at all decodes nothing.
inline bool BuildTable(const uint8_t *lengths, unsigned count, uint32_t (*entryOf)(unsigned),
                       bool strict, uint32_t *table) {
    unsigned perLength[16] = {};
    for (unsigned s = 0; s < count; ++s) {
        ++perLength[lengths[s]];
    }
    perLength[0] = 0;
    unsigned longest = 0;
    for (unsigned d = 1; d <= 15; ++d) {
        if (perLength[d] != 0) {
            longest = d;
        }
    }
    std::fill(table, table + (1u << kRootBits), kBad);
    if (longest == 0) {
        return !strict;
    }
    int left = 1;
    for (unsigned d = 1; d <= 15; ++d) {
        left = (left << 1) - static_cast<int>(perLength[d]);
        if (left < 0) {
            return false;
        }
    }
    if (left > 0 && (strict || longest != 1)) {
        return false;
    }
    unsigned next[16] = {};
    for (unsigned d = 1, code = 0; d <= 15; ++d) {
        code = (code + perLength[d - 1]) << 1;
        next[d] = code;
    }
    // Each code bit-reversed (they are read first bit first), with the root index it falls in.
    uint16_t reversed[288];
    uint8_t subBits[1u << kRootBits] = {};
    for (unsigned s = 0; s < count; ++s) {
        const unsigned length = lengths[s];
        if (length == 0) {
            continue;
        }
        unsigned code = next[length]++;
        unsigned r = 0;
        for (unsigned i = 0; i < length; ++i, code >>= 1) {
            r = (r << 1) | (code & 1);
        }
        reversed[s] = static_cast<uint16_t>(r);
        if (length > kRootBits) {
            uint8_t &bits = subBits[r & kRootMask];
            bits = static_cast<uint8_t>(std::max<unsigned>(bits, length - kRootBits));
        }
    }
    uint32_t offset = 1u << kRootBits;
    uint32_t subStart[1u << kRootBits];
    for (unsigned i = 0; i <= kRootMask; ++i) {
        if (subBits[i] != 0) {
            subStart[i] = offset;
            table[i] = Entry(kLink, offset, subBits[i]);
            offset += 1u << subBits[i];
        }
    }
    for (unsigned s = 0; s < count; ++s) {
        const unsigned length = lengths[s];
        if (length == 0) {
            continue;
        }
        const uint32_t entry = entryOf(s) | length;
        const unsigned r = reversed[s];
        if (length <= kRootBits) {
            for (unsigned i = r; i <= kRootMask; i += 1u << length) {
                table[i] = entry;
            }
        } else {
            const unsigned size = 1u << subBits[r & kRootMask];
            uint32_t *sub = table + subStart[r & kRootMask];
            for (unsigned i = r >> kRootBits; i < size; i += 1u << (length - kRootBits)) {
                sub[i] = entry;
            }
        }
    }
    return true;
}

// Copies a match of `length` bytes from `distance` back; may store up to kCopySlack bytes past.
inline void CopyMatch(uint8_t *out, std::size_t distance, std::size_t length) {
    const uint8_t *from = out - distance;
#if defined(__SSE2__)
    if (distance >= 16) {
        for (std::size_t i = 0; i < length; i += 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i)));
        }
        return;
    }
    if (distance == 1) {
        const __m128i v = _mm_set1_epi8(static_cast<char>(from[0]));
        for (std::size_t i = 0; i < length; i += 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), v);
        }
        return;
    }
    // The pattern of `distance` bytes repeats every `period` (its first multiple of 16 or more):
    // once that much is written, sixteen bytes a step read only bytes already written.
    const std::size_t period = distance * ((15 + distance) / distance);
    const std::size_t head = std::min(length, period);
    for (std::size_t i = 0; i < head; ++i) {
        out[i] = from[i];
    }
    for (std::size_t i = period; i < length; i += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(out + i - period)));
    }
#else
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = from[i];
    }
#endif
}

}  // namespace zav::inflate_codes
