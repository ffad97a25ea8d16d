// A rectangle of whole pixels inside a buffer: where its rows start and how many bytes they hold.
#pragma once

#include <cstdint>

#include "imaging/buffer/image_record.h"

namespace zav {

struct PixelRegion {
    uint8_t *data = nullptr;  // first byte of the region's top row
    int64_t stride = 0;       // bytes from one row of the buffer to the next
    int32_t width = 0;        // pixels per row
    int32_t height = 0;       // rows
    int32_t pixelBytes = 0;   // bytes of one pixel, all channels

    int64_t RowBytes() const noexcept { return int64_t{width} * pixelBytes; }
    uint8_t *Row(int32_t y) const noexcept { return data + int64_t{y} * stride; }
    // One past the last byte of the region's bottom row (its pixels, not the padding after them).
    const uint8_t *End() const noexcept { return Row(height - 1) + RowBytes(); }
};

// The whole of a processable header's pixels.
PixelRegion WholeImage(const ImageHeader &header) noexcept;

// The rectangle (x, y, width, height) of a header; the caller keeps it inside the image.
PixelRegion SubRegion(const ImageHeader &header, int32_t x, int32_t y, int32_t width,
                      int32_t height) noexcept;

// True when the byte spans of the two regions share any byte (padding between rows included).
bool RegionsOverlap(const PixelRegion &a, const PixelRegion &b) noexcept;

}  // namespace zav
