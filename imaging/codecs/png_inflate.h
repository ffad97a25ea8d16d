// Large PNG pictures decoded as their image data streams in: the zlib stream is inflated into a
// window of a megabyte or so and each row, as soon as it is whole, is unfiltered and written to
// the caller's buffer as BGR. Beside the picture itself only the window and two rows are held,
// however large the picture (libdeflate, which the reader uses for smaller pictures, needs the
// whole inflated stream in one block).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/codecs/codec.h"

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

// Inflates the image data of an 8-bit picture that is not interlaced, of `channels` samples a
// pixel (1 gray, 2 gray and alpha, 3 RGB, 4 RGBA; alpha is dropped), `width` x `height` (each
// stored row at most kMaxStreamedRow bytes), into `bgr`: rows of width * 3 bytes, `step` apart.
// kCorrupt, with the buffer partly written, for a damaged stream (header, codes, distances, check
// value), a filter byte above 4, or fewer bytes than the rows; bytes past the last row and after
// the stream's end are ignored. kNoMemory when the window could not be had (or the rows are too
// long for it).
CodecStatus InflatePngRows(StreamPieces &pieces, std::size_t width, std::size_t height,
                           unsigned channels, uint8_t *bgr, std::size_t step) noexcept;

}  // namespace zav
