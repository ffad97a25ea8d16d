// The inflater reads the stream through a 64-bit bit buffer refilled eight bytes at a time, and
// decodes Huffman codes with a table of 10 bits and subtables for longer codes. Matches are copied
// sixteen bytes a step (a distance below sixteen is copied as its repeating pattern), so that the
// long runs of a flat picture cost a few stores each. When the window is nearly full, the whole
// rows in it go out and the window slides back, keeping the 32 KiB a match may reach and the row
// begun. It accepts what zlib accepts (complete codes or a single one-bit code, distances within
// the data so far), and judges the stream's ends as libspng does: bytes past the last row, and
// anything after the stream, are ignored; a stream cut short after the last row, or without its
// check value, loads; a check value that does not match is corrupt.
#include "imaging/codecs/png_inflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imaging/codecs/png_unfilter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zav {

namespace {

constexpr unsigned kRootBits = 10;
constexpr uint32_t kRootMask = (1u << kRootBits) - 1;
constexpr std::size_t kHistory = 32768;
constexpr std::size_t kMaxMatch = 258;
// Bytes a match copy may store past its end, and the room kept free for one symbol's output.
constexpr std::size_t kCopySlack = 32;
constexpr std::size_t kWindowWork = std::size_t{1} << 20;

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
uint32_t LitLenEntry(unsigned s) {
    if (s < 256) {
        return Entry(kLiteral, s, 0);
    }
    if (s == 256) {
        return Entry(kEnd, 0, 0);
    }
    return s < 286 ? Entry(kLength, s - 257, 0) : kBad;
}
uint32_t DistEntry(unsigned s) {
    return s < 30 ? Entry(kLiteral, s, 0) : kBad;
}
uint32_t PlainEntry(unsigned s) {
    return Entry(kLiteral, s, 0);
}

// Builds the decoding table of the code with `lengths` (`count` symbols). False for a code that
// zlib refuses: over-subscribed, or incomplete unless it is one code of one bit (never for the
// code length code, `strict`). A code with no symbols at all decodes nothing.
bool BuildTable(const uint8_t *lengths, unsigned count, uint32_t (*entryOf)(unsigned), bool strict,
                uint32_t *table) {
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

struct FreeBytes {
    void operator()(uint8_t *p) const { std::free(p); }
};

class Inflater {
  public:
    Inflater(StreamPieces &pieces, std::size_t width, std::size_t height, unsigned channels,
             uint8_t *bgr, std::size_t step)
        : m_pieces(pieces),
          m_width(width),
          m_height(height),
          m_channels(channels),
          m_rowBytes(width * channels),
          m_bgr(bgr),
          m_step(step) {}

    CodecStatus Run() {
        const std::size_t stored = m_rowBytes + 1;
        m_windowBytes = kHistory + stored + kWindowWork;
        m_window.reset(static_cast<uint8_t *>(std::malloc(m_windowBytes + kCopySlack)));
        m_rows.reset(static_cast<uint8_t *>(std::calloc(2, m_rowBytes)));
        m_litLen.reset(new (std::nothrow) uint32_t[kLitLenEntries + kDistEntries]);
        if (!m_window || !m_rows || !m_litLen) {
            return CodecStatus::kNoMemory;
        }
        m_dist = m_litLen.get() + kLitLenEntries;
        m_out = m_window.get();
        m_rowAt = m_out;
        m_checkedTo = m_out;
        m_prior = m_rows.get() + m_rowBytes;  // zeros above the first row
        m_current = m_rows.get();
        // The zlib header: deflate, a window of 32 KiB at most, no preset dictionary.
        Refill();
        const unsigned cmf = Take(8);
        const unsigned flg = Take(8);
        if (Cut() || (cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (cmf * 256 + flg) % 31 != 0 ||
            (flg & 0x20) != 0) {
            return CodecStatus::kCorrupt;
        }
        bool final = false;
        while (!final) {
            Refill();
            final = Take(1) != 0;
            const unsigned type = Take(2);
            bool ok = !Cut();
            if (!ok) {
                m_cut = true;
            } else if (type == 0) {
                ok = Stored();
            } else if (type == 1) {
                ok = FixedCodes() && Codes();
            } else if (type == 2) {
                ok = DynamicCodes() && Codes();
            } else {
                ok = false;
            }
            if (!ok) {
                // A stream cut short after the last row is whole loads, as libpng and libspng
                // load it; anything else is corrupt.
                return m_cut && Drain() && m_row == m_height ? CodecStatus::kOk
                                                             : CodecStatus::kCorrupt;
            }
        }
        if (!Drain() || m_row != m_height) {
            return CodecStatus::kCorrupt;
        }
        // The check value, from the next whole byte, when the stream has it; what follows is
        // ignored.
        Take(m_count & 7);
        Refill();
        if (m_count / 8 < m_overrun + 4) {
            return CodecStatus::kOk;
        }
        uint32_t check = 0;
        for (int i = 0; i < 4; ++i) {
            check = (check << 8) | Take(8);
        }
        return check == m_adler ? CodecStatus::kOk : CodecStatus::kCorrupt;
    }

  private:
    void Refill() {
        if (m_end - m_in >= 8) {
            m_bits |= LoadLittleEndian64(m_in) << m_count;
            m_in += (63 - m_count) >> 3;
            m_count |= 56;
            return;
        }
        while (m_count <= 56) {
            if (m_in == m_end) {
                const std::span<const uint8_t> next = m_pieces.Next();
                if (!next.empty()) {
                    m_in = next.data();
                    m_end = next.data() + next.size();
                    if (m_end - m_in >= 8) {
                        Refill();
                        return;
                    }
                    continue;
                }
                ++m_overrun;  // past the end: zeros, and the stream is cut short if it uses them
                m_count += 8;
                continue;
            }
            m_bits |= uint64_t{*m_in++} << m_count;
            m_count += 8;
        }
    }

    unsigned Take(unsigned n) {
        const unsigned v = static_cast<unsigned>(m_bits & ((uint64_t{1} << n) - 1));
        m_bits >>= n;
        m_count -= n;
        return v;
    }

    // Whether bits past the stream's end were taken.
    bool Cut() const { return m_count < 8 * m_overrun; }

    uint32_t Decode(const uint32_t *table) {
        uint32_t e = table[m_bits & kRootMask];
        if (((e >> 8) & 0xFF) == kLink) {
            e = table[(e >> 16) + ((m_bits >> kRootBits) & ((1u << (e & 0xFF)) - 1))];
        }
        m_bits >>= e & 0xFF;
        m_count -= e & 0xFF;
        return e;
    }

    bool Stored() {
        Take(m_count & 7);
        Refill();
        const unsigned length = Take(16);
        const unsigned check = Take(16);
        if (Cut()) {
            m_cut = true;
            return false;
        }
        if ((check ^ 0xFFFFu) != length) {
            return false;
        }
        std::size_t left = length;
        // Whole bytes still in the bit buffer first (never the zeros past the end).
        while (left != 0 && m_count >= 8) {
            if (m_count / 8 <= m_overrun) {
                m_cut = true;
                return false;
            }
            if (!Room(1)) {
                return false;
            }
            *m_out++ = static_cast<uint8_t>(Take(8));
            --left;
        }
        if (left != 0) {
            m_bits = 0;  // the bit buffer is empty: drop the bits it held of the byte at m_in
        }
        while (left != 0) {
            if (m_in == m_end) {
                const std::span<const uint8_t> next = m_pieces.Next();
                if (next.empty()) {
                    m_cut = true;
                    return false;
                }
                m_in = next.data();
                m_end = next.data() + next.size();
                continue;
            }
            if (m_out == m_window.get() + m_windowBytes && !Room(1)) {
                return false;
            }
            const std::size_t n =
                std::min({left, static_cast<std::size_t>(m_end - m_in),
                          static_cast<std::size_t>(m_window.get() + m_windowBytes - m_out)});
            std::memcpy(m_out, m_in, n);
            m_out += n;
            m_in += n;
            left -= n;
        }
        return true;
    }

    bool FixedCodes() {
        uint8_t lengths[288 + 32];
        std::fill(lengths, lengths + 144, uint8_t{8});
        std::fill(lengths + 144, lengths + 256, uint8_t{9});
        std::fill(lengths + 256, lengths + 280, uint8_t{7});
        std::fill(lengths + 280, lengths + 288, uint8_t{8});
        std::fill(lengths + 288, lengths + 320, uint8_t{5});
        return BuildTable(lengths, 288, LitLenEntry, false, m_litLen.get()) &&
               BuildTable(lengths + 288, 32, DistEntry, false, m_dist);
    }

    bool DynamicCodes() {
        Refill();
        const unsigned litCount = Take(5) + 257;
        const unsigned distCount = Take(5) + 1;
        const unsigned clCount = Take(4) + 4;
        if (Cut()) {
            m_cut = true;
            return false;
        }
        if (litCount > 286 || distCount > 30) {
            return false;
        }
        uint8_t clLengths[19] = {};
        for (unsigned i = 0; i < clCount; ++i) {
            Refill();
            clLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(Take(3));
        }
        uint32_t clTable[1u << kRootBits];
        if (!BuildTable(clLengths, 19, PlainEntry, true, clTable)) {
            return false;
        }
        uint8_t lengths[286 + 30] = {};
        const unsigned total = litCount + distCount;
        for (unsigned i = 0; i < total;) {
            Refill();
            const uint32_t e = Decode(clTable);
            if (Cut()) {
                m_cut = true;
                return false;
            }
            if (((e >> 8) & 0xFF) == kInvalid) {
                return false;
            }
            const unsigned symbol = e >> 16;
            if (symbol < 16) {
                lengths[i++] = static_cast<uint8_t>(symbol);
                continue;
            }
            unsigned repeat = 0;
            uint8_t value = 0;
            if (symbol == 16) {
                if (i == 0) {
                    return false;
                }
                value = lengths[i - 1];
                repeat = 3 + Take(2);
            } else if (symbol == 17) {
                repeat = 3 + Take(3);
            } else {
                repeat = 11 + Take(7);
            }
            if (repeat > total - i) {
                return false;
            }
            if (Cut()) {
                m_cut = true;
                return false;
            }
            std::fill(lengths + i, lengths + i + repeat, value);
            i += repeat;
        }
        if (lengths[256] == 0) {
            return false;  // no end of block
        }
        return BuildTable(lengths, litCount, LitLenEntry, false, m_litLen.get()) &&
               BuildTable(lengths + litCount, distCount, DistEntry, false, m_dist);
    }

    // Literals and matches up to the end of the block.
    bool Codes() {
        const uint32_t *litLen = m_litLen.get();
        const uint32_t *dist = m_dist;
        uint8_t *limit = m_window.get() + m_windowBytes - kMaxMatch;
        for (;;) {
            if (m_out > limit && !Room(kMaxMatch)) {
                return false;
            }
            Refill();
            const uint32_t e = Decode(litLen);
            if (m_overrun != 0 && Cut()) {
                m_cut = true;
                return false;
            }
            const unsigned kind = (e >> 8) & 0xFF;
            if (kind == kLiteral) {
                *m_out++ = static_cast<uint8_t>(e >> 16);
                continue;
            }
            if (kind != kLength) {
                return kind == kEnd;
            }
            const unsigned index = e >> 16;
            const std::size_t length = kLengthBase[index] + Take(kLengthExtra[index]);
            const uint32_t d = Decode(dist);
            if (((d >> 8) & 0xFF) != kLiteral) {
                return false;
            }
            Refill();
            const unsigned symbol = d >> 16;
            const std::size_t distance = kDistBase[symbol] + Take(kDistExtra[symbol]);
            if (m_overrun != 0 && Cut()) {
                m_cut = true;
                return false;
            }
            if (distance > static_cast<std::size_t>(m_out - m_window.get())) {
                return false;  // before the first byte
            }
            CopyMatch(m_out, distance, length);
            m_out += length;
        }
    }

    // Makes room for `bytes` more: whole rows go out, then the window slides back.
    bool Room(std::size_t bytes) {
        if (static_cast<std::size_t>(m_window.get() + m_windowBytes - m_out) >= bytes) {
            return true;
        }
        if (!Drain()) {
            return false;
        }
        uint8_t *keep = m_out - std::min<std::size_t>(kHistory, m_out - m_window.get());
        keep = std::min(keep, m_rowAt);
        const std::size_t shift = static_cast<std::size_t>(keep - m_window.get());
        std::memmove(m_window.get(), keep, static_cast<std::size_t>(m_out - keep));
        m_out -= shift;
        m_rowAt -= shift;
        m_checkedTo -= shift;
        return static_cast<std::size_t>(m_window.get() + m_windowBytes - m_out) >= bytes;
    }

    // Every whole row in the window to the buffer, and the check value over the new bytes.
    bool Drain() {
        m_adler =
            libdeflate_adler32(m_adler, m_checkedTo, static_cast<std::size_t>(m_out - m_checkedTo));
        m_checkedTo = m_out;
        const std::size_t stored = m_rowBytes + 1;
        while (static_cast<std::size_t>(m_out - m_rowAt) >= stored) {
            if (m_row == m_height) {
                m_rowAt = m_out;  // bytes past the last row are ignored
                break;
            }
            std::memcpy(m_current, m_rowAt + 1, m_rowBytes);
            if (!UnfilterPngRow(m_rowAt[0], m_current, m_prior, m_rowBytes, m_channels)) {
                return false;
            }
            uint8_t *to = m_bgr + m_row * m_step;
            // A row the same as the one above (flat pictures, and every "up" row of zeros) is a
            // copy of the row already written: one pass instead of the conversion's.
            if (m_row != 0 && std::memcmp(m_current, m_prior, m_rowBytes) == 0) {
                std::memcpy(to, to - m_step, m_width * 3);
            } else {
                PngRowToBgr(m_current, m_channels, m_width, to);
            }
            std::swap(m_current, m_prior);
            m_rowAt += stored;
            ++m_row;
        }
        return true;
    }

    StreamPieces &m_pieces;
    const std::size_t m_width;
    const std::size_t m_height;
    const unsigned m_channels;
    const std::size_t m_rowBytes;
    uint8_t *const m_bgr;
    const std::size_t m_step;

    const uint8_t *m_in = nullptr;
    const uint8_t *m_end = nullptr;
    uint64_t m_bits = 0;
    unsigned m_count = 0;
    std::size_t m_overrun = 0;  // zero bytes put in the bit buffer past the stream's end
    bool m_cut = false;         // whether decoding stopped at the stream's end

    std::unique_ptr<uint8_t, FreeBytes> m_window;
    std::size_t m_windowBytes = 0;
    uint8_t *m_out = nullptr;        // where the next inflated byte goes
    uint8_t *m_rowAt = nullptr;      // the first byte of the row not yet written out
    uint8_t *m_checkedTo = nullptr;  // the end of the bytes in the check value so far
    uint32_t m_adler = 1;
    std::unique_ptr<uint8_t, FreeBytes> m_rows;
    uint8_t *m_current = nullptr;
    uint8_t *m_prior = nullptr;
    std::size_t m_row = 0;
    std::unique_ptr<uint32_t[]> m_litLen;
    uint32_t *m_dist = nullptr;
};

}  // namespace

CodecStatus InflatePngRows(StreamPieces &pieces, std::size_t width, std::size_t height,
                           unsigned channels, uint8_t *bgr, std::size_t step) noexcept {
    if (channels < 1 || channels > 4 || width == 0 || height == 0 ||
        width > (kMaxStreamedRow - 1) / channels) {
        return CodecStatus::kNoMemory;
    }
    Inflater inflater(pieces, width, height, channels, bgr, step);
    return inflater.Run();
}

}  // namespace zav
