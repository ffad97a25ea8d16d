// PNG files through libspng. The reader takes every colour type and bit depth, interlaced or not:
// palette entries replace indices (their transparency is dropped), gray becomes three equal
// samples, alpha is dropped, and 16-bit samples come to 8 bits as netpbm scales them:
// (v * 255 + 32767) / 65535. A CRC that does not match (in any chunk) or a damaged stream is
// corrupt data; a file that ends before its end chunk is truncated. The writer writes 8-bit gray
// (1 channel) or 8-bit RGB (3 channels, from blue, green, red), not interlaced, compressed as
// described below.
// The image data of the commonest files (8-bit gray, RGB and their alpha forms, not interlaced) is
// inflated by libdeflate and unfiltered by the reader itself; libspng still reads the chunks before
// it, and decodes and judges any file that strays from the ordinary: both ways take the same files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav {

// The eight bytes every PNG file starts with.
inline constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// How the writer compresses: zlib level 1 with its default strategy, every row filtered by "up"
// (the difference to the row above). Trying every filter on every row, as libspng does by default,
// took twice as long for a file 10% larger on camera-like pictures; zlib's run-length strategy
// (OpenCV's default) made files 60% larger. See bench/bench_files.cpp.
inline constexpr int kPngCompressionLevel = 1;

std::unique_ptr<ImageReader> NewPngReader(std::span<const uint8_t> file);
std::unique_ptr<ImageWriter> NewPngWriter();

}  // namespace zav
