// Nearest-neighbour scaling and the transfer of one region into another. A destination index d
// takes the source index nearest to d * srcSize / dstSize, exact halves rounded down, kept below
// srcSize.
#pragma once

#include <cstdint>

#include "imaging/buffer/pixel_region.h"
#include "zavimage/zavimage.h"

namespace zav {

// (2 * d * srcSize + dstSize - 1) / (2 * dstSize), lowered by one when it passes srcSize - 1.
// Needs srcSize >= 1, dstSize >= 1 and 0 <= d < dstSize.
int32_t NearestSourceIndex(int32_t d, int32_t srcSize, int32_t dstSize) noexcept;

// Walks NearestSourceIndex for d = 0, 1, 2, ... without dividing per step.
class NearestIndexSteps {
  public:
    NearestIndexSteps(int32_t srcSize, int32_t dstSize) noexcept;
    // The index for the current d; then moves on to d + 1.
    int32_t Next() noexcept;

  private:
    uint64_t m_quotient;
    uint64_t m_remainder;
    uint64_t m_wholeStep;
    uint64_t m_partStep;
    uint64_t m_divisor;
    int32_t m_last;
};

// Scales src into dst by the rule above. The two regions have the same pixel size (1 to 32 bytes),
// widths and heights of at least 1, and share no byte. Writes only the pixel bytes of dst's rows,
// never the padding after them. False, with nothing written, when the arguments break these rules
// or the column table cannot be allocated.
bool NearestResize(const PixelRegion &src, const PixelRegion &dst) noexcept;

// Copies (equal sizes) or scales by NearestResize (different sizes) src into dst; both have the
// same pixel size and widths and heights of at least 1. Only the pixel bytes of dst's rows are
// written. Regions that overlap behave as if src were read whole before dst is written. False,
// with nothing written, when a temporary copy for overlapping regions cannot be allocated.
bool TransferRegion(const PixelRegion &src, const PixelRegion &dst) noexcept;

// Scales the whole first buffer into the whole second one (same depth and channels, nearest
// neighbour); returns 0.
int32_t ResizeImageRecord(const ZAVImageStruct *imageStruct,
                          const ZAVImageStruct *videoImageStruct);

}  // namespace zav
