// The inflater reads the stream through a 64-bit bit buffer refilled eight bytes at a time, and
// decodes Huffman codes with a table of 10 bits and subtables for longer codes. Matches are copied
// sixteen bytes a step (a distance below sixteen is copied as its repeating pattern), so that the
// long runs of a flat picture cost a few stores each. When the window is nearly full, the whole
// rows in it go out and the window slides back, keeping the 32 KiB a match may reach and the row
// begun. It accepts what zlib accepts (complete codes or a single one-bit code, distances within
// the data so far), and judges the stream's end as libpng does (see AfterTheRows): bytes past the
// last row are ignored, a stream whose end the image data do not hold fails.
#include "imaging/codecs/png_inflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "imaging/codecs/png_idat_reads.h"
#include "imaging/codecs/png_inflate_codes.h"
#include "imaging/codecs/png_unfilter.h"

namespace zav {

namespace {

using namespace inflate_codes;  // NOLINT: this file is their one user

constexpr std::size_t kHistory = 32768;
constexpr std::size_t kWindowWork = std::size_t{1} << 20;

struct FreeBytes {
    void operator()(uint8_t *p) const { std::free(p); }
};

class Inflater : private IdatBits {
  public:
    // Rows into `bgr`, or (`bgr` null) only the first `total` bytes counted, the last
    // `lastRowBytes` of them the picture's last row.
    Inflater(StreamPieces &pieces, std::size_t width, std::size_t height, unsigned channels,
             uint8_t *bgr, std::size_t step, uint64_t total, uint64_t lastRowBytes)
        : IdatBits(pieces),
          m_width(width),
          m_height(height),
          m_channels(channels),
          m_rowBytes(width * channels),
          m_bgr(bgr),
          m_step(step),
          m_total(total),
          m_lastRowBytes(lastRowBytes) {}

    CodecStatus Run() {
        const std::size_t stored = m_rowBytes + 1;
        m_windowBytes = kHistory + stored + kWindowWork;
        m_window.reset(static_cast<uint8_t *>(std::malloc(m_windowBytes + kCopySlack)));
        if (m_bgr != nullptr) {
            m_rows.reset(static_cast<uint8_t *>(std::calloc(2, m_rowBytes)));
        }
        m_litLen.reset(new (std::nothrow) uint32_t[kLitLenEntries + kDistEntries]);
        if (!m_window || (m_bgr != nullptr && !m_rows) || !m_litLen) {
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
        // Every byte of the picture, then the stream's end judged as libpng judges it. The read
        // libpng's call for the last row starts on: zlib ended the call before it where the row
        // before was whole and the next byte's symbol decoded (or the read used up), and a call
        // that starts with its read used up takes the next read first.
        if (m_total > m_lastRowBytes) {
            const uint64_t rowStart = m_total - m_lastRowBytes;
            m_stopAt = rowStart;
            if (Continue() != Stop::kFull) {
                return CodecStatus::kCorrupt;
            }
            uint64_t start = (ConsumedBits() + 7) / 8;
            if (Produced() == rowStart && !(m_block == Block::kStored && m_storedLeft != 0)) {
                const uint64_t readEnd = RecentReadEnd(start - 1);
                m_stopAt = rowStart + 1;
                if (Continue() != Stop::kFull) {
                    return CodecStatus::kCorrupt;
                }
                // A stored byte is taken only as it is copied: not yet in that call.
                const uint64_t next =
                    (ConsumedBits() + 7) / 8 - (m_block == Block::kStored ? 1 : 0);
                start = std::min(next, readEnd);
            }
            if (RecentReadEnd(start - 1) == start) {
                m_eagerAt = start;
            }
        }
        m_stopAt = m_total;
        if (Continue() != Stop::kFull || !Drain()) {
            return CodecStatus::kCorrupt;
        }
        try {
            return AfterTheRows();
        } catch (const std::bad_alloc &) {
            return CodecStatus::kNoMemory;
        }
    }

  private:
    // Why decoding stopped: the stream's end (its check value read), damage, the data used up,
    // output reaching m_stopAt, or (inside) the end of a block or header.
    enum class Stop { kEnd, kFailed, kCut, kFull, kOn };
    enum class Block { kNone, kCodes, kStored };

    // libpng inflates each row in a call of its own and then, once the picture is whole, goes on
    // reading until the stream ends. Where the picture's last byte ends its call, zlib still
    // takes what needs no output (block ends, headers, the check value) from the read it has
    // (8192 bytes of a chunk): a damaged stream or check value there fails the picture. Past
    // that, damage is only warned of, and so is data beyond the picture's; but image data that
    // runs out before the stream's end fails it ("Not enough image data"), unless the first read
    // after the picture's call was used up without giving a byte (libpng then stops looking).
    CodecStatus AfterTheRows() {
        if (Produced() > m_total || (m_block == Block::kStored && m_storedLeft != 0)) {
            return ToTheEnd(nullptr);  // output after the picture's: checked to the end
        }
        const uint64_t bits = ConsumedBits();
        TailSource tail(m_pieces);
        for (std::size_t i = m_pieceCount > kRecent ? m_pieceCount - kRecent : 0; i < m_pieceCount;
             ++i) {
            tail.Known(m_recent[i % kRecent]);
        }
        // The read zlib took the last bits from, or the one the call took first.
        uint64_t readEnd = tail.ReadEnd((bits + 7) / 8 - 1);
        if (m_eagerAt != 0 && m_eagerAt == (bits + 7) / 8) {
            readEnd = tail.ReadEnd(m_eagerAt);
            if (readEnd == 0) {
                return CodecStatus::kCorrupt;
            }
        }
        // No slide of the window in what follows, which gives a byte at most before it stops.
        if (!Room(2 * kMaxMatch)) {
            return CodecStatus::kCorrupt;
        }
        const Saved saved = Save();
        std::unique_ptr<uint32_t[]> tables;
        if (m_block == Block::kCodes) {
            tables.reset(new uint32_t[kLitLenEntries + kDistEntries]);
            std::copy(m_litLen.get(), m_litLen.get() + kLitLenEntries + kDistEntries, tables.get());
        }
        Restart(tail, bits, readEnd);
        Stop stop = Continue();

        if (stop == Stop::kEnd) {
            return m_checkMatches ? CodecStatus::kOk : CodecStatus::kCorrupt;
        }
        if (stop == Stop::kFull) {
            return ToTheEnd(&tail);
        }
        if (stop == Stop::kFailed) {
            return CodecStatus::kCorrupt;
        }
        // The call ran out of its read: the next one, or none.
        const uint64_t nextEnd = tail.ReadEnd(readEnd);
        if (nextEnd == 0) {
            return CodecStatus::kCorrupt;
        }
        Restore(saved);
        if (tables) {
            std::copy(tables.get(), tables.get() + kLitLenEntries + kDistEntries, m_litLen.get());
        }
        Restart(tail, bits, nextEnd);
        stop = Continue();
        return stop == Stop::kFull ? ToTheEnd(&tail) : CodecStatus::kOk;
    }

    // Decodes the rest of the stream, where damage is only warned of: fails only when the data
    // run out before the stream's end.
    CodecStatus ToTheEnd(TailSource *tail) {
        if (m_farBack) {
            return CodecStatus::kOk;
        }
        if (tail != nullptr) {
            tail->Lift();
            m_count -= 8 * static_cast<unsigned>(m_overrun);  // zeros put in at the limit
            if (m_count < 64) {
                m_bits &= (uint64_t{1} << m_count) - 1;
            }
            m_overrun = 0;
        }
        m_stopAt = UINT64_MAX;
        return Continue() == Stop::kCut ? CodecStatus::kCorrupt : CodecStatus::kOk;
    }

    struct Saved {
        uint8_t *out, *rowAt, *checkedTo;
        uint64_t base;
        uint32_t adler;
        Block block;
        std::size_t storedLeft;
        bool lastBlock;
    };
    Saved Save() const {
        return {m_out, m_rowAt, m_checkedTo, m_base, m_adler, m_block, m_storedLeft, m_lastBlock};
    }
    void Restore(const Saved &s) {
        m_out = s.out;
        m_rowAt = s.rowAt;
        m_checkedTo = s.checkedTo;
        m_base = s.base;
        m_adler = s.adler;
        m_block = s.block;
        m_storedLeft = s.storedLeft;
        m_lastBlock = s.lastBlock;
    }

    // Reads again from bit `bits` of the stream, up to byte `limit`; decoding stops at the first
    // byte of output.
    void Restart(TailSource &tail, uint64_t bits, uint64_t limit) {
        m_source = &tail;
        tail.Start(bits / 8, limit);
        m_in = m_end = nullptr;
        m_bits = 0;
        m_count = 0;
        m_overrun = 0;
        Refill();
        Take(static_cast<unsigned>(bits % 8));
        m_stopAt = Produced() + 1;
    }

    uint64_t Produced() const { return m_base + static_cast<uint64_t>(m_out - m_window.get()); }

    // Blocks from where decoding stands.
    Stop Continue() {
        for (;;) {
            Stop stop;
            if (m_block == Block::kCodes) {
                stop = Codes();
            } else if (m_block == Block::kStored) {
                stop = StoredBytes();
            } else if (Produced() >= m_stopAt) {
                return Stop::kFull;
            } else if (m_lastBlock) {
                return CheckValue();
            } else {
                stop = BlockHeader();
            }
            if (stop != Stop::kOn) {
                return stop;
            }
        }
    }

    Stop BlockHeader() {
        Refill();
        m_lastBlock = Take(1) != 0;
        const unsigned type = Take(2);
        if (Cut()) {
            return Stop::kCut;
        }
        Stop stop = Stop::kFailed;
        if (type == 0) {
            stop = StoredHeader();
        } else if (type == 1) {
            stop = FixedCodes() ? Stop::kOn : Stop::kFailed;
        } else if (type == 2) {
            stop = DynamicCodes();
        }
        if (stop == Stop::kOn) {
            m_block = type == 0 ? Block::kStored : Block::kCodes;
        }
        return stop;
    }

    // The check value from the next whole byte: read, and whether it matches.
    Stop CheckValue() {
        if (!Drain()) {
            return Stop::kFailed;
        }
        Take(m_count & 7);
        Refill();
        uint32_t check = 0;
        for (int i = 0; i < 4; ++i) {
            check = (check << 8) | Take(8);
        }
        if (Cut()) {
            return Stop::kCut;
        }
        m_checkMatches = check == m_adler;
        return Stop::kEnd;
    }

    Stop StoredHeader() {
        Take(m_count & 7);
        Refill();
        const unsigned length = Take(16);
        const unsigned check = Take(16);
        if (Cut()) {
            return Stop::kCut;
        }
        if ((check ^ 0xFFFFu) != length) {
            return Stop::kFailed;
        }
        m_storedLeft = length;
        return Stop::kOn;
    }

    // A stored block's bytes up to its end.
    Stop StoredBytes() {
        uint8_t *const windowEnd = m_window.get() + m_windowBytes;
        // Whole bytes still in the bit buffer first (never the zeros past the end).
        while (m_storedLeft != 0 && m_count >= 8) {
            if (Produced() >= m_stopAt) {
                return Stop::kFull;
            }
            if (m_count / 8 <= m_overrun) {
                return Stop::kCut;
            }
            if (!Room(1)) {
                return Stop::kFailed;
            }
            *m_out++ = static_cast<uint8_t>(Take(8));
            --m_storedLeft;
        }
        if (m_storedLeft != 0) {
            m_bits = 0;  // the bit buffer is empty: drop the bits it held of the byte at m_in
        }
        while (m_storedLeft != 0) {
            if (Produced() >= m_stopAt) {
                return Stop::kFull;
            }
            if (m_in == m_end) {
                if (!NextPiece()) {
                    return Stop::kCut;
                }
                continue;
            }
            if (m_out == windowEnd && !Room(1)) {
                return Stop::kFailed;
            }
            const std::size_t n = static_cast<std::size_t>(
                std::min<uint64_t>(std::min({m_storedLeft, static_cast<std::size_t>(m_end - m_in),
                                             static_cast<std::size_t>(windowEnd - m_out)}),
                                   m_stopAt - Produced()));
            std::memcpy(m_out, m_in, n);
            m_out += n;
            m_in += n;
            m_storedLeft -= n;
        }
        if (Produced() >= m_stopAt) {
            return Stop::kFull;  // the block is left when decoding goes on
        }
        m_block = Block::kNone;
        return Stop::kOn;
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

    Stop DynamicCodes() {
        Refill();
        const unsigned litCount = Take(5) + 257;
        const unsigned distCount = Take(5) + 1;
        const unsigned clCount = Take(4) + 4;
        if (Cut()) {
            return Stop::kCut;
        }
        if (litCount > 286 || distCount > 30) {
            return Stop::kFailed;
        }
        uint8_t clLengths[19] = {};
        for (unsigned i = 0; i < clCount; ++i) {
            Refill();
            clLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(Take(3));
        }
        if (Cut()) {
            return Stop::kCut;
        }
        uint32_t clTable[1u << kRootBits];
        if (!BuildTable(clLengths, 19, PlainEntry, true, clTable)) {
            return Stop::kFailed;
        }
        uint8_t lengths[286 + 30] = {};
        const unsigned total = litCount + distCount;
        for (unsigned i = 0; i < total;) {
            Refill();
            const uint32_t e = Decode(clTable);
            if (Cut()) {
                return Stop::kCut;
            }
            if (((e >> 8) & 0xFF) == kInvalid) {
                return Stop::kFailed;
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
                    return Stop::kFailed;
                }
                value = lengths[i - 1];
                repeat = 3 + Take(2);
            } else if (symbol == 17) {
                repeat = 3 + Take(3);
            } else {
                repeat = 11 + Take(7);
            }
            if (Cut()) {
                return Stop::kCut;
            }
            if (repeat > total - i) {
                return Stop::kFailed;
            }
            std::fill(lengths + i, lengths + i + repeat, value);
            i += repeat;
        }
        if (lengths[256] == 0) {
            return Stop::kFailed;  // no end of block
        }
        return BuildTable(lengths, litCount, LitLenEntry, false, m_litLen.get()) &&
                       BuildTable(lengths + litCount, distCount, DistEntry, false, m_dist)
                   ? Stop::kOn
                   : Stop::kFailed;
    }

    // Below this, a symbol's output fits before the window's end and stays below m_stopAt.
    uint8_t *CodesLimit() const {
        uint8_t *limit = m_window.get() + m_windowBytes - kMaxMatch;
        const uint64_t left = m_stopAt - Produced();  // at least 1
        if (limit >= m_out && left <= static_cast<uint64_t>(limit - m_out)) {
            limit = m_out + (left - 1);
        }
        return limit;
    }

    // Literals and matches up to the end of the block, or until the output reaches m_stopAt.
    Stop Codes() {
        if (Produced() >= m_stopAt) {
            return Stop::kFull;
        }
        const uint32_t *litLen = m_litLen.get();
        const uint32_t *dist = m_dist;
        uint8_t *limit = CodesLimit();
        for (;;) {
            if (m_out > limit) {
                if (Produced() >= m_stopAt) {
                    return Stop::kFull;
                }
                if (!Room(kMaxMatch)) {
                    return Stop::kFailed;
                }
                limit = CodesLimit();
            }
            Refill();
            const uint32_t e = Decode(litLen);
            if (m_overrun != 0 && Cut()) {
                return Stop::kCut;
            }
            const unsigned kind = (e >> 8) & 0xFF;
            if (kind == kLiteral) {
                *m_out++ = static_cast<uint8_t>(e >> 16);
                continue;
            }
            if (kind != kLength) {
                if (kind != kEnd) {
                    return Stop::kFailed;
                }
                m_block = Block::kNone;
                return Stop::kOn;
            }
            const unsigned index = e >> 16;
            const std::size_t length = kLengthBase[index] + Take(kLengthExtra[index]);
            const uint32_t d = Decode(dist);
            Refill();
            const unsigned symbol = d >> 16;
            const bool valid = ((d >> 8) & 0xFF) == kLiteral;
            const std::size_t distance = valid ? kDistBase[symbol] + Take(kDistExtra[symbol]) : 0;
            if (m_overrun != 0 && Cut()) {
                return Stop::kCut;
            }
            if (!valid) {
                return Stop::kFailed;
            }
            if (distance > static_cast<std::size_t>(m_out - m_window.get())) {
                // Before the first byte. zlib finds it only as it copies: after the picture's
                // last byte, in libpng's next call, where it is only warned of.
                if (m_stopAt != UINT64_MAX && Produced() >= m_total) {
                    m_farBack = true;
                    return Stop::kFull;
                }
                return Stop::kFailed;
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
        m_base += shift;
        return static_cast<std::size_t>(m_window.get() + m_windowBytes - m_out) >= bytes;
    }

    // Every whole row in the window to the buffer, and the check value over the new bytes.
    bool Drain() {
        m_adler =
            libdeflate_adler32(m_adler, m_checkedTo, static_cast<std::size_t>(m_out - m_checkedTo));
        m_checkedTo = m_out;
        if (m_bgr == nullptr) {
            m_rowAt = m_out;
            return true;
        }
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

    const std::size_t m_width;
    const std::size_t m_height;
    const unsigned m_channels;
    const std::size_t m_rowBytes;
    uint8_t *const m_bgr;
    const std::size_t m_step;
    const uint64_t m_total;  // the bytes of the picture's image data
    const uint64_t m_lastRowBytes;
    uint64_t m_eagerAt = 0;  // where the last row's call took a new read first, if it did
    uint64_t m_stopAt = 0;   // decoding stops once the output reaches this

    Block m_block = Block::kNone;
    std::size_t m_storedLeft = 0;
    bool m_lastBlock = false;
    bool m_checkMatches = false;
    bool m_farBack = false;  // a match after the picture's reached before the first byte

    std::unique_ptr<uint8_t, FreeBytes> m_window;
    std::size_t m_windowBytes = 0;
    uint64_t m_base = 0;             // the bytes slid out of the window
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
    Inflater inflater(pieces, width, height, channels, bgr, step,
                      uint64_t{width * channels + 1} * height, width * channels + 1);
    return inflater.Run();
}

CodecStatus CheckPngStreamEnd(StreamPieces &pieces, uint64_t inflatedBytes,
                              uint64_t lastRowBytes) noexcept {
    if (lastRowBytes == 0 || inflatedBytes < lastRowBytes) {
        return CodecStatus::kCorrupt;
    }
    Inflater inflater(pieces, 0, 0, 0, nullptr, 0, inflatedBytes, lastRowBytes);
    return inflater.Run();
}

}  // namespace zav
