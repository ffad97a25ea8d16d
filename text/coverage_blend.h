// Coverage blended into 8-bit buffers of 1, 3 or 4 channels, rounded exactly.
#pragma once

#include <cstdint>

#include "imaging/buffer/image_record.h"

namespace zav {

// A colour as one buffer takes it: the value of each channel and the opacity in 255ths.
struct BlendColour {
    uint8_t value[4] = {0, 0, 0, 255};  // blue, green, red, alpha (1 channel: luma in value[0])
    uint32_t opacity = 255;             // 0 to 255
};

// The colour 0xRRGGBB at opacity (0 to 1, rounded to 255ths) for a buffer of `channels` channels:
// gray buffers take the luma (0.299 R + 0.587 G + 0.114 B, rounded); the fourth channel of a
// four-channel buffer is alpha, and coverage is composited "over" it.
BlendColour MakeBlendColour(uint32_t rgb, float opacity, int32_t channels) noexcept;

// Whether the buffer can be drawn into: 8-bit unsigned, 1, 3 or 4 channels, data, size >= 1.
bool IsBlendable(const ImageHeader &image) noexcept;

// Each pixel of the width x rows coverage map (0 to 255, top row first) with its top-left corner
// at (x, y) that falls inside the image: every channel d becomes (v a + d (65025 - a)) / 65025
// rounded to nearest, a = coverage x opacity. Pixels outside the image are skipped.
// spans, when not null, gives per row (spans[4 r + 0], spans[4 r + 1]) the columns outside which
// the row's coverage is 0: only those are visited. Coverage has coverageChannels bytes a pixel:
// 1, or the image's channel count (each channel's copy, which blends fastest).
void BlendCoverage(const ImageHeader &image, int64_t x, int64_t y, const uint8_t *coverage,
                   int32_t width, int32_t rows, const BlendColour &colour,
                   const uint16_t *spans = nullptr, int32_t coverageChannels = 1) noexcept;

// The rectangle [x0, x1) x [y0, y1), clipped, blended at full coverage.
void BlendRectangle(const ImageHeader &image, int64_t x0, int64_t y0, int64_t x1, int64_t y1,
                    const BlendColour &colour) noexcept;

}  // namespace zav
