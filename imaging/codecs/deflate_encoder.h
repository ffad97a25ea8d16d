// A fast deflate encoder for filtered image rows, writing one zlib stream any decoder reads. It
// looks for runs only: a byte repeating the byte one before it, or `pixelBytes` before it (a
// filtered picture's flat areas and repeated pixels), at no cost per byte beyond a few vector
// compares, and codes literals and runs with Huffman codes built for each block from its own
// counts (or stores the block when that is smaller), a block of at most 128 KiB at a time.
// Pieces of the stream are fed in order; the compressed bytes are taken out between pieces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zav {

// Bytes before a piece that must hold the end of the previous piece (any value for the first) and
// bytes after its end that must be readable (of any value).
inline constexpr std::size_t kDeflateHistory = 16;
inline constexpr std::size_t kDeflateTail = 32;

class RowDeflater {
  public:
    RowDeflater() = default;
    RowDeflater(const RowDeflater &) = delete;
    RowDeflater &operator=(const RowDeflater &) = delete;
    ~RowDeflater();

    // Pieces of at most `maxPiece` bytes (at most 2^31), runs at distance 1 and `pixelBytes` (1
    // to 4). False when memory for the scratch tables and the output could not be had.
    bool Init(std::size_t maxPiece, unsigned pixelBytes) noexcept;

    // Compresses the next `size` bytes of the stream (at most the Init's `maxPiece`), the last
    // when `last`. The output of the previous pieces must have been taken (Take) first.
    void Compress(const uint8_t *data, std::size_t size, bool last) noexcept;

    // The compressed bytes made since the last Take: the whole stream once the last piece went
    // in. Take empties it.
    const uint8_t *Output() const noexcept { return m_out; }
    std::size_t OutputBytes() const noexcept { return static_cast<std::size_t>(m_at - m_out); }
    void Take() noexcept;

  private:
    struct Run;
    void CompressBlock(const uint8_t *data, std::size_t size, bool last) noexcept;
    void Put(uint64_t bits, unsigned count) noexcept;
    void Flush() noexcept;
    void AlignToByte() noexcept;

    unsigned m_pixelBytes = 1;
    std::size_t m_maxPiece = 0;
    bool m_started = false;
    bool m_seenData = false;  // whether history bytes before a piece are real
    uint32_t m_adler = 1;
    Run *m_runs = nullptr;  // the runs of a block and the literals before each
    uint8_t *m_out = nullptr;
    uint8_t *m_at = nullptr;
    std::size_t m_outCapacity = 0;
    uint64_t m_bits = 0;  // bits not yet stored, the first in the lowest bit
    unsigned m_bitCount = 0;
};

}  // namespace zav
