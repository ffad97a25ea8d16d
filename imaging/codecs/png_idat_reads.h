// The streaming PNG decoder's reading of the image data (png_inflate.cpp): its bits, where they lie
// in the stream, the reads libpng makes of it (8192 bytes of an IDAT chunk at a time), and the
// stream read again from a byte already seen.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/codecs/png_inflate.h"
#include "imaging/codecs/png_inflate_codes.h"

namespace zav::inflate_codes {

// A piece of the stream and where it starts in the stream.
struct Piece {
    const uint8_t *data = nullptr;
    std::size_t size = 0;
    uint64_t at = 0;
};

// libpng reads a chunk of image data 8192 bytes at a time and hands zlib one read after another.
constexpr uint64_t kLibpngRead = 8192;

// The end of libpng's read that holds byte `at` of `piece`.
inline uint64_t PieceReadEnd(const Piece &piece, uint64_t at) {
    return piece.at + std::min<uint64_t>(piece.size,
                                         (at - piece.at) / kLibpngRead * kLibpngRead + kLibpngRead);
}

// The stream again from any byte of the pieces already seen (the last few, which the decoder
// recorded) on, up to a limit that may be lifted; pieces that follow are taken from the rest of the
// stream as they are needed.
class TailSource final : public StreamPieces {
  public:
    explicit TailSource(StreamPieces &rest) : m_rest(rest) {}

    void Known(const Piece &piece) { m_known.push_back(piece); }
    // Yields the stream from byte `from` up to byte `limit`.
    void Start(uint64_t from, uint64_t limit) {
        m_at = from;
        m_limit = limit;
    }
    void Lift() { m_limit = UINT64_MAX; }

    std::span<const uint8_t> Next() override {
        if (m_at >= m_limit) {
            return {};
        }
        const Piece *piece = Find(m_at);
        if (piece == nullptr) {
            return {};
        }
        const std::size_t offset = static_cast<std::size_t>(m_at - piece->at);
        const std::size_t n =
            static_cast<std::size_t>(std::min<uint64_t>(piece->size - offset, m_limit - m_at));
        m_at += n;
        return {piece->data + offset, n};
    }

    // The end of libpng's read that holds byte `at`, or 0 when the stream has no such byte.
    uint64_t ReadEnd(uint64_t at) {
        const Piece *piece = Find(at);
        if (piece == nullptr) {
            return 0;
        }
        return PieceReadEnd(*piece, at);
    }

  private:
    const Piece *Find(uint64_t at) {
        for (;;) {
            // Mostly the last piece, or the one before it.
            for (std::size_t i = m_known.size(); i-- > 0;) {
                const Piece &p = m_known[i];
                if (at >= p.at && at - p.at < p.size) {
                    return &p;
                }
                if (at >= p.at) {
                    break;
                }
            }
            const uint64_t end = m_known.empty() ? 0 : m_known.back().at + m_known.back().size;
            if (at < end) {
                return nullptr;
            }
            const std::span<const uint8_t> next = m_rest.Next();
            if (next.empty()) {
                return nullptr;
            }
            if (m_limit == UINT64_MAX && m_known.size() > 1) {
                m_known.erase(m_known.begin(), m_known.end() - 1);  // no way back once lifted
            }
            m_known.push_back({next.data(), next.size(), end});
        }
    }

    StreamPieces &m_rest;
    std::vector<Piece> m_known;
    uint64_t m_at = 0;
    uint64_t m_limit = 0;
};

// The bits of the stream, read through a 64-bit buffer refilled eight bytes at a time (zeros past
// the end, which the decoder checks for), and where they lie in the stream.
class IdatBits {
  protected:
    explicit IdatBits(StreamPieces &pieces) : m_pieces(pieces) {}

    bool NextPiece() {
        const std::span<const uint8_t> next = m_source->Next();
        if (next.empty()) {
            return false;
        }
        m_in = next.data();
        m_end = next.data() + next.size();
        if (m_source == &m_pieces) {
            const Piece &last = m_recent[(m_pieceCount + kRecent - 1) % kRecent];
            const uint64_t at = m_pieceCount == 0 ? 0 : last.at + last.size;
            m_recent[m_pieceCount++ % kRecent] = {next.data(), next.size(), at};
        }
        return true;
    }

    void Refill() {
        if (m_end - m_in >= 8) {
            m_bits |= LoadLittleEndian64(m_in) << m_count;
            m_in += (63 - m_count) >> 3;
            m_count |= 56;
            return;
        }
        while (m_count <= 56) {
            if (m_in == m_end) {
                if (NextPiece()) {
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

    // The bits of the stream taken so far.
    uint64_t ConsumedBits() const {
        const Piece &piece = m_recent[(m_pieceCount - 1) % kRecent];
        const uint64_t fed = piece.at + static_cast<uint64_t>(m_in - piece.data);
        return 8 * fed - (m_count - 8 * m_overrun);
    }

    // The end of libpng's read that holds byte `at`, one of the bytes last taken.
    uint64_t RecentReadEnd(uint64_t at) const {
        for (std::size_t i = m_pieceCount > kRecent ? m_pieceCount - kRecent : 0; i < m_pieceCount;
             ++i) {
            const Piece &p = m_recent[i % kRecent];
            if (at >= p.at && at - p.at < p.size) {
                return PieceReadEnd(p, at);
            }
        }
        return at + 1;
    }

    // The last pieces taken from the stream (where a byte still in the bit buffer came from).
    static constexpr std::size_t kRecent = 16;

    StreamPieces &m_pieces;
    StreamPieces *m_source = &m_pieces;
    const uint8_t *m_in = nullptr;
    const uint8_t *m_end = nullptr;
    uint64_t m_bits = 0;
    unsigned m_count = 0;
    std::size_t m_overrun = 0;  // zero bytes put in the bit buffer past the stream's end
    Piece m_recent[kRecent];
    std::size_t m_pieceCount = 0;
};

}  // namespace zav::inflate_codes
