// The image header: a record's geometry with the derived row stride and size, over some pixels.
#pragma once

#include <cstdint>

#include "zavimage/zavimage.h"

namespace zav {

// True for the eight depth codes a header accepts.
bool IsKnownDepth(int32_t depth) noexcept;

// Bits of one channel value (depth & 0x7FFFFFFF).
inline int32_t DepthBits(int32_t depth) noexcept {
    return depth & 0x7FFFFFFF;
}

// Row stride and buffer size for a geometry. The values are exact: they equal what 32-bit
// arithmetic gives whenever that does not overflow; a geometry whose stride or size does not fit
// in 32 bits is marked oversized (no real buffer can have it: the allocator stops at 2^30 bytes).
struct StrideAndSize {
    int64_t stride = 0;
    int64_t size = 0;
    bool oversized = false;
};
StrideAndSize ComputeStrideAndSize(int32_t width, int32_t height, int32_t depth,
                                   int32_t channels) noexcept;

// A temporary header over pixels. Built from a record it never owns them.
struct ImageHeader {
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;
    int32_t nChannels = 0;   // max(channels, 1) for a valid geometry, 0 for an empty header
    int64_t widthStep = 0;   // row stride in bytes
    int64_t imageSize = 0;   // widthStep * height
    bool oversized = false;  // stride or size beyond 32 bits (see StrideAndSize)
    uint8_t *imageData = nullptr;

    // A header made from invalid geometry is empty: every geometry field is 0.
    bool IsEmpty() const noexcept { return depth == 0; }

    // True when the header describes a buffer the pixel operations can work on: a depth they handle
    // (8U, 8S, 16S, 32S, 32F, 64F), 1 to 4 channels, width and height at least 1, non-null data.
    bool IsProcessable() const noexcept;

    // Bytes of one channel value; 0 for 1-bit buffers.
    int32_t ElementBytes() const noexcept { return DepthBits(depth) / 8; }

    uint8_t *Row(int32_t y) const noexcept {
        return imageData + static_cast<int64_t>(y) * widthStep;
    }
};

// Builds a header from the geometry (width, height, depth, channels) and stores `data` as its pixel
// address. Invalid geometry (negative width, height or channels, a depth outside the table) gives
// an empty header that still carries `data`.
ImageHeader WrapImageRecord(int32_t width, int32_t height, int32_t depth, int32_t channels,
                            uint8_t *data) noexcept;
ImageHeader WrapImageRecord(const ZAVImageStruct &record) noexcept;

// Overwrites all five fields of the record from a header.
void FillImageRecord(ZAVImageStruct *record, const ImageHeader &header) noexcept;

// A header together with a new, uncleared pixel block of its size from the aligned allocator.
// The block is null when it would exceed 2^30 bytes or the heap is exhausted.
ImageHeader CreateImage(int32_t width, int32_t height, int32_t depth, int32_t channels) noexcept;

// A new header with the same geometry and a new block holding a copy of imageSize bytes (row
// padding included). A source without data gives a clone without data, as does a failed allocation.
ImageHeader CloneImage(const ImageHeader &source) noexcept;

// Frees the header's pixel block (by its pixel address) and clears the address. False when the
// address was no live pixel block (nothing freed).
bool ReleaseImageData(ImageHeader *header) noexcept;

}  // namespace zav
