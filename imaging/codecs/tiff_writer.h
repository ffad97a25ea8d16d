// Writes little-endian, uncompressed TIFF files: 8-bit gray (black is zero) or 8-bit RGB,
// interleaved, in strips of as many whole rows as fit in 8192 bytes, with a directory of exactly
// nine tags.
#pragma once

#include <memory>

#include "imaging/codecs/codec.h"

namespace zav {

std::unique_ptr<ImageWriter> NewTiffWriter();

// The rows of one strip for rows of `row_bytes` bytes: as many as fit in 8192 bytes, at least one,
// at most `height`.
uint32_t TiffRowsPerStrip(uint64_t row_bytes, uint32_t height);

}  // namespace zav
