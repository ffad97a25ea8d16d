// libtiff over a file held in memory or read through a source: a read-only client whose errors and
// warnings print nothing.
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav {

// Most bytes libtiff may allocate at once for one file.
inline constexpr tmsize_t kTiffMaxSingleAllocation = tmsize_t{1} << 30;

// The state behind one open file: held in memory, or read through a source when `source` is set.
// Must outlive the TIFF handle.
struct TiffMemoryFile {
    std::span<const uint8_t> bytes;
    FileSource *source = nullptr;
    // Small reads from a source are served from one read-ahead block.
    std::unique_ptr<uint8_t[]> ahead;
    uint64_t ahead_offset = 0;
    std::size_t ahead_size = 0;
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
