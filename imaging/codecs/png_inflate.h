// Large PNG pictures decoded as their image data streams in: the zlib stream is inflated into a
// window of a megabyte or so and each row, as soon as it is whole, is unfiltered and written to
// the caller's buffer as BGR. Beside the picture itself only the window and two rows are held,
// however large the picture (libdeflate, which the reader uses for smaller pictures, needs the
// whole inflated stream in one block).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zav {

// The pieces of one zlib stream in order (a PNG's IDAT chunks): an empty span after the last and
// never before it.
class StreamPieces {
  public:
    virtual ~StreamPieces() = default;
    virtual std::span<const uint8_t> Next() = 0;
};

// The longest stored row (filter byte included) the streaming decoder takes.
inline constexpr std::size_t kMaxStreamedRow = std::size_t{16} << 20;

// Inflates the image data of an 8-bit gray (`channels` 1) or RGB (3) picture that is not
// interlaced, `width` x `height` (each stored row at most kMaxStreamedRow bytes), into `bgr`:
// rows of width * 3 bytes, `step` apart. False, with the buffer partly written, when anything is
// wrong: a damaged stream (header, codes, distances, check value), too few or too many bytes, data
// after the stream's end, a filter byte above 4, or no memory for the window.
bool InflatePngRows(StreamPieces &pieces, std::size_t width, std::size_t height, unsigned channels,
                    uint8_t *bgr, std::size_t step) noexcept;

}  // namespace zav
