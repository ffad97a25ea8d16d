// Fuzzes the streaming PNG decoder (png_inflate.h) directly, which the PNG reader takes only for
// pictures above 64 MiB of image data. The first four bytes choose the width (1 to 256), the
// height (1 to 256), the samples a pixel (1 to 4) and the length of the pieces the stream comes in
// (1 to 256); the rest is the zlib stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/codecs/png_inflate.h"

namespace {

class Pieces final : public zav::StreamPieces {
  public:
    Pieces(const uint8_t *data, std::size_t size, std::size_t piece)
        : m_data(data), m_size(size), m_piece(piece) {}
    std::span<const uint8_t> Next() override {
        const std::size_t n = std::min(m_piece, m_size - m_at);
        const std::span<const uint8_t> s(m_data + m_at, n);
        m_at += n;
        return s;
    }

  private:
    const uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_piece;
    std::size_t m_at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::size_t width = std::size_t{data[0]} + 1;
    const std::size_t height = std::size_t{data[1]} + 1;
    const unsigned channels = data[2] % 4 + 1;
    const std::size_t piece = std::size_t{data[3]} + 1;
    // Each row exactly as long as the buffer's rows, so that a write past a row is seen.
    std::vector<uint8_t> bgr(width * 3 * height);
    Pieces pieces(data + 4, size - 4, piece);
    zav::InflatePngRows(pieces, width, height, channels, bgr.data(), width * 3);
    return 0;
}
