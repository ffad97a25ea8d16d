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

// The pieces of one zlib stream in order (a PNG's IDAT chunks, each a piece): an empty span after
// the last and never before it. Each piece stays readable until the stream is decoded.
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
// kCorrupt, with the buffer partly written, for a damaged stream (header, codes, distances), a
// filter byte above 4, fewer bytes than the rows, or a stream whose end libpng refuses (see
// CheckPngStreamEnd); bytes past the last row and after the stream's end are ignored. kNoMemory
// when the window could not be had (or the rows are too long for it).
CodecStatus InflatePngRows(StreamPieces &pieces, std::size_t width, std::size_t height,
                           unsigned channels, uint8_t *bgr, std::size_t step) noexcept;

// Whether a zlib stream that inflates to at least `inflatedBytes` (a picture's image data, every
// pass and filter byte; the last `lastRowBytes` of them its last stored row) ends as libpng
// requires, each piece being one IDAT chunk: kOk, or kCorrupt when the stream is damaged before
// those bytes are all out, or when libpng refuses its end:
// - the pieces run out before the stream's end (its last block and check value), unless the
//   first of libpng's reads (8192 bytes of a chunk) after the picture's is used up without
//   giving a byte;
// - damage, or a check value that does not match, met before any byte past the picture's and
//   within the read that held the picture's last bits.
// Damage after that, data past the picture's, and bytes after the stream's end are accepted.
CodecStatus CheckPngStreamEnd(StreamPieces &pieces, uint64_t inflatedBytes,
                              uint64_t lastRowBytes) noexcept;

}  // namespace zav
