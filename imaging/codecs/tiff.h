// TIFF files (classic and BigTIFF). The reader takes the first image of a file through libtiff, in
// whatever compression, sample layout and photometric interpretation libtiff decodes; extra samples
// are dropped and colours kept as stored (never premultiplied by an alpha sample). The writer
// writes little-endian, uncompressed files: 8-bit gray (black is zero) or 8-bit RGB, interleaved,
// in strips of as many whole rows as fit in 8192 bytes, with a directory of exactly nine tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include <tiffio.h>

#include "imaging/codecs/codec.h"

namespace zav {

std::unique_ptr<ImageReader> NewTiffReader(ReaderInput file);
std::unique_ptr<ImageWriter> NewTiffWriter();

// The rows of one strip for rows of `row_bytes` bytes: as many as fit in 8192 bytes, at least one,
// at most `height`.
uint32_t TiffRowsPerStrip(uint64_t row_bytes, uint32_t height);

// Most bytes libtiff may allocate at once for one file.
inline constexpr tmsize_t kTiffMaxSingleAllocation = ZAV_MAX_BLOCK_BYTES;

// libtiff over a file held in memory or read through a source: a read-only client whose errors and
// warnings print nothing. The state behind one open file: held in memory, or read through a source
// when `source` is set. Must outlive the TIFF handle.
struct TiffMemoryFile {
    std::span<const uint8_t> bytes;
    ByteSource *source = nullptr;
    // Small reads from a source are served from one read-ahead block.
    std::unique_ptr<uint8_t[]> ahead;
    uint64_t aheadOffset = 0;
    std::size_t aheadSize = 0;
    uint64_t position = 0;
    int errors = 0;  // errors libtiff reported (silently) on this handle

    uint64_t Size() const { return source != nullptr ? source->Size() : bytes.size(); }
    // Copies exactly `size` bytes from `offset`; false when the file does not hold them.
    bool Copy(uint64_t offset, void *dst, std::size_t size) const;
};

// Opens the first directory of the file for reading, with per-handle error and warning handlers
// that only count, and libtiff's single-allocation limit set. Null when libtiff refuses the file.
TIFF *OpenTiffInMemory(TiffMemoryFile *file);

}  // namespace zav
