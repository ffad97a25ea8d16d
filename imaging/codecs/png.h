// PNG files. The reader (libspng) takes every colour type and bit depth, interlaced or not:
// palette entries replace indices (their transparency is dropped), gray becomes three equal
// samples, alpha is dropped, and 16-bit samples come to 8 bits as netpbm scales them:
// (v * 255 + 32767) / 65535. A CRC that does not match (in any chunk) or a damaged stream is
// corrupt data; a file that ends before its end chunk is truncated. The writer writes 8-bit gray
// (1 channel) or 8-bit RGB (3 channels, from blue, green, red), not interlaced, compressed by our
// own deflate encoder for filtered rows (deflate_encoder.h) into the zlib stream every decoder
// reads.
// The image data of the commonest files (8-bit gray, RGB and their alpha forms, not interlaced) is
// inflated by libdeflate in one block, or above 64 MiB as it streams in (png_inflate.h), and
// unfiltered by the reader itself; libspng still reads the chunks before it, and decodes and
// judges any file that strays from the ordinary: both ways take the same files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav {

// The eight bytes every PNG file starts with.
inline constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

std::unique_ptr<ImageReader> NewPngReader(ReaderInput file);

// How the reader decodes the image data: the faster way where the file allows it, else libspng
// (what NewPngReader does); or one way only, for tests that compare the two. Forced to the faster
// way, a file it does not take (or any trouble on it) fails with kUnsupported instead of falling
// back to libspng.
enum class PngDecodeWay { kChoose, kDirectOnly, kLibspngOnly };
std::unique_ptr<ImageReader> NewPngReaderDecoding(ReaderInput file, PngDecodeWay way);
std::unique_ptr<ImageWriter> NewPngWriter();
// The writer through libdeflate at a level (0 to 12) instead, for measuring.
std::unique_ptr<ImageWriter> NewPngWriterAtLevel(int level);

}  // namespace zav
