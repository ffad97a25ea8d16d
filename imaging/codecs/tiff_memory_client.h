// libtiff over a file held in memory: a read-only client whose errors and warnings print nothing.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <span>

namespace zav {

// Most bytes libtiff may allocate at once for one file.
inline constexpr tmsize_t kTiffMaxSingleAllocation = tmsize_t{1} << 30;

// The state behind one open file. Must outlive the TIFF handle.
struct TiffMemoryFile {
    std::span<const uint8_t> bytes;
    uint64_t position = 0;
    int errors = 0;  // errors libtiff reported (silently) on this handle
};

// Opens the first directory of the file for reading, with per-handle error and warning handlers
// that only count, and libtiff's single-allocation limit set. Null when libtiff refuses the file.
TIFF *OpenTiffInMemory(TiffMemoryFile *file);

}  // namespace zav
